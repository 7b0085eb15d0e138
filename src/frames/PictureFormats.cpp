#include "frames/PictureFormats.h"

#include <algorithm>
#include <cstring>

#include "frames/U_BmpReader.h"
#include "frames/U_GifReader.h"
#include "frames/U_HeifReader.h"
#include "frames/U_JpegReader.h"
#include "frames/U_PngReader.h"
#include "frames/U_TiffReader.h"
#include "frames/U_WebpReader.h"
#include "support/Errors.h"

namespace sdm {

const char* PictureKindName(TPictureKind kind) {
  switch (kind) {
    case TPictureKind::Jpeg: return "JPEG";
    case TPictureKind::Bmp: return "BMP";
    case TPictureKind::Png: return "PNG";
    case TPictureKind::Gif: return "GIF";
    case TPictureKind::Webp: return "WebP";
    case TPictureKind::Tiff: return "TIFF";
    case TPictureKind::Heif: return "HEIF";
    default: return "unknown";
  }
}

namespace {

bool At(const uint8_t* data, size_t size, size_t offset, const char* text, size_t length) {
  return size >= offset + length && std::memcmp(data + offset, text, length) == 0;
}

// The brands of the HEIF family: HEVC pictures and sequences (HEIC), the
// plain image-file brands, and AV1 (AVIF), which libheif reads the same way.
bool IsHeifBrand(const uint8_t* brand) {
  static const char* const kBrands[] = {"heic", "heix", "heim", "heis", "hevc", "hevx",
                                        "hevm", "hevs", "mif1", "msf1", "avif", "avis"};
  for (const char* b : kBrands)
    if (std::memcmp(brand, b, 4) == 0) return true;
  return false;
}

bool IsHeif(const uint8_t* data, size_t size) {
  if (!At(data, size, 4, "ftyp", 4) || size < 12) return false;
  const uint32_t boxSize = (uint32_t{data[0]} << 24) | (uint32_t{data[1]} << 16) | (uint32_t{data[2]} << 8) | data[3];
  // The major brand at 8, the minor version at 12, compatible brands after.
  const size_t end = std::min<size_t>(size, std::max<uint32_t>(boxSize, 12));
  for (size_t at = 8; at + 4 <= end; at += 4)
    if (at != 12 && IsHeifBrand(data + at)) return true;
  return false;
}

}  // namespace

TPictureKind DetectPictureKind(const uint8_t* data, size_t size) {
  if (At(data, size, 0, "\xFF\xD8\xFF", 3)) return TPictureKind::Jpeg;
  if (At(data, size, 0, "\x89PNG\r\n\x1A\n", 8)) return TPictureKind::Png;
  if (At(data, size, 0, "GIF87a", 6) || At(data, size, 0, "GIF89a", 6)) return TPictureKind::Gif;
  if (At(data, size, 0, "RIFF", 4) && At(data, size, 8, "WEBP", 4)) return TPictureKind::Webp;
  // Classic TIFF, and BigTIFF (which libtiff reads too).
  if (At(data, size, 0, "II*\0", 4) || At(data, size, 0, "MM\0*", 4) || At(data, size, 0, "II+\0", 4) ||
      At(data, size, 0, "MM\0+", 4))
    return TPictureKind::Tiff;
  if (IsHeif(data, size)) return TPictureKind::Heif;
  // Two letters are a weak signature: tested last.
  if (At(data, size, 0, "BM", 2)) return TPictureKind::Bmp;
  return TPictureKind::Unknown;
}

namespace {

struct TExtensionKind {
  const char* extension;
  TPictureKind kind;
};

const TExtensionKind kExtensions[] = {
    {".jpg", TPictureKind::Jpeg},  {".jpeg", TPictureKind::Jpeg}, {".jpe", TPictureKind::Jpeg},
    {".jfif", TPictureKind::Jpeg}, {".bmp", TPictureKind::Bmp},   {".dib", TPictureKind::Bmp},
    {".png", TPictureKind::Png},   {".gif", TPictureKind::Gif},   {".webp", TPictureKind::Webp},
    {".tif", TPictureKind::Tiff},  {".tiff", TPictureKind::Tiff}, {".heic", TPictureKind::Heif},
    {".heif", TPictureKind::Heif}, {".hif", TPictureKind::Heif},  {".avif", TPictureKind::Heif},
};

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

std::string ExtensionOfPath(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  const size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  return path.substr(dot);
}

}  // namespace

TPictureKind PictureKindOfExtension(const std::string& extension) {
  const std::string ext = Lower(extension);
  for (const TExtensionKind& e : kExtensions)
    if (ext == e.extension) return e.kind;
  return TPictureKind::Unknown;
}

const std::vector<std::string>& PictureExtensions() {
  static const std::vector<std::string> list = [] {
    std::vector<std::string> l;
    for (const TExtensionKind& e : kExtensions) l.push_back(e.extension);
    return l;
  }();
  return list;
}

bool HasPictureExtension(const std::string& path) {
  return PictureKindOfExtension(ExtensionOfPath(path)) != TPictureKind::Unknown;
}

void CompositeOverBlack(TBitmap32& bitmap) {
  TColor32* p = bitmap.Bits();
  const size_t n = static_cast<size_t>(bitmap.Width()) * bitmap.Height();
  for (size_t k = 0; k < n; ++k) {
    const unsigned a = AlphaOf(p[k]);
    if (a == 255) continue;
    auto over = [a](unsigned c) { return static_cast<uint8_t>((c * a + 127) / 255); };
    p[k] = Color32(over(RedOf(p[k])), over(GreenOf(p[k])), over(BlueOf(p[k])));
  }
}

void DecodePictureOfKind(TPictureKind kind, const uint8_t* data, size_t size, const std::string& fileName, TFitSize fit,
                         TBitmap32& out) {
  TPictureExtras extras;
  switch (kind) {
    // JPEG converts its profile as the rows arrive (a CMYK picture needs its
    // profile before its colours exist), BMP has none we read.
    case TPictureKind::Jpeg: ReadJpeg(data, size, fileName, out, fit); return;
    case TPictureKind::Bmp: ReadBmp(data, size, fileName, out); return;
    case TPictureKind::Png: ReadPng(data, size, fileName, fit, out, extras); break;
    case TPictureKind::Gif: ReadGif(data, size, fileName, fit, out, extras); break;
    case TPictureKind::Webp: ReadWebp(data, size, fileName, fit, out, extras); break;
    case TPictureKind::Tiff: ReadTiff(data, size, fileName, fit, out, extras); break;
    case TPictureKind::Heif: ReadHeif(data, size, fileName, fit, out, extras); break;
    default: throw EError(PictureError(fileName, "not a picture of a kind we read"));
  }
  // The profile describes the colours as stored, before any compositing.
  if (!extras.profile.empty()) ConvertToSrgb(out, extras.profile, extras.model, fileName);
  if (extras.alpha) CompositeOverBlack(out);
}

}  // namespace sdm
