#pragma once
// An output file written under a temporary name in the target's own folder
// (so the rename is atomic and on the same file system), renamed over the
// target only by Commit. Until then an earlier file of that name stays as it
// was: a failure, a cancel before completion, a crash or a kill never
// destroys it. The destructor removes the temporary file unless committed.
//
// The temporary name is hidden and unique ("<folder>/.<name>.<random>.part"),
// so two programs writing the same output never write into one file: each
// renames its own complete file, and the last one to finish is what stays.
#include <string>

namespace sdm {

class TPendingFile {
public:
  explicit TPendingFile(std::string target);  // chooses the name; creates nothing
  ~TPendingFile();                            // unlinks the temporary file unless committed
  TPendingFile(const TPendingFile&) = delete;
  TPendingFile& operator=(const TPendingFile&) = delete;

  const std::string& Target() const { return target_; }
  const std::string& TempPath() const { return temp_; }
  // Creates the temporary file empty and exclusively (a name taken meanwhile
  // is replaced by a fresh one), so it is ours; for writers that open the
  // file themselves without O_EXCL. False with the system's reason in why.
  bool Reserve(std::string& why);
  // Opens (creating it exclusively when Reserve has not) the temporary file
  // for writing, truncated; the descriptor or -1 with the reason in why. The
  // caller closes it.
  int OpenForWriting(std::string& why);
  // fsyncs the file and renames it over the target (then fsyncs the folder);
  // false with the system's reason in `why` when it cannot. An earlier file
  // at the target keeps its permission bits on the new one.
  bool Commit(std::string& why);
  void Discard();  // removes the temporary file now
  bool Committed() const { return committed_; }

private:
  void ChooseName();

  std::string target_;
  std::string temp_;
  bool committed_ = false;
  bool reserved_ = false;
};

}  // namespace sdm
