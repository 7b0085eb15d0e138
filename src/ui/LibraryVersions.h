#pragma once
// The libraries the program runs on and their versions as loaded at run time,
// for the About dialog.
#include <string>
#include <utility>
#include <vector>

namespace sdm {

// (name, version) pairs: Qt, libavcodec (with the FFmpeg release),
// libjpeg-turbo, FreeType, libvorbis.
std::vector<std::pair<std::string, std::string>> LibraryVersions();

}  // namespace sdm
