#pragma once
// Unit C_VersionInfo.
// Version information. The packed 32-bit form (major 8 bits, minor 8, release
// 6, build 10) is what language files record; TVersionInfo reads the version
// record of a program file.
//
// Linux executables have no version resource. Every program built by this
// project carries a version record (the CMake project version and the
// product's names) that the build embeds in its support library; TVersionInfo
// finds it in the running program directly and in other program files by
// searching the file. Files without the record load nothing.
#include <cstdint>
#include <string>

namespace sdm {

// Packs "1.2.3.4" (or "1,2,3,4"; other characters are skipped) into 32 bits.
// Each field is masked to its width, so a build of 1500 is stored as 476.
uint32_t PackVersion(const std::string& text);
// "major.minor.release.build" in decimal.
std::string VersionIntToText(uint32_t value);

// The version of this build, as the four numbers of the project version.
struct TProgramVersion {
  int major, minor, release, build;
};
TProgramVersion ProgramVersion();
std::string ProgramVersionText();  // "1.0.0.0"

class TVersionInfo {
public:
  TVersionInfo() = default;

  // Ignored when no file of that name exists; otherwise the file is taken and
  // every value cleared until the next read.
  void SetFileName(const std::string& value);
  const std::string& FileName() const { return fileName_; }
  // Takes the running program file.
  void SetToModule();

  // Reading any value loads the file first when it is not loaded yet.
  bool InfoLoaded() const { return loaded_; }
  uint32_t TranslationValue();  // language identifier low, code page high
  int LanguageCount();
  std::string LanguageName();
  uint32_t FileMajorVersion();  // major << 16 | minor
  uint32_t FileMinorVersion();  // release << 16 | build
  uint32_t ProductMajorVersion();
  uint32_t ProductMinorVersion();
  uint32_t FileFlags();
  uint32_t FileFlagsMask();
  uint32_t FileOS();
  uint32_t FileType();
  uint32_t FileSubtype();
  std::string Comments();
  std::string CompanyName();
  std::string FileDescription();
  std::string InternalName();
  std::string LegalCopyright();
  std::string LegalTrademark();
  std::string OriginalFilename();
  std::string ProductName();
  std::string FileVersion();  // "(" and ")" removed
  std::string ProductVersion();
  uint32_t FileVersionInt();  // PackVersion(FileVersion)

  // Reads the record of FileName; false when there is none.
  bool LoadInfo();

private:
  void Clear();
  void EnsureLoaded();

  struct TValues {
    uint32_t translation = 0;
    int languageCount = 0;
    std::string languageName;
    uint32_t fileMS = 0, fileLS = 0, productMS = 0, productLS = 0;
    uint32_t flags = 0, flagsMask = 0, os = 0, type = 0, subtype = 0;
    std::string comments, companyName, fileDescription, internalName, legalCopyright, legalTrademarks, originalFilename,
        productName, fileVersion, productVersion;
  };

  std::string fileName_;
  bool loaded_ = false;
  TValues v_;
};

}  // namespace sdm
