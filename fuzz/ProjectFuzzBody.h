#pragma once
// What the project-file fuzz target and its corpus test do with one file:
// read it as the Load command does, apply its lines, then save what was
// loaded and load that again. A refused file (an EError) is a correct answer;
// a saved project that does not load back as it was is a fault.
#include <string>
#include <utility>
#include <vector>

#include "project/U_ProjectFile.h"
#include "support/Errors.h"

namespace sdm::fuzz {

struct TProjectRun {
  bool read = false;
  std::string refusal;  // the error text when the file was refused
  size_t pictures = 0;
  std::vector<std::string> faults;
};

namespace detail {

// A project as the load actions receive it; pictures split as AddPicture
// splits them, the caption defaulting to the file name.
struct TLoadedProject {
  bool greyscale = false, sepia = false;
  std::string sound, output;
  std::vector<std::pair<std::string, std::string>> pictures;
  bool operator==(const TLoadedProject&) const = default;
};

inline TLoadedProject Apply(const std::vector<std::string>& lines) {
  TLoadedProject p;
  TProjectLoadActions actions;
  actions.SetSoundtrack = [&p](const std::string& path) { p.sound = path; };
  actions.ClearPictures = [&p] { p.pictures.clear(); };
  actions.AddFiles = [&p](const std::vector<std::string>& entries) {
    for (const std::string& e : entries) {
      const size_t tab = e.find('\t');
      const std::string path = e.substr(0, tab);
      const size_t slash = path.find_last_of('/');
      const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
      p.pictures.emplace_back(path, tab == std::string::npos ? name : e.substr(tab + 1));
    }
  };
  ApplyProjectLines(
      lines, actions,
      [&p](bool grey, bool sepia) {
        p.greyscale = grey;
        p.sepia = sepia;
      },
      [&p](const std::string& out) { p.output = out; });
  return p;
}

}  // namespace detail

// Reads path, applies it, saves the result to scratch and reads that back.
inline TProjectRun RunProjectFile(const std::string& path, const std::string& scratch) {
  TProjectRun run;
  std::vector<std::string> lines;
  try {
    lines = ReadProjectLines(path);
  } catch (const EError& e) {
    run.refusal = e.what();
    if (run.refusal.empty()) run.faults.push_back("a refusal without a text");
    return run;
  }
  run.read = true;
  for (const std::string& l : lines)
    if (l.find_first_of("\r\n") != std::string::npos) run.faults.push_back("a line holds a line break");
  const detail::TLoadedProject first = detail::Apply(lines);
  run.pictures = first.pictures.size();
  if (first.greyscale && first.sepia) run.faults.push_back("both colour effects on");

  TProjectFileData data;
  data.Greyscale = first.greyscale;
  data.Sepia = first.sepia;
  data.SoundPath = first.sound;
  data.OutputPath = first.output;
  for (const auto& [picture, caption] : first.pictures) {
    data.Pictures.push_back(picture);
    data.Captions.push_back(caption);
  }
  try {
    WriteProjectLines(scratch, ProjectLines(data));
    const detail::TLoadedProject second = detail::Apply(ReadProjectLines(scratch));
    // A first picture whose path begins with ';' reads as a header line once
    // saved after the header; the format has no way to write it otherwise.
    const bool representable = first.pictures.empty() || first.pictures[0].first.rfind(';', 0) != 0;
    if (representable && !(second == first)) run.faults.push_back("the saved project loads back differently");
  } catch (const EError& e) {
    run.faults.push_back(std::string("saving or reloading failed: ") + e.what());
  }
  return run;
}

}  // namespace sdm::fuzz
