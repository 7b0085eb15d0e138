#include "ui/LibraryVersions.h"

#include <dlfcn.h>

#include <QtGlobal>
#include <cstdio>
#include <filesystem>

extern "C" {
#include <jpeglib.h>
#include <libavcodec/avcodec.h>
#include <libavutil/avutil.h>
#include <vorbis/codec.h>
}
#include <ft2build.h>
#include FT_FREETYPE_H

#include "localization/TextStorage.h"

namespace sdm {

namespace {

std::string Dotted(unsigned v) {
  return std::to_string(v >> 16) + "." + std::to_string((v >> 8) & 0xFF) + "." + std::to_string(v & 0xFF);
}

// libjpeg has no version call; the file the loader mapped names the release
// (libjpeg.so.62.3.0), and the header names the release we were built with.
std::string JpegVersion() {
  std::string loaded;
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&jpeg_std_error), &info) && info.dli_fname) {
    std::error_code ec;
    const auto real = std::filesystem::canonical(info.dli_fname, ec);
    loaded = (ec ? std::filesystem::path(info.dli_fname) : real).filename().string();
  }
#ifdef LIBJPEG_TURBO_VERSION
#define SDM_STR2(x) #x
#define SDM_STR(x) SDM_STR2(x)
  const std::string built = SDM_STR(LIBJPEG_TURBO_VERSION);
#else
  const std::string built;
#endif
  if (loaded.empty()) return built;
  return built.empty() ? loaded : loaded + " (" + main_ts().Translate("built with") + " " + built + ")";
}

std::string FreeTypeVersion() {
  FT_Library lib = nullptr;
  if (FT_Init_FreeType(&lib) != 0) return "?";
  FT_Int major = 0, minor = 0, patch = 0;
  FT_Library_Version(lib, &major, &minor, &patch);
  FT_Done_FreeType(lib);
  return std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(patch);
}

}  // namespace

std::vector<std::pair<std::string, std::string>> LibraryVersions() {
  std::string vorbis = vorbis_version_string();
  const std::string prefix = "Xiph.Org libVorbis ";
  if (vorbis.rfind(prefix, 0) == 0) vorbis.erase(0, prefix.size());
  return {
      {"Qt", qVersion()},
      {"libavcodec", Dotted(avcodec_version()) + " (FFmpeg " + av_version_info() + ")"},
      {"libjpeg-turbo", JpegVersion()},
      {"FreeType", FreeTypeVersion()},
      {"libvorbis", vorbis},
  };
}

}  // namespace sdm
