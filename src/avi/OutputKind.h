#pragma once
// The kinds of video the program writes, told apart by the output file's
// extension: AVI through the compressor layer and our own AVI writer, MP4
// (H.264 and AAC) and WebM (VP9 and Opus) through libavformat. Any other
// extension is refused before anything is written.
//
// The codec list of an MP4 or WebM output holds that kind's one encoder, in
// the form of the AVI list ("FOURCC description"), so the window, the command
// line and the job treat every kind alike.
#include <string>
#include <vector>

namespace sdm {

enum class TOutputKind { Unknown, Avi, Mp4, WebM };

// By the extension after the last '.', compared without regard to case
// (".MP4" is an MP4); Unknown without one or for any other.
TOutputKind OutputKindOf(const std::string& path);
// ".avi", ".mp4", ".webm"; "" for Unknown.
const char* ExtensionOf(TOutputKind kind);
// "AVI", "MP4", "WebM": for log lines and the settings value.
const char* KindName(TOutputKind kind);
// The settings value ("avi", "mp4", "webm") and back; Unknown for anything else.
const char* KindSettingValue(TOutputKind kind);
TOutputKind KindFromSettingValue(const std::string& value);
// What can be written, for the refusal of any other extension:
// "AVI (.avi), MP4 (.mp4) or WebM (.webm)".
std::string WritableKindsText();

// The codec list entries of an MP4 or WebM output: "avc1 H.264 Video (x264)",
// "vp09 VP9 Video (libvpx)". Empty for AVI, whose list the compressor layer
// makes.
std::vector<std::string> ContainerCodecEntries(TOutputKind kind);
// The FourCC of each of those entries: "avc1", "vp09".
const char* ContainerFourCC(TOutputKind kind);

// The libavcodec encoders a kind needs (video, then sound) that are missing
// at run time, by name ("libx264", "aac"); empty when all are there.
// SLIDOMAT_CODECS, which restricts the installed compressors, restricts these
// too: an MP4 counts as unavailable when "avc1" is not in it, a WebM when
// "vp09" is not.
std::vector<std::string> MissingEncoders(TOutputKind kind);

// The H.264 encoder's own settings, kept like every compressor's in the
// current user's registry hive (Software\Tarvenit VfW\avc1: "Crf" and
// "Preset"). CRF 20 at the "medium" preset looks clean at 1080p; lower CRF
// is better and larger.
struct TH264Settings {
  static constexpr int kDefaultCrf = 20;
  static constexpr int kMinCrf = 0;
  static constexpr int kMaxCrf = 51;
  int Crf = kDefaultCrf;
  std::string Preset = "medium";
  bool operator==(const TH264Settings&) const = default;
};
// x264's speed presets, fastest first.
const std::vector<std::string>& H264Presets();
// The stored settings; a missing or damaged value keeps its default.
TH264Settings LoadH264Settings();
// False when they could not be stored.
bool SaveH264Settings(const TH264Settings& settings);

}  // namespace sdm
