#include "frames/U_ImageFile.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "frames/PictureFormats.h"
#include "frames/SmoothFit.h"
#include "platform/RegularFile.h"
#include "support/Errors.h"

namespace sdm {

std::string PictureError(const std::string& fileName, const std::string& reason) {
  return std::string(kCannotLoadPicture) + " \"" + fileName + "\": " + reason;
}

std::string BitmapSizeText(int64_t width, int64_t height) {
  const int64_t mib = (width * height * 4 + (1 << 20) - 1) >> 20;
  return std::to_string(width) + " x " + std::to_string(height) + " pixels, " + std::to_string(mib) +
         " MiB as a 32-bit bitmap";
}

namespace {

const std::string kBitmapLimitText = "at most " + std::to_string(kMaxPictureBytes >> 20) + " MiB";
constexpr const char* kPictureKindsText = "JPEG, PNG, HEIF, WebP, TIFF, GIF or BMP";

}  // namespace

void CheckPictureSides(const std::string& fileName, int64_t width, int64_t height) {
  if (width <= 0 || height <= 0) throw EError(PictureError(fileName, "the picture has zero width or height"));
  if (width > kMaxPictureSide || height > kMaxPictureSide)
    throw EError(PictureError(
        fileName, "the picture is too large (" + std::to_string(width) + " x " + std::to_string(height) + " pixels)"));
}

void CheckPictureSize(const std::string& fileName, int64_t width, int64_t height) {
  CheckPictureSides(fileName, width, height);
  if (width * height > kMaxPicturePixels)
    throw EError(PictureError(
        fileName, "the picture is too large (" + BitmapSizeText(width, height) + "; " + kBitmapLimitText + ")"));
}

void CheckFitSize(int width, int height) {
  if (width < 0 || height < 0) throw EError("Cannot fit a picture into a negative frame size");
  if (static_cast<int64_t>(width) * height > kMaxPicturePixels)
    throw EError("Cannot fit a picture into " + std::to_string(width) + " x " + std::to_string(height) +
                 " pixels: the frame is too large (" + BitmapSizeText(width, height) + "; " + kBitmapLimitText + ")");
}

namespace {

// Lower-case extension after the last '.', or empty when the name has none.
std::string ExtensionOf(const std::string& fileName) {
  const size_t slash = fileName.find_last_of('/');
  const size_t dot = fileName.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  std::string ext = fileName.substr(dot + 1);
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char ch) { return std::tolower(ch); });
  return ext;
}

// Closes the descriptor on every way out.
struct TFileDescriptor {
  int fd;
  ~TFileDescriptor() {
    if (fd >= 0) ::close(fd);
  }
};

}  // namespace

std::vector<uint8_t> ReadPictureFile(const std::string& fileName) {
  // A named pipe given as a picture would block the open for ever, a device
  // would never end: only a regular file is read.
  std::string problem;
  const TFileDescriptor file{OpenRegularFileForReading(fileName, problem)};
  if (file.fd < 0) throw EError(PictureError(fileName, problem));
  struct stat st {};
  if (::fstat(file.fd, &st) != 0) throw EError(PictureError(fileName, std::strerror(errno)));
  const int64_t size = st.st_size;
  if (size > kMaxPictureFileSize)
    throw EError(PictureError(fileName, "the file is too large (" + std::to_string(size >> 20) + " MiB; at most " +
                                            std::to_string(kMaxPictureFileSize >> 20) + " MiB)"));
  std::vector<uint8_t> data(static_cast<size_t>(size));
  size_t got = 0;
  while (got < data.size()) {
    const ssize_t n = ::read(file.fd, data.data() + got, data.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0)
      throw EError(PictureError(fileName, std::string("the file cannot be read (") + std::strerror(errno) + ")"));
    if (n == 0) break;  // the file shrank while we read it: keep what is there
    got += static_cast<size_t>(n);
  }
  data.resize(got);
  return data;
}

void DecodePicture(const uint8_t* data, size_t size, const std::string& fileName, TFitSize fit, TBitmap32& out) {
  // The content wins over the name: a PNG saved as ".jpg" still loads. A
  // file whose first bytes are damaged goes to the reader its name says, so
  // the error says what is wrong with it.
  TPictureKind kind = DetectPictureKind(data, size);
  if (kind == TPictureKind::Unknown) kind = PictureKindOfExtension("." + ExtensionOf(fileName));
  if (kind == TPictureKind::Unknown)
    throw EError(PictureError(fileName, "not a picture of a kind we read (" + std::string(kPictureKindsText) + ")"));
  DecodePictureOfKind(kind, data, size, fileName, fit, out);
}

namespace {

double Nearest(double v) { return std::nearbyint(v); }  // ties to even in the default rounding mode

}  // namespace

TImageFile::TImageFile(const std::string& fileName) : TImageFile(fileName, TFitSize{}) {}

TImageFile::TImageFile(const std::string& fileName, TFitSize fit) : TImageFile(fileName, fit, TBitmap32()) {}

TImageFile::TImageFile(const std::string& fileName, TFitSize fit, TBitmap32&& storage)
    : bitmap_(std::move(storage)), fileName_(fileName) {
  // A frame beyond the bound is refused before the file is even read.
  CheckFitSize(fit.width, fit.height);
  const std::vector<uint8_t> data = ReadPictureFile(fileName);
  DecodePicture(data.data(), data.size(), fileName, fit, bitmap_);
  loadedWidth_ = bitmap_.Width();
  loadedHeight_ = bitmap_.Height();
}

TImageFile::TImageFile(const std::string& fileName, int width, int height)
    : TImageFile(fileName, TFitSize{width, height}) {
  Fit(width, height);
}

void TImageFile::Fit(int width, int height, TBitmap32* spare, TFitFilter filter) {
  if (static_cast<int64_t>(width) * height == 0) return;
  CheckFitSize(width, height);
  const int w = bitmap_.Width();
  const int h = bitmap_.Height();
  // The readers never produce an empty picture; this guards the divisions.
  if (w == 0 || h == 0) throw EError(PictureError(fileName_, "the picture has zero width or height"));

  const float ri = static_cast<float>(static_cast<double>(w) / h);
  const float rt = static_cast<float>(static_cast<double>(width) / height);
  int x = 0;
  int y = 0;
  if (ri > rt)
    y = static_cast<int>(Nearest(static_cast<double>(width) / w * (w / static_cast<double>(rt) - h) / 2));
  else
    x = static_cast<int>(Nearest(static_cast<double>(height) / h * (h * static_cast<double>(rt) - w) / 2));
  // Odd frame sizes can round a bar to a hair over half the frame.
  const int tw = std::max(0, width - 2 * x);
  const int th = std::max(0, height - 2 * y);

  TBitmap32 fitted(width, height);  // starts black, which paints the bars
  if (filter == TFitFilter::Smooth) {
    DrawSmooth(bitmap_, fitted, x, y, tw, th);
  } else if (tw > 0 && th > 0) {
    const float sx = static_cast<float>(static_cast<double>(w) / tw);
    const float sy = static_cast<float>(static_cast<double>(h) / th);
    auto sourceIndex = [](int i, int target, int source, float factor) {
      if (target == 1) return (source - 1) / 2;
      const int s = static_cast<int>(std::floor(i * static_cast<double>(factor)));
      return std::min(s, source - 1);
    };
    std::vector<int> columns(static_cast<size_t>(tw));
    for (int i = 0; i < tw; ++i) columns[static_cast<size_t>(i)] = sourceIndex(i, tw, w, sx);
    for (int j = 0; j < th; ++j) {
      const TColor32* src = bitmap_.Row(sourceIndex(j, th, h, sy));
      TColor32* dst = fitted.Row(y + j) + x;
      for (int i = 0; i < tw; ++i) dst[i] = src[columns[static_cast<size_t>(i)]];
    }
  }
  if (spare) *spare = std::move(bitmap_);
  bitmap_ = std::move(fitted);
}

void TImageFile::CopyWindow(int top, int left, int height, int width, TBitmap32& dest) const {
  // A window inside the picture covers the whole destination.
  const bool inside = left >= 0 && top >= 0 && width >= 0 && height >= 0 && left + width <= bitmap_.Width() &&
                      top + height <= bitmap_.Height();
  if (inside)
    dest.SetSizeForOverwrite(width, height);
  else
    dest.SetSize(width, height);
  dest.CopyRect(0, 0, bitmap_, left, top, width, height);
}

void TImageFile::Greyscale() {
  TColor32* p = bitmap_.Bits();
  const size_t n = static_cast<size_t>(bitmap_.Width()) * bitmap_.Height();
  for (size_t k = 0; k < n; ++k) {
    const unsigned i = (61u * RedOf(p[k]) + 174u * GreenOf(p[k]) + 21u * BlueOf(p[k])) / 256u;
    p[k] = Color32(static_cast<uint8_t>(i), static_cast<uint8_t>(i), static_cast<uint8_t>(i));
  }
}

namespace {

// The sepia products per channel value, each exactly what the per-pixel
// expression computes, so summing them in the same order gives the same bits.
struct TSepiaTables {
  std::array<double, 256> t[3][3];
  TSepiaTables() {
    static const double kWeights[3][3] = {{0.393, 0.769, 0.189}, {0.349, 0.686, 0.168}, {0.272, 0.534, 0.131}};
    for (int out = 0; out < 3; ++out)
      for (int in = 0; in < 3; ++in)
        for (int v = 0; v < 256; ++v) t[out][in][static_cast<size_t>(v)] = kWeights[out][in] * v;
  }
  uint8_t Tone(int out, uint8_t r, uint8_t g, uint8_t b) const {
    const double v = t[out][0][r] + t[out][1][g] + t[out][2][b];
    return static_cast<uint8_t>(std::min(255.0, Nearest(v)));
  }
};

}  // namespace

void TImageFile::Sepia() {
  static const TSepiaTables tables;
  TColor32* p = bitmap_.Bits();
  const size_t n = static_cast<size_t>(bitmap_.Width()) * bitmap_.Height();
  for (size_t k = 0; k < n; ++k) {
    const uint8_t r = RedOf(p[k]), g = GreenOf(p[k]), b = BlueOf(p[k]);
    p[k] = Color32(tables.Tone(0, r, g, b), tables.Tone(1, r, g, b), tables.Tone(2, r, g, b));
  }
}

}  // namespace sdm
