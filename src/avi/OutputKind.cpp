#include "avi/OutputKind.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "platform/registry/Registry.h"

namespace sdm {

namespace {

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
  return s;
}

struct TKindDef {
  TOutputKind kind;
  const char* extension;
  const char* name;
  const char* setting;
  const char* fourcc;
  const char* description;
  const char* videoEncoder;
  const char* soundEncoder;
  const char* muxer;
};

const TKindDef kKinds[] = {
    {TOutputKind::Avi, ".avi", "AVI", "avi", "", "", nullptr, nullptr, nullptr},
    {TOutputKind::Mp4, ".mp4", "MP4", "mp4", "avc1", "H.264 Video (x264)", "libx264", "aac", "mp4"},
    {TOutputKind::WebM, ".webm", "WebM", "webm", "vp09", "VP9 Video (libvpx)", "libvpx-vp9", "libopus", "webm"},
};

const TKindDef* Def(TOutputKind kind) {
  for (const TKindDef& d : kKinds)
    if (d.kind == kind) return &d;
  return nullptr;
}

// SLIDOMAT_CODECS: the FourCCs that count as installed, comma-separated.
bool AllowedByEnvironment(const std::string& fourcc) {
  const char* env = std::getenv("SLIDOMAT_CODECS");
  if (!env) return true;
  const std::string list = env;
  size_t start = 0;
  while (start <= list.size()) {
    size_t comma = list.find(',', start);
    if (comma == std::string::npos) comma = list.size();
    std::string item = list.substr(start, comma - start);
    item.erase(0, item.find_first_not_of(' '));
    item.erase(item.find_last_not_of(' ') + 1);
    if (Lower(item) == fourcc) return true;
    start = comma + 1;
  }
  return false;
}

const char* const kH264Key = "Software\\Tarvenit VfW\\avc1";

}  // namespace

TOutputKind OutputKindOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  const size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return TOutputKind::Unknown;
  const std::string ext = Lower(path.substr(dot));
  for (const TKindDef& d : kKinds)
    if (ext == d.extension) return d.kind;
  return TOutputKind::Unknown;
}

const char* ExtensionOf(TOutputKind kind) {
  const TKindDef* d = Def(kind);
  return d ? d->extension : "";
}

const char* KindName(TOutputKind kind) {
  const TKindDef* d = Def(kind);
  return d ? d->name : "";
}

const char* KindSettingValue(TOutputKind kind) {
  const TKindDef* d = Def(kind);
  return d ? d->setting : "";
}

TOutputKind KindFromSettingValue(const std::string& value) {
  for (const TKindDef& d : kKinds)
    if (value == d.setting) return d.kind;
  return TOutputKind::Unknown;
}

std::string WritableKindsText() { return "AVI (.avi), MP4 (.mp4) or WebM (.webm)"; }

std::vector<std::string> ContainerCodecEntries(TOutputKind kind) {
  const TKindDef* d = Def(kind);
  if (!d || !d->videoEncoder) return {};
  return {std::string(d->fourcc) + " " + d->description};
}

const char* ContainerFourCC(TOutputKind kind) {
  const TKindDef* d = Def(kind);
  return d ? d->fourcc : "";
}

std::vector<std::string> MissingEncoders(TOutputKind kind) {
  const TKindDef* d = Def(kind);
  if (!d || !d->videoEncoder) return {};
  std::vector<std::string> missing;
  if (!AllowedByEnvironment(d->fourcc) || !avcodec_find_encoder_by_name(d->videoEncoder))
    missing.push_back(d->videoEncoder);
  if (!avcodec_find_encoder_by_name(d->soundEncoder)) missing.push_back(d->soundEncoder);
  if (!av_guess_format(d->muxer, nullptr, nullptr)) missing.push_back(std::string(d->muxer) + " (muxer)");
  return missing;
}

const std::vector<std::string>& H264Presets() {
  static const std::vector<std::string> presets = {"ultrafast", "superfast", "veryfast", "faster",  "fast",
                                                   "medium",    "slow",      "slower",   "veryslow"};
  return presets;
}

TH264Settings LoadH264Settings() {
  TH264Settings s;
  TRegistry reg(HKEY_CURRENT_USER);
  if (!reg.OpenKeyReadOnly(kH264Key)) return s;
  if (auto crf = reg.ReadInteger("Crf"); crf && *crf <= static_cast<uint32_t>(TH264Settings::kMaxCrf))
    s.Crf = static_cast<int>(*crf);
  if (auto preset = reg.ReadString("Preset")) {
    const auto& list = H264Presets();
    if (std::find(list.begin(), list.end(), *preset) != list.end()) s.Preset = *preset;
  }
  return s;
}

bool SaveH264Settings(const TH264Settings& s) {
  TRegistry reg(HKEY_CURRENT_USER);
  const int crf = std::clamp(s.Crf, TH264Settings::kMinCrf, TH264Settings::kMaxCrf);
  return reg.OpenKey(kH264Key, true) && reg.WriteInteger("Crf", static_cast<uint32_t>(crf)) &&
         reg.WriteString("Preset", s.Preset);
}

}  // namespace sdm
