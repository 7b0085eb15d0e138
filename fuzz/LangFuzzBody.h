#pragma once
// What the language-file fuzz target and its corpus test do with one file:
// walk the record store every way a reader can (forward, back, by index,
// partial reads), read it as the language list's scan does, apply it to an
// in-memory program as a language switch does, and turn it into text as
// slidomat-spk does. A refused file is a correct answer; a broken promise of
// the store (a read past the file, a walk that does not end, a size larger
// than the file) is collected as a fault.
#include <sys/stat.h>

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "../tests/localization/FakeComponents.h"
#include "localization/LangSource.h"
#include "localization/LanguageRecord.h"
#include "localization/StoreFile.h"
#include "localization/TextStorage.h"
#include "support/Errors.h"

namespace sdm::fuzz {

struct TLangRun {
  bool opened = false;
  bool applied = false;
  std::string refusal;  // the error text when applying refused the file
  std::vector<std::string> faults;
};

namespace detail {

inline void WalkStore(TStorefile& s, int64_t fileSize, TLangRun& run) {
  // Every record takes at least 12 bytes, so no walk may take more steps.
  const int64_t maxSteps = fileSize / 12 + 2;
  int64_t steps = 0;
  for (s.First(); !s.AtEnd(); s.Next()) {
    if (++steps > maxSteps) {
      run.faults.push_back("a forward walk does not end");
      return;
    }
    const int32_t size = s.DataSize();
    if (size < 0 || size > fileSize) run.faults.push_back("a payload larger than the file");
    // A partial read copies exactly what was asked, into a buffer that size.
    std::vector<uint8_t> part(3);
    int32_t n = 3;
    s.ReadData(part.data(), n, false);
    if (n > 3 || n > size) run.faults.push_back("ReadData copied more than asked");
  }
  const int32_t index = s.RecordIndex();
  s.Last();
  for (steps = 0; s.RecordIndex() > 0 && steps <= maxSteps; ++steps) {
    const int32_t before = s.RecordIndex();
    s.Prior();
    if (s.RecordIndex() == before) break;  // no valid record behind: stays
  }
  if (steps > maxSteps) run.faults.push_back("a backward walk does not end");
  s.GoTo(index / 2);
  s.GoTo(0x7FFFFFFF);
  std::string text;
  s.ReadString(text, true);
  if (int64_t(text.size()) > fileSize) run.faults.push_back("a string larger than the file");
}

// The scan's reading: records 0 to 3 and the version.
inline void ReadLikeTheScan(TStorefile& s) {
  s.First();
  int32_t v = 0;
  std::string t;
  s.ReadInteger(v, true);
  for (int i = 0; i < 3; ++i) s.ReadString(t, true);
  s.Next();
  s.Next();
  s.ReadInteger(v, true);
}

}  // namespace detail

inline TLangRun RunLangFile(const std::string& path) {
  TLangRun run;
  struct stat st {};
  const int64_t fileSize = ::stat(path.c_str(), &st) == 0 ? int64_t(st.st_size) : 0;
  {
    TStorefile s;
    s.SetSignature(kLanguageSignature);
    s.SetFilename(path);
    s.SetReadOnly(true);
    run.opened = s.OpenExisting();
    if (run.opened) {
      detail::WalkStore(s, fileSize, run);
      detail::ReadLikeTheScan(s);
    }
  }
  // Applied to a program whose controls refuse properties they lack: a
  // language file must never set one.
  test::TFakeProgram prog;
  TTextStorage ts("main_ts", MainTextStorageLines());
  prog.main->AddChild(std::make_shared<TTextStorageComponent>(ts));
  TLanguageRecord rec(4, prog.root);
  try {
    run.applied = rec.LoadAndApply(path);
  } catch (const EError& e) {
    run.refusal = e.what();
  } catch (const std::exception& e) {
    run.faults.push_back(std::string("applying raised: ") + e.what());
  }
  if (ts.Items().size() != MainTextStorageLines().size()) run.faults.push_back("the text storage changed its length");
  try {
    FormatLangSource(ReadLanguageFile(path));
  } catch (const EError&) {
  }
  return run;
}

}  // namespace sdm::fuzz
