#include "platform/text/Font.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace sdm {
namespace {

int CountSet(const TGrayCanvas& c, uint8_t value) {
  int n = 0;
  for (int y = 0; y < c.Height(); ++y)
    for (int x = 0; x < c.Width(); ++x) n += c.Pixel(x, y) == value;
  return n;
}

TEST(FontTest, OpensDejaVuSansAtTheRequestedCharacterHeight) {
  TFont font("DejaVu Sans", 32);
  EXPECT_EQ(font.FamilyName(), "DejaVu Sans");
  EXPECT_TRUE(std::filesystem::exists(font.FileName()));
  // DejaVu's ascender and descender (1901 + 483 of 2048 units) give a cell
  // a little taller than the em.
  EXPECT_GE(font.Ascent(), 29);
  EXPECT_LE(font.Ascent(), 31);
  EXPECT_GE(font.Descent(), 7);
  EXPECT_LE(font.Descent(), 9);
  EXPECT_THROW(TFont("DejaVu Sans", 0), std::invalid_argument);
}

TEST(FontTest, ExtentIsTheSumOfAdvancesWithoutKerning) {
  TFont font("DejaVu Sans", 32);
  EXPECT_EQ(font.TextExtent("").cx, 0);
  EXPECT_EQ(font.TextExtent("").cy, font.Height());
  const int a = font.TextExtent("A").cx;
  const int v = font.TextExtent("V").cx;
  EXPECT_GT(a, 10);
  EXPECT_EQ(font.TextExtent("AV").cx, a + v);  // a kerned pair stays unkerned, as TextOut draws it
  EXPECT_EQ(font.TextExtent("AVAV").cx, 2 * (a + v));
  EXPECT_GT(font.TextExtent("Picture : 3 / 12 ").cx, font.TextExtent("Picture : 3 / 12").cx);
}

TEST(FontTest, DrawsMonochromeInsideTheCellAndClips) {
  TFont font("DejaVu Sans", 32);
  const TTextSize e = font.TextExtent("Hg");
  TGrayCanvas canvas(e.cx + 20, e.cy + 20);
  canvas.Clear(7);
  font.TextOut(canvas, 10, 10, "Hg", 200);
  const int set = CountSet(canvas, 200);
  EXPECT_GT(set, 100);
  EXPECT_EQ(set + CountSet(canvas, 7), canvas.Width() * canvas.Height());  // no grey levels
  // "H" stands on the baseline and "g" descends below it, all inside the cell.
  for (int y = 0; y < canvas.Height(); ++y)
    for (int x = 0; x < canvas.Width(); ++x)
      if (canvas.Pixel(x, y) == 200) {
        EXPECT_GE(y, 10);
        EXPECT_LT(y, 10 + e.cy);
        EXPECT_GE(x, 10);
        EXPECT_LT(x, 10 + e.cx + 2);
      }
  bool below = false;
  for (int x = 0; x < canvas.Width(); ++x) below |= canvas.Pixel(x, 10 + font.Ascent() + 3) == 200;
  EXPECT_TRUE(below);

  // Drawn partly off the canvas, the visible part is the same pixels shifted.
  TGrayCanvas moved(canvas.Width(), canvas.Height());
  font.TextOut(moved, 10 - 15, 10 - 12, "Hg", 200);
  for (int y = 0; y + 12 < canvas.Height(); ++y)
    for (int x = 0; x + 15 < canvas.Width(); ++x)
      ASSERT_EQ(moved.Pixel(x, y) == 200, canvas.Pixel(x + 15, y + 12) == 200) << x << "," << y;
  font.TextOut(moved, -100000, 100000, "Hg");  // far away: nothing, no crash
  font.TextOut(moved, 100000, -100000, "Hg");
  TGrayCanvas empty;
  font.TextOut(empty, 0, 0, "Hg");
}

TEST(FontTest, RendersAccentedAndNonLatinText) {
  TFont font("DejaVu Sans", 32);
  for (char32_t cp : {U'é', U'Ж', U'λ', U'ş', U'€'}) EXPECT_TRUE(font.HasGlyph(cp)) << static_cast<int>(cp);
  auto draw = [&](const std::string& s) {
    TGrayCanvas c(80, 45);
    font.TextOut(c, 0, 0, s);
    return c;
  };
  const TGrayCanvas e = draw("e");
  const TGrayCanvas eAcute = draw("\xC3\xA9");
  EXPECT_GT(CountSet(eAcute, 255), CountSet(e, 255));  // the accent adds pixels
  EXPECT_GT(CountSet(draw("\xD0\x96"), 255), 50);      // Cyrillic Zhe
}

TEST(FontTest, MalformedUtf8BecomesReplacementCharacters) {
  EXPECT_EQ(DecodeUtf8("a\xC3\xA9z"), U"a\u00E9z");
  EXPECT_EQ(DecodeUtf8("\xF0\x9F\x98\x80"), U"\U0001F600");
  EXPECT_EQ(DecodeUtf8("\xC0\xAF"), U"\uFFFD\uFFFD");                      // overlong '/'
  EXPECT_EQ(DecodeUtf8("\xED\xA0\x80"), U"\uFFFD\uFFFD\uFFFD");            // a surrogate
  EXPECT_EQ(DecodeUtf8("x\xE2\x82"), U"x\uFFFD\uFFFD");                    // cut off at the end
  EXPECT_EQ(DecodeUtf8("\xE9t\xE9"), U"\uFFFDt\uFFFD");                    // Latin-1 bytes keep the text around them
  EXPECT_EQ(DecodeUtf8("\xF4\x90\x80\x80"), U"\uFFFD\uFFFD\uFFFD\uFFFD");  // past U+10FFFF
  TFont font("DejaVu Sans", 16);
  EXPECT_GT(font.TextExtent("\xFF\xFE").cx, 0);  // drawable, never a crash
}

}  // namespace
}  // namespace sdm
