#include "platform/text/Font.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <map>
#include <mutex>
#include <stdexcept>
#include <unordered_map>

namespace sdm {

void TGrayCanvas::SetSize(int width, int height) {
  if (width < 0 || height < 0) throw std::invalid_argument("negative canvas size");
  if (width == 0 || height == 0) width = height = 0;
  width_ = width;
  height_ = height;
  bits_.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
}

void TGrayCanvas::Clear(uint8_t value) { std::fill(bits_.begin(), bits_.end(), value); }

std::u32string DecodeUtf8(std::string_view s) {
  std::u32string out;
  out.reserve(s.size());
  size_t i = 0;
  const size_t n = s.size();
  while (i < n) {
    const auto b0 = static_cast<uint8_t>(s[i]);
    if (b0 < 0x80) {
      out.push_back(b0);
      ++i;
      continue;
    }
    int len = 0;
    char32_t cp = 0;
    char32_t min = 0;
    if ((b0 & 0xE0) == 0xC0) {
      len = 2;
      cp = b0 & 0x1F;
      min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
      len = 3;
      cp = b0 & 0x0F;
      min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
      len = 4;
      cp = b0 & 0x07;
      min = 0x10000;
    }
    bool ok = len > 0 && i + static_cast<size_t>(len) <= n;
    for (int k = 1; ok && k < len; ++k) {
      const auto b = static_cast<uint8_t>(s[i + static_cast<size_t>(k)]);
      if ((b & 0xC0) != 0x80)
        ok = false;
      else
        cp = (cp << 6) | (b & 0x3F);
    }
    if (ok && (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))) ok = false;
    if (ok) {
      out.push_back(cp);
      i += static_cast<size_t>(len);
    } else {
      // One replacement per offending byte; the next byte gets its own chance
      // to start a sequence, so a stray byte never swallows good text.
      out.push_back(0xFFFD);
      ++i;
    }
  }
  return out;
}

namespace {

struct TFontFile {
  std::string file;
  int index = 0;
  std::string family;
};

// fontconfig lookups read the font cache from disk; the result for a family
// never changes during a run, so it is looked up once.
TFontFile FindFontFile(const std::string& family) {
  static std::mutex mutex;
  static std::map<std::string, TFontFile> found;
  std::lock_guard<std::mutex> lock(mutex);
  if (auto it = found.find(family); it != found.end()) return it->second;

  // A configuration of our own, freed after the lookup, rather than
  // fontconfig's global one, which would live on unreleased to the end.
  FcConfig* config = FcInitLoadConfigAndFonts();
  FcPattern* pattern = config ? FcPatternCreate() : nullptr;
  if (!pattern) {
    if (config) FcConfigDestroy(config);
    throw std::runtime_error("Font not found: " + family);
  }
  FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
  FcPatternAddInteger(pattern, FC_WEIGHT, FC_WEIGHT_REGULAR);
  FcPatternAddInteger(pattern, FC_SLANT, FC_SLANT_ROMAN);
  FcPatternAddInteger(pattern, FC_WIDTH, FC_WIDTH_NORMAL);
  FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
  FcConfigSubstitute(config, pattern, FcMatchPattern);
  FcDefaultSubstitute(pattern);
  FcResult result = FcResultNoMatch;
  FcPattern* match = FcFontMatch(config, pattern, &result);
  FcPatternDestroy(pattern);
  TFontFile f;
  if (match) {
    FcChar8* file = nullptr;
    FcChar8* fam = nullptr;
    if (FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch && file)
      f.file = reinterpret_cast<const char*>(file);
    if (FcPatternGetString(match, FC_FAMILY, 0, &fam) == FcResultMatch && fam)
      f.family = reinterpret_cast<const char*>(fam);
    FcPatternGetInteger(match, FC_INDEX, 0, &f.index);
    FcPatternDestroy(match);
  }
  FcConfigDestroy(config);
  if (f.file.empty()) throw std::runtime_error("Font not found: " + family);
  found[family] = f;
  return f;
}

struct TGlyph {
  int advance = 0;  // pixels
  int left = 0;     // bitmap origin relative to the pen, x to the right
  int top = 0;      // bitmap top above the baseline
  int width = 0;
  int rows = 0;
  std::vector<uint8_t> coverage;  // width × rows, 1 where the glyph covers
};

int RoundPixels(FT_Pos v) { return static_cast<int>((v + 32) >> 6); }

}  // namespace

struct TFont::TImpl {
  FT_Library library = nullptr;
  FT_Face face = nullptr;
  TFontFile file;
  int pixelHeight = 0;
  int ascent = 0;
  int descent = 0;
  // A font is used by one thread at a time (each frame server owns its own),
  // so the cache needs no lock.
  mutable std::unordered_map<char32_t, TGlyph> glyphs;

  ~TImpl() {
    if (face) FT_Done_Face(face);
    if (library) FT_Done_FreeType(library);
  }

  const TGlyph& Glyph(char32_t cp) const {
    auto it = glyphs.find(cp);
    if (it != glyphs.end()) return it->second;
    TGlyph g;
    const FT_UInt index = FT_Get_Char_Index(face, cp);
    // Monochrome rendering with hinting for monochrome output: every pixel is
    // either covered or not, as with font smoothing switched off.
    if (FT_Load_Glyph(face, index, FT_LOAD_RENDER | FT_LOAD_TARGET_MONO) == 0) {
      const FT_GlyphSlot slot = face->glyph;
      g.advance = RoundPixels(slot->advance.x);
      const FT_Bitmap& bm = slot->bitmap;
      if (bm.pixel_mode == FT_PIXEL_MODE_MONO && bm.buffer) {
        g.left = slot->bitmap_left;
        g.top = slot->bitmap_top;
        g.width = static_cast<int>(bm.width);
        g.rows = static_cast<int>(bm.rows);
        g.coverage.assign(static_cast<size_t>(g.width) * static_cast<size_t>(g.rows), 0);
        for (int y = 0; y < g.rows; ++y) {
          const unsigned char* row = bm.pitch >= 0 ? bm.buffer + static_cast<ptrdiff_t>(y) * bm.pitch
                                                   : bm.buffer + static_cast<ptrdiff_t>(g.rows - 1 - y) * -bm.pitch;
          for (int x = 0; x < g.width; ++x)
            g.coverage[static_cast<size_t>(y) * g.width + x] = (row[x >> 3] >> (7 - (x & 7))) & 1;
        }
      }
    }
    return glyphs.emplace(cp, std::move(g)).first->second;
  }
};

TFont::TFont(const std::string& family, int pixelHeight) : impl_(std::make_unique<TImpl>()) {
  if (pixelHeight <= 0 || pixelHeight > 4096) throw std::invalid_argument("bad font height");
  impl_->file = FindFontFile(family);
  impl_->pixelHeight = pixelHeight;
  if (FT_Init_FreeType(&impl_->library) != 0) throw std::runtime_error("FreeType could not be initialised");
  if (FT_New_Face(impl_->library, impl_->file.file.c_str(), impl_->file.index, &impl_->face) != 0)
    throw std::runtime_error("Font file cannot be opened: " + impl_->file.file);
  if (FT_Set_Pixel_Sizes(impl_->face, 0, static_cast<FT_UInt>(pixelHeight)) != 0)
    throw std::runtime_error("Font cannot be scaled: " + impl_->file.file);
  const FT_Size_Metrics& m = impl_->face->size->metrics;
  impl_->ascent = RoundPixels(m.ascender);
  impl_->descent = RoundPixels(-m.descender);
}

TFont::~TFont() = default;

const std::string& TFont::FileName() const { return impl_->file.file; }
const std::string& TFont::FamilyName() const { return impl_->file.family; }
int TFont::PixelHeight() const { return impl_->pixelHeight; }
int TFont::Ascent() const { return impl_->ascent; }
int TFont::Descent() const { return impl_->descent; }

bool TFont::HasGlyph(char32_t codePoint) const { return FT_Get_Char_Index(impl_->face, codePoint) != 0; }

TTextSize TFont::TextExtent(std::string_view utf8) const {
  TTextSize size;
  size.cy = Height();
  long long width = 0;
  for (char32_t cp : DecodeUtf8(utf8)) width += impl_->Glyph(cp).advance;
  size.cx = static_cast<int>(std::min<long long>(width, 0x7FFFFFFF));
  return size;
}

void TFont::TextOut(TGrayCanvas& canvas, int x, int y, std::string_view utf8, uint8_t value) const {
  const int baseline = y + impl_->ascent;
  long long pen = x;
  for (char32_t cp : DecodeUtf8(utf8)) {
    if (pen >= canvas.Width()) break;  // everything further right is clipped anyway
    const TGlyph& g = impl_->Glyph(cp);
    const long long gx = pen + g.left;
    const int gy = baseline - g.top;
    for (int row = 0; row < g.rows; ++row) {
      const int cy = gy + row;
      if (cy < 0 || cy >= canvas.Height()) continue;
      uint8_t* dst = canvas.Row(cy);
      const uint8_t* src = g.coverage.data() + static_cast<size_t>(row) * g.width;
      for (int col = 0; col < g.width; ++col) {
        const long long cx = gx + col;
        if (src[col] && cx >= 0 && cx < canvas.Width()) dst[cx] = value;
      }
    }
    pen += g.advance;
  }
}

}  // namespace sdm
