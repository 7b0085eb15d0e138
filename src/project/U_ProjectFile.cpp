#include "project/U_ProjectFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>

#include "platform/RegularFile.h"
#include "project/PictureFinder.h"
#include "project/U_SlideProject.h"
#include "support/Errors.h"

namespace sdm {

namespace {

// A project names pictures one per line; even a hundred thousand of them stay
// far below this. Anything larger is not a project, and reading it whole would
// only exhaust memory.
constexpr off_t kMaxProjectFileSize = 64 * 1024 * 1024;

std::string SystemMessage(int err) { return std::strerror(err); }

// "is a named pipe" -> "Is a named pipe", to read like the system's messages.
std::string Capitalised(std::string text) {
  if (!text.empty() && text[0] >= 'a' && text[0] <= 'z') text[0] = static_cast<char>(text[0] - 'a' + 'A');
  return text;
}

std::string FileNameOf(const std::string& path) {
  auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool WriteAll(int fd, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

std::vector<std::string> ProjectLines(const TProjectFileData& data) {
  std::vector<std::string> lines;
  if (data.Sepia) lines.push_back(";Effect=Sepia");
  if (data.Greyscale) lines.push_back(";Effect=GreyScale");
  lines.push_back(";Sound=" + data.SoundPath);
  lines.push_back(";Output=" + data.OutputPath);
  for (size_t i = 0; i < data.Pictures.size(); ++i) {
    std::string line = data.Pictures[i];
    const std::string caption = i < data.Captions.size() ? data.Captions[i] : FileNameOf(line);
    // A caption that is just the file name comes back by itself on load.
    if (caption != FileNameOf(data.Pictures[i])) line += "\t" + caption;
    lines.push_back(std::move(line));
  }
  return lines;
}

std::string ProjectFileName(const std::string& chosenName) {
  const std::string ext = std::filesystem::path(chosenName).extension().string();
  return ext == ".sdm" ? chosenName : chosenName + ".sdm";
}

void WriteProjectLines(const std::string& fileName, const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& l : lines) text += l + "\r\n";

  // Write beside the target and rename, so the old file survives any failure.
  std::random_device rd;
  std::string tmp;
  int fd = -1;
  for (int attempt = 0; attempt < 20 && fd < 0; ++attempt) {
    tmp = fileName + ".tmp" + std::to_string(rd() % 1000000);
    fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) throw EError("Cannot create file \"" + fileName + "\". " + SystemMessage(errno));
  bool ok = WriteAll(fd, text);
  int err = ok ? 0 : errno;
  if (::close(fd) != 0 && ok) {
    ok = false;
    err = errno;
  }
  if (ok && ::rename(tmp.c_str(), fileName.c_str()) != 0) {
    ok = false;
    err = errno;
  }
  if (!ok) {
    ::unlink(tmp.c_str());
    throw EError("Cannot create file \"" + fileName + "\". " + SystemMessage(err));
  }
}

std::vector<std::string> ReadProjectLines(const std::string& fileName) {
  // A named pipe or a device named like a project would block or never end.
  std::string problem;
  int fd = OpenRegularFileForReading(fileName, problem);
  if (fd < 0) throw EError("Cannot open file \"" + fileName + "\". " + Capitalised(problem));
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    int err = errno;
    ::close(fd);
    throw EError("Cannot open file \"" + fileName + "\". " + SystemMessage(err));
  }
  if (st.st_size > kMaxProjectFileSize) {
    ::close(fd);
    throw EError("Cannot open file \"" + fileName + "\". " + SystemMessage(EFBIG));
  }
  std::string text;
  text.reserve(static_cast<size_t>(st.st_size));
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      int err = errno;
      ::close(fd);
      throw EError("Cannot read file \"" + fileName + "\". " + SystemMessage(err));
    }
    if (n == 0) break;
    text.append(buf, static_cast<size_t>(n));
    // The file may grow while we read it; the size limit holds all the same.
    if (text.size() > static_cast<size_t>(kMaxProjectFileSize)) {
      ::close(fd);
      throw EError("Cannot open file \"" + fileName + "\". " + SystemMessage(EFBIG));
    }
  }
  ::close(fd);

  std::vector<std::string> lines;
  size_t start = 0;
  const size_t n = text.size();
  while (start < n) {
    size_t end = start;
    while (end < n && text[end] != '\r' && text[end] != '\n') ++end;
    lines.push_back(text.substr(start, end - start));
    if (end < n && text[end] == '\r' && end + 1 < n && text[end + 1] == '\n')
      start = end + 2;
    else
      start = end + 1;
  }
  return lines;
}

void ApplyProjectLines(std::vector<std::string> lines, const TProjectLoadActions& actions,
                       const std::function<void(bool, bool)>& setEffects,
                       const std::function<void(const std::string&)>& setOutput) {
  size_t first = 0;
  // The header is the run of lines at the top that begin with ";"; an empty
  // line ends it like any picture line.
  for (; first < lines.size() && !lines[first].empty() && lines[first][0] == ';'; ++first) {
    const std::string& line = lines[first];
    if (line.rfind(";Output=", 0) == 0) {
      setOutput(line.substr(8));
    } else if (line.rfind(";Sound=", 0) == 0) {
      if (actions.SetSoundtrack) actions.SetSoundtrack(line.substr(7));
    } else if (line.rfind(";Effect=", 0) == 0) {
      const std::string v = line.substr(8);
      setEffects(v == "GreyScale", v == "Sepia");
    }
    // Other header lines are comments to us.
  }
  lines.erase(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(first));
  if (actions.ClearPictures) actions.ClearPictures();
  if (actions.AddFiles) actions.AddFiles(lines);
}

std::string SaveProject(TSlideProject& project, const std::string& chosenName) {
  TProjectFileData data;
  data.Greyscale = project.Greyscale();
  data.Sepia = project.Sepia();
  data.SoundPath = project.SoundPath();
  data.OutputPath = project.OutputPath();
  data.Pictures = project.PictureList().Items();
  data.Captions = project.CaptionList().Items();
  const std::string fileName = ProjectFileName(chosenName);
  WriteProjectLines(fileName, ProjectLines(data));
  project.SetProjectFile(fileName);
  return fileName;
}

namespace {

// The picture lines whose pictures cannot be added (missing, or of a kind we
// do not read), as the lines name them.
std::vector<std::string> LeftOut(const std::vector<std::string>& lines) {
  std::vector<std::string> paths;
  size_t i = 0;
  while (i < lines.size() && !lines[i].empty() && lines[i][0] == ';') ++i;
  for (; i < lines.size(); ++i) {
    const std::string path = lines[i].substr(0, lines[i].find('\t'));
    std::error_code ec;
    const bool folder = lines[i].find('\t') == std::string::npos && std::filesystem::is_directory(path, ec);
    if (!folder && CheckPicture(path) != TAddPictureResult::Added) paths.push_back(path);
  }
  return paths;
}

}  // namespace

void LoadProject(TSlideProject& project, const std::string& fileName, const TProjectLoadActions& actions) {
  // Read first: a file that cannot be read leaves the project as it was.
  std::vector<std::string> lines = ReadProjectLines(fileName);
  // Pictures that moved with the project (or were copied with it to another
  // place) are found beside it.
  RelinkMovedPictures(lines, fileName, [&project](const std::string& line) {
    if (project.Log) project.Log(line, 1);
  });
  std::vector<std::string> leftOut = LeftOut(lines);
  project.SetProjectFile(fileName);
  TProjectLoadActions a = actions;
  if (!a.ClearPictures) a.ClearPictures = [&project] { project.ClearPictures(); };
  if (!a.AddFiles) a.AddFiles = [&project](const std::vector<std::string>& l) { project.AddFiles(l); };
  ApplyProjectLines(
      std::move(lines), a, [&project](bool grey, bool sepia) { project.SetEffects(grey, sepia); },
      [&project](const std::string& out) { project.SetOutputPath(out); });
  project.SetLeftOutPictures(std::move(leftOut));
}

}  // namespace sdm
