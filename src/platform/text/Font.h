#pragma once
// A small GDI-like text layer over FreeType and fontconfig: a font chosen by
// family name and character height in pixels, text measured the way
// GetTextExtentPoint32 measures it (sum of advance widths × cell height) and
// drawn the way TextOut draws it with smoothing off (top-left of the cell at
// the given point, every covered pixel set, nothing else touched).
//
// Text is UTF-8. Glyphs are rendered monochrome, so a drawn pixel is either
// left alone or set to the drawing value.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace sdm {

// A plain 8-bit canvas, one byte per pixel, rows from the top.
class TGrayCanvas {
public:
  TGrayCanvas() = default;
  TGrayCanvas(int width, int height) { SetSize(width, height); }

  // Resizes and clears to 0. Negative sizes are refused with std::invalid_argument.
  void SetSize(int width, int height);
  void Clear(uint8_t value = 0);

  int Width() const { return width_; }
  int Height() const { return height_; }
  uint8_t Pixel(int x, int y) const { return bits_[static_cast<size_t>(y) * width_ + x]; }
  void SetPixel(int x, int y, uint8_t v) { bits_[static_cast<size_t>(y) * width_ + x] = v; }
  uint8_t* Row(int y) { return bits_.data() + static_cast<size_t>(y) * width_; }
  const uint8_t* Row(int y) const { return bits_.data() + static_cast<size_t>(y) * width_; }

private:
  int width_ = 0;
  int height_ = 0;
  std::vector<uint8_t> bits_;
};

struct TTextSize {
  int cx = 0;
  int cy = 0;
};

class TFont {
public:
  // Finds the family through fontconfig and opens it with a character (em)
  // height of pixelHeight pixels, as a LOGFONT with a negative height does.
  // Throws std::runtime_error when no font file can be found or opened.
  TFont(const std::string& family, int pixelHeight);
  ~TFont();
  TFont(const TFont&) = delete;
  TFont& operator=(const TFont&) = delete;

  const std::string& FileName() const;
  const std::string& FamilyName() const;  // the family of the file actually opened
  int PixelHeight() const;
  int Ascent() const;   // baseline distance from the top of the cell
  int Descent() const;  // below the baseline
  int Height() const { return Ascent() + Descent(); }

  // Width is the sum of the glyphs' advances (no kerning, as TextOut draws),
  // height the cell height of the font, for any text including the empty one.
  TTextSize TextExtent(std::string_view utf8) const;
  // Draws the text with the top-left corner of its cell at (x, y), setting
  // every pixel a glyph covers to value; clipped to the canvas.
  void TextOut(TGrayCanvas& canvas, int x, int y, std::string_view utf8, uint8_t value = 255) const;

  // True when the font has a real glyph for the code point (not the
  // missing-glyph box).
  bool HasGlyph(char32_t codePoint) const;

private:
  struct TImpl;
  std::unique_ptr<TImpl> impl_;
};

// Decodes UTF-8; every byte that does not start a well-formed sequence
// (overlong forms, surrogates, values past U+10FFFF, cut-off sequences)
// becomes U+FFFD, so any byte string can be drawn.
std::u32string DecodeUtf8(std::string_view utf8);

}  // namespace sdm
