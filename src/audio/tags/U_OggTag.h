#pragma once
// Unit U_OggTag.
// TOggTag: the Vorbis comments of an Ogg Vorbis file, read and rewritten
// through libogg's page and packet interface and libvorbis' comment
// structure. Rewriting builds the whole new file in memory before touching the
// file, so an error leaves the file as it was.
#include <cstdint>
#include <string>

#include "audio/U_AudioBase.h"

namespace sdm {

class TOggTag {
public:
  TOggTag();
  ~TOggTag();
  TOggTag(const TOggTag&) = delete;
  TOggTag& operator=(const TOggTag&) = delete;

  std::string FileName;
  std::string Vendor;
  int Serial = 0;
  TTagLines Values;
  // Why the last rewrite was refused; empty when it was not.
  std::string Problem;

  // Each returns true when the file's first Vorbis headers could be parsed;
  // no exception leaves these calls.
  bool ReadFromFile(const std::string& fileName);
  // Rewrites the file with Values as its comments, every audio page carried
  // over; refuses (false, the file untouched, Problem saying why) when a page
  // is damaged or missing, since the rewrite would lose it.
  bool WriteToFile();
  bool RemoveFromFile();

private:
  bool Rewrite(const TTagLines& lines);
};

}  // namespace sdm
