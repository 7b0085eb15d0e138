// tags: reads, writes or removes the tags of an audio file (ID3v1 = 1, ID3v2
// = 2, APEv2 = 4, Vorbis comments = 8) through the reader of its kind, or,
// for a file of no known kind, through the ID3 and APE tag classes.
#include <algorithm>
#include <cctype>
#include <iostream>
#include <memory>
#include <vector>

#include "Cli.h"
#include "audio/U_AudioFile.h"
#include "audio/tags/U_ApeTag.h"
#include "audio/tags/U_ID3.h"

namespace {

// A file of no known kind, seen only through its ID3 and APE tags.
class TTagFile : public sdm::TAbstractAudioFile {
public:
  explicit TTagFile(const std::string& name) : TAbstractAudioFile(name) {
    sdm::TId3V1Tag v1;
    sdm::TId3V2Tag v2;
    sdm::TAPEV2Tag ape;
    bool has1 = v1.ReadFromFile(name) && v1.Present;
    bool has2 = v2.ReadFromFile(name) && v2.Present;
    bool hasApe = ape.ReadFromFile(name);
    TagKinds = (has1 ? 1u : 0u) | (has2 ? 2u : 0u) | (hasApe ? 4u : 0u);
    if (has2) Id3v2Size = v2.TotalSize;
    // The readers' choice of the one list to show.
    if (hasApe && !sdm::FindTagValue(ape.Values, "artist").empty())
      Tags = ape.Values;
    else if (has2)
      Tags = v2.Values;
    else if (has1)
      Tags = v1.Values;
    else if (hasApe)
      Tags = ape.Values;
  }
  bool ReadPcm(void*, int32_t& count) override {
    count = 0;
    return false;
  }
};

// The file's reader when its name picks one (its tags as the reader reads
// and writes them: Vorbis comments of Ogg files, WMA attributes, ...), else
// the plain tag view.
class TTagView {
public:
  explicit TTagView(const std::string& name) {
    audio_.SetFileName(name);
    if (audio_.Open()) {
      file_ = audio_.Reader.get();
    } else {
      plain_ = std::make_unique<TTagFile>(name);
      file_ = plain_.get();
    }
  }
  sdm::TAbstractAudioFile& operator*() { return *file_; }
  sdm::TAbstractAudioFile* operator->() { return file_; }

private:
  sdm::TAudioFile audio_;
  std::unique_ptr<TTagFile> plain_;
  sdm::TAbstractAudioFile* file_ = nullptr;
};

void SetValue(sdm::TTagLines& tags, const std::string& assignment) {
  auto eq = assignment.find('=');
  if (eq == std::string::npos || eq == 0) throw sdm::cli::UsageError{"--set expects NAME=VALUE"};
  std::string name = assignment.substr(0, eq);
  bool found = false;
  for (auto it = tags.begin(); it != tags.end();) {
    auto e = it->find('=');
    bool same = e != std::string::npos && e == name.size() &&
                std::equal(name.begin(), name.end(), it->begin(), [](char a, char b) {
                  return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
                });
    if (!same) {
      ++it;
    } else if (!found) {
      *it++ = assignment;
      found = true;
    } else {
      it = tags.erase(it);  // one value per name after an explicit --set
    }
  }
  if (!found) tags.push_back(assignment);
}

uint32_t ParseKinds(const std::string& text) {
  long long v = sdm::cli::ParseInt(text, "KINDS");
  if (v < 0 || v > 15) throw sdm::cli::UsageError{"KINDS must be a bit set from 0 to 15"};
  return static_cast<uint32_t>(v);
}

int RunTags(const sdm::cli::Args& args) {
  std::string file;
  std::vector<std::string> sets;
  uint32_t writeKinds = 0, removeKinds = 0;
  bool write = false, remove = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&]() -> const std::string& {
      if (i + 1 >= args.size()) throw sdm::cli::UsageError{a + " needs a value"};
      return args[++i];
    };
    if (a == "--set") {
      sets.push_back(value());
    } else if (a == "--write") {
      writeKinds = ParseKinds(value());
      write = true;
    } else if (a == "--remove") {
      removeKinds = ParseKinds(value());
      remove = true;
    } else if (a.size() > 2 && a.compare(0, 2, "--") == 0) {
      throw sdm::cli::UsageError{"unknown option \"" + a + "\""};
    } else if (file.empty()) {
      file = a;
    } else {
      throw sdm::cli::UsageError{"expected one FILE"};
    }
  }
  if (file.empty()) throw sdm::cli::UsageError{"expected FILE"};
  {
    TTagView tags(file);
    for (const auto& s : sets) SetValue(tags->Tags, s);
    // The cause follows, when the writer knows it: a kind the format does
    // not carry, a damaged page it would lose.
    auto failed = [&](const char* what) {
      const std::string& why = tags->TagProblem;
      return sdm::EError(std::string(what) + file + (why.empty() ? "" : ": " + why));
    };
    if (remove && !tags->RemoveTags(removeKinds)) throw failed("Removing the tags failed: ");
    if (write && !tags->WriteTags(writeKinds)) throw failed("Writing the tags failed: ");
    if (!remove && !write) {
      std::cout << "tagkinds: " << tags->TagKinds << "\n";
      for (const auto& line : tags->Tags) std::cout << line << "\n";
      return 0;
    }
  }
  // What the file holds now, read afresh.
  TTagView after(file);
  std::cout << "tagkinds: " << after->TagKinds << "\n";
  for (const auto& line : after->Tags) std::cout << line << "\n";
  return 0;
}

}  // namespace

SDM_CLI_COMMAND("tags", "tags FILE [--set NAME=VALUE]... [--write KINDS] [--remove KINDS]",
                "Reads, writes or removes the tags of an audio file (KINDS: 1 ID3v1, 2 ID3v2, 4 APEv2, 8 Vorbis)",
                RunTags,
                R"(  FILE              the sound file
  --set NAME=VALUE  set a tag (one value per name); may be repeated
  --write KINDS     write the tags in these kinds (a sum of 1 ID3v1, 2 ID3v2,
                    4 APEv2, 8 Vorbis comments)
  --remove KINDS    remove the tags of these kinds

Without --write or --remove the tags are printed: "tagkinds: N", then one
NAME=VALUE a line; with them, what the file holds afterwards.)");
