#pragma once
// TSlideProject: everything the user has set up for one video (pictures and
// captions, soundtrack, output, options) with the rules that tie the options
// together, and TJobSettings, the record one encoding job is started from.
// Plain data without a window: the main window binds each field to a control,
// the command line and the tests drive it directly.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "avi/OutputKind.h"
#include "frames/FrameOptions.h"
#include "support/StringList.h"

namespace sdm {

class IUserInteraction;

// The remembered "Picture scaling" setting. Automatic fits Smooth for MP4 and
// WebM and Sharp for AVI, so that every AVI stays pixel for pixel what it
// always was.
enum class TPictureScaling { Automatic, Sharp, Smooth };
// "auto", "sharp", "smooth": the settings value and the command line's word.
const char* ScalingWord(TPictureScaling scaling);
// Automatic for anything else.
TPictureScaling ScalingFromWord(const std::string& word);
// The fit a job of that kind gets.
TFitFilter ResolveScaling(TPictureScaling scaling, TOutputKind kind);

// The record of one encoding job, made by the Go command from the project.
struct TJobSettings {
  int32_t Width = 640;
  int32_t Height = 480;
  int32_t FramesPerSecond = 15;
  int32_t FramePeriod = 66;  // milliseconds, 1000 div FramesPerSecond
  int32_t MsPerPicture = 3000;
  std::string FourCC;  // up to 4 characters, empty without a codec
  std::string OutputPath;
  TOutputKind Kind = TOutputKind::Unknown;  // by the output path's extension
  TFrameOptions Options;
  // The project's own lists, shared and not copied: the window keeps every
  // control that edits them disabled while the job runs.
  const TStringList* Pictures = nullptr;
  const TStringList* Captions = nullptr;
};

// Outcome of adding one picture.
enum class TAddPictureResult { Added, NotFound, NotSupported };

// Width and height from a resolution text such as "720x576": the integers
// before and after the first "x"; a part that is not an integer keeps its
// default, 640 or 480, and a text without "x" gives 640 × 480.
void ParseResolution(const std::string& text, int32_t& width, int32_t& height);

// The file name of a path: the part after the last '/', extension kept.
std::string PictureFileName(const std::string& path);

// True when the path ends in the extension of a picture kind we read
// (".jpg", ".png", ".heic", ... in any case).
bool IsSupportedPictureName(const std::string& path);

// Whether a picture could be added from path: Added when it is a file with a
// picture's name, else NotFound (no such file, or a folder) or NotSupported.
TAddPictureResult CheckPicture(const std::string& path);

class TSlideProject {
public:
  static constexpr int32_t kMinMsPerPicture = 100;
  static constexpr int32_t kMaxMsPerPicture = 60000;
  static constexpr int32_t kMsPerPictureStep = 100;
  static constexpr int32_t kMinFramesPerSecond = 1;
  static constexpr int32_t kMaxFramesPerSecond = 60;
  static constexpr int kMaxTypedCaptionLength = 50;    // the Organize dialog's edit field
  static constexpr int32_t kMinFramesPerPicture = 30;  // below this the visual options cannot work

  static const char* const kBudgetMessage;
  static const char* const kMatchAudioMessage;

  // The frame sizes offered, in the order of the list: the four classic
  // ones, then the HD sizes.
  static const std::vector<std::string>& Resolutions();
  // What New chooses, by name.
  static constexpr const char* kDefaultResolution = "720x480";
  // The largest frame of an MP4 or WebM given as width and height.
  static constexpr int32_t kMaxContainerWidth = 3840;
  static constexpr int32_t kMaxContainerHeight = 2160;

  // A project in the state New leaves it in.
  TSlideProject();
  TSlideProject(const TSlideProject&) = delete;
  TSlideProject& operator=(const TSlideProject&) = delete;

  // Hooks to the rest of the program. Translator turns an English message into
  // the current language (identity until the text storage is plugged in).
  // Log receives the lines of AddPicture/AddFiles with their level (1 Info,
  // 2 Error). Interaction is where messages go (null: the process-wide one).
  std::function<std::string(const std::string&)> Translator = [](const std::string& s) { return s; };
  std::function<void(const std::string& message, int level)> Log;
  IUserInteraction* Interaction = nullptr;

  // --- The two lists, index-aligned: change them only through these methods.
  const TStringList& PictureList() const { return pictures_; }
  const TStringList& CaptionList() const { return captions_; }
  // For subscribing to changes (the frame servers do); do not edit through it.
  TStringList& PictureList() { return pictures_; }
  int PictureCount() const { return pictures_.Count(); }

  // Adds one picture from "path" or "path<TAB>caption" when the file exists
  // and has the name of a picture kind we read; logs why a picture is left out.
  TAddPictureResult AddPicture(const std::string& text);
  // AddPicture for every entry, with the "Files count" log lines around. An
  // entry that names a folder adds the pictures in it, in name order; its
  // other files are logged as not supported, its sub-folders not entered.
  void AddFiles(const std::vector<std::string>& entries);
  // The pictures of the last project loaded that were left out (not found,
  // or not pictures we read), as the file named them; emptied with the
  // picture list. Saving the project would drop them.
  const std::vector<std::string>& LeftOutPictures() const { return leftOut_; }
  void SetLeftOutPictures(std::vector<std::string> paths) { leftOut_ = std::move(paths); }
  // Appends without any check (the caller has checked the file).
  void AppendPicture(const std::string& path, const std::string& caption);
  void InsertPicture(int index, const std::string& path, const std::string& caption);
  void DeletePicture(int index);
  void MovePicture(int from, int to);
  void ExchangePictures(int a, int b);
  void ClearPictures();
  void SetCaption(int index, const std::string& caption);

  // --- Soundtrack.
  const std::string& SoundPath() const { return soundPath_; }
  int32_t SoundDuration() const { return soundDuration_; }  // whole seconds
  // Takes a soundtrack the audio facade opened, with its play time in days.
  void SetSoundtrack(const std::string& path, double durationDays);
  void ClearSoundtrack();

  // --- Output.
  const std::string& OutputPath() const { return outputPath_; }
  void SetOutputPath(const std::string& path) { outputPath_ = path; }

  // --- The project file the slideshow was last loaded from or saved to
  // ("" for none): an input of the job like the pictures, which its output
  // must never replace.
  const std::string& ProjectFile() const { return projectFile_; }
  void SetProjectFile(const std::string& path) { projectFile_ = path; }

  // --- Timing, clamped into their ranges.
  int32_t MsPerPicture() const { return msPerPicture_; }
  void SetMsPerPicture(int64_t ms);
  int32_t FramesPerSecond() const { return framesPerSecond_; }
  void SetFramesPerSecond(int64_t fps);

  // --- Frame size: one entry of Resolutions(), or empty when none is chosen.
  const std::string& Resolution() const { return resolution_; }
  void SetResolution(const std::string& entry);  // std::invalid_argument for other texts
  // Any even size up to kMaxContainerWidth × kMaxContainerHeight, "WxH",
  // for the command line's MP4 and WebM (std::invalid_argument otherwise).
  void SetFrameSize(int32_t width, int32_t height);

  // --- Picture scaling: a remembered setting, not part of the slideshow;
  // New leaves it alone.
  TPictureScaling Scaling() const { return scaling_; }
  void SetScaling(TPictureScaling scaling) { scaling_ = scaling; }
  // The kind of video the output path names.
  TOutputKind OutputKind() const { return OutputKindOf(outputPath_); }

  // --- Codec: the chosen entry of the codec list ("XVID description"), or
  // empty. New leaves it alone.
  const std::string& CodecEntry() const { return codecEntry_; }
  void SetCodecEntry(const std::string& entry) { codecEntry_ = entry; }
  // The first four characters of the entry, case kept.
  std::string FourCC() const { return codecEntry_.substr(0, 4); }

  // --- Visual options. Changing Dynamic sets the frame rate to 25 (on) or 15.
  // All six at once, as the project has them (the job's record may differ:
  // see MakeJobSettings).
  const TFrameOptions& Options() const { return options_; }
  bool Dynamic() const { return options_.dynamic; }
  void SetDynamic(bool on);
  bool CrossFade() const { return options_.crossFade; }
  void SetCrossFade(bool on) { options_.crossFade = on; }
  bool Osd() const { return options_.osd; }
  void SetOsd(bool on) { options_.osd = on; }

  // --- Colour effects, never both on.
  bool Greyscale() const { return options_.greyscale; }
  bool Sepia() const { return options_.sepia; }
  void ToggleGreyscale();  // the menu click: reverse, and switch Sepia off when now on
  void ToggleSepia();
  // Sets both at once (a project file's effect line); Sepia loses when both
  // are asked for, so they never end up on together.
  void SetEffects(bool greyscale, bool sepia);

  // --- Single Frame mode: while on, the visual options, the time per picture
  // and Match audio are locked and the job ignores the visual options.
  bool SingleFrame() const { return options_.singleFrame; }
  void SetSingleFrame(bool on);
  bool OptionsLocked() const { return options_.singleFrame || !controlsEnabled_; }
  bool MatchAudioEnabled() const { return matchAudioEnabled_; }

  // The window's editing controls around a job: disabled while it runs;
  // enabling them again ends Single Frame mode.
  bool ControlsEnabled() const { return controlsEnabled_; }
  void EnableControls(bool enabled);
  // Set by job control while a job runs.
  bool Busy = false;

  // Match audio: the time per picture whose video (whole frames per picture,
  // the fades the frame rules make, the writer's leading samples) comes
  // nearest the soundtrack at the current frame rate. Does nothing without
  // pictures; tells the user when the result is the shortest time allowed.
  void MatchAudio();

  // New: everything but the codec back to its defaults.
  void ResetProject();

  // The Go command's record, after the frame budget rule: when a picture would
  // last fewer than 30 frames, Dynamic, CrossFade and Osd are switched off
  // here in the project, with a message; the job keeps the frame rate it had
  // read before.
  TJobSettings MakeJobSettings();

private:
  void Show(const std::string& englishText);
  void Logged(const std::string& message, int level);

  void AddFolder(const std::string& folder);

  TStringList pictures_;
  TStringList captions_;
  std::vector<std::string> leftOut_;
  std::string soundPath_;
  int32_t soundDuration_ = 0;
  std::string outputPath_;
  std::string projectFile_;
  int32_t msPerPicture_ = 3000;
  int32_t framesPerSecond_ = 15;
  std::string resolution_ = kDefaultResolution;
  TPictureScaling scaling_ = TPictureScaling::Automatic;
  std::string codecEntry_;
  TFrameOptions options_{.crossFade = true, .osd = true};
  bool controlsEnabled_ = true;
  bool matchAudioEnabled_ = false;
};

}  // namespace sdm
