#include <gtest/gtest.h>

#include "frames/U_BmpWriter.h"
#include "frames/U_FrameServer.h"
#include "platform/text/Font.h"
#include "testsupport/TestSupport.h"

namespace sdm {
namespace {

using test::TempDir;

std::string PlainPicture(const TempDir& dir, const std::string& name, int w, int h, TColor32 c) {
  TBitmap32 b(w, h);
  b.FillRect(0, 0, w, h, c);
  const std::string path = dir.file(name);
  SaveBmp24(b, path);
  return path;
}

// The text's opacities worked out from the font alone: drawn at 32 pixels
// into a scratch of (extent of text + " ") + 2, then 2 × 2 blocks averaged.
TGrayCanvas ExpectedOpacity(const std::string& text) {
  TFont font("DejaVu Sans", 32);
  const TTextSize e = font.TextExtent(text + " ");
  TGrayCanvas scratch(e.cx + 2, e.cy + 2);
  font.TextOut(scratch, 0, 0, text);
  TGrayCanvas a(scratch.Width() / 2, scratch.Height() / 2);
  for (int y = 0; y < a.Height(); ++y)
    for (int x = 0; x < a.Width(); ++x)
      a.SetPixel(x, y,
                 static_cast<uint8_t>((scratch.Pixel(2 * x, 2 * y) + scratch.Pixel(2 * x + 1, 2 * y) +
                                       scratch.Pixel(2 * x, 2 * y + 1) + scratch.Pixel(2 * x + 1, 2 * y + 1)) /
                                      4));
  return a;
}

// White over the darkened grey 60 at the five opacities: α + nearest((255 − α) × 60 / 255).
uint8_t OverGrey60(int alpha) {
  switch (alpha) {
    case 0: return 60;
    case 63: return 108;   // 63 + nearest(45.18)
    case 127: return 157;  // 127 + nearest(30.12)
    case 191: return 206;  // 191 + nearest(15.06)
    case 255: return 255;
  }
  ADD_FAILURE() << "opacity " << alpha;
  return 0;
}

// Checks the text block at (x, y) of a frame of grey 100 darkened to 60, left
// of limitX (where a later text may be drawn over it).
void ExpectText(const TBitmap32& f, int x, int y, const std::string& text, int limitX = 1 << 30) {
  const TGrayCanvas a = ExpectedOpacity(text);
  int lit = 0;
  for (int j = 0; j < a.Height(); ++j)
    for (int i = 0; i < a.Width(); ++i) {
      if (x + i >= f.Width() || x + i >= limitX || y + j >= f.Height()) continue;
      const uint8_t v = OverGrey60(a.Pixel(i, j));
      lit += a.Pixel(i, j) == 255;
      ASSERT_EQ(f.Pixel(x + i, y + j), Color32(v, v, v)) << text << " at " << i << "," << j;
    }
  EXPECT_GT(lit, 20) << text;
}

TEST(OsdTest, StripRowsAndDarkening) {
  EXPECT_EQ(TOsdText::StripTop(576), 535);
  EXPECT_EQ(TOsdText::StripTop(480), 446);
  EXPECT_EQ(TOsdText::StripTop(240), 212);
  EXPECT_EQ(TOsdText::StripTop(28), 0);
  EXPECT_EQ(TOsdText::StripTop(10), 0);

  TStringList pics({"never-loaded.jpg"});
  TFrameServer s(pics, nullptr, 1, 240, 256, {.osd = true});
  TBitmap32 f(256, 240);
  for (int y = 0; y < 240; ++y)
    for (int x = 0; x < 256; ++x) f.SetPixel(x, y, Color32(x, 255 - x, x / 2, 7));
  f.SetPixel(3, 230, Color32(200, 100, 51, 0));
  s.DrawOsd(f);  // no picture loaded: the strip only
  for (int y = 0; y < 240; ++y)
    for (int x = 0; x < 256; ++x) {
      if (x == 3 && y == 230) continue;
      // c × 0.6 = 3c/5 never ends in .5, so nearest is (6c + 5) div 10.
      const TColor32 want = y < 212 ? Color32(x, 255 - x, x / 2, 7)
                                    : Color32((6 * x + 5) / 10, (6 * (255 - x) + 5) / 10, (6 * (x / 2) + 5) / 10);
      ASSERT_EQ(f.Pixel(x, y), want) << x << "," << y;
    }
  EXPECT_EQ(f.Pixel(3, 230), Color32(120, 60, 31));
}

TEST(OsdTest, NumberAndFileNameCaption) {
  TempDir dir;
  const std::string pic = PlainPicture(dir, "IMG_0001.bmp", 640, 480, Color32(100, 100, 100));
  TStringList pics(std::vector<std::string>(12, pic));
  TFrameServer s(pics, nullptr, 1, 480, 640, {.osd = true});
  TBitmap32 f;
  s.GetFrame(f, 2);
  for (int y = 0; y < 446; ++y)
    for (int x = 0; x < 640; ++x) ASSERT_EQ(f.Pixel(x, y), Color32(100, 100, 100)) << x << "," << y;
  ExpectText(f, 10, 460, "Picture : 3 / 12");
  ExpectText(f, 270, 460, "IMG_0001.bmp");
  for (int y = 446; y < 460; ++y) ASSERT_EQ(f.Pixel(300, y), Color32(60, 60, 60));
}

TEST(OsdTest, FadeFramesNameTheIncomingPicture) {
  TempDir dir;
  const std::string pic = PlainPicture(dir, "same.bmp", 320, 240, Color32(100, 100, 100));
  TStringList pics(std::vector<std::string>(4, pic));
  TFrameServer s(pics, nullptr, 20, 240, 320, {.crossFade = true, .osd = true});
  TBitmap32 f;
  s.GetFrame(f, 23);  // transition 0 -> 1
  // The caption starts at 320 div 2 - 50 = 110, over the number's right end.
  ExpectText(f, 10, 220, "Picture : 2 / 4", 110);
  s.GetFrame(f, 3 * 26);  // picture 4, then the held transition again
  ExpectText(f, 10, 220, "Picture : 4 / 4", 110);
  s.GetFrame(f, 25);
  ExpectText(f, 10, 220, "Picture : 2 / 4", 110);
}

TEST(OsdTest, CaptionListUtf8EmptyAndCutCaptions) {
  TempDir dir;
  const std::string name = "\xC3\x86r\xC3\xB8 \xD0\x96\xD1\x83\xD0\xBA.bmp";  // "Ærø Жук.bmp"
  const std::string pic = PlainPicture(dir, name, 640, 480, Color32(100, 100, 100));
  TStringList pics({pic, pic, pic});
  TStringList captions({name, "", std::string(200, 'W')});
  TFrameServer s(pics, &captions, 1, 480, 640, {.osd = true});
  TBitmap32 f;
  s.GetFrame(f, 0);
  ExpectText(f, 270, 460, name);

  s.GetFrame(f, 1);  // empty caption: only the number is drawn
  for (int y = 446; y < 480; ++y)
    for (int x = 200; x < 640; ++x) ASSERT_EQ(f.Pixel(x, y), Color32(60, 60, 60));

  s.GetFrame(f, 2);  // cut at the right edge, nothing above the strip touched
  ExpectText(f, 270, 460, std::string(200, 'W'));
  bool edge = false;
  for (int y = 460; y < 480; ++y) edge |= f.Pixel(639, y) != Color32(60, 60, 60);
  EXPECT_TRUE(edge);
  for (int x = 0; x < 640; ++x) ASSERT_EQ(f.Pixel(x, 445), Color32(100, 100, 100));

  TStringList shortCaptions({"only one"});
  TFrameServer bad(pics, &shortCaptions, 1, 480, 640, {.osd = true});
  EXPECT_THROW(bad.GetFrame(f, 1), std::out_of_range);
  bad.GetFrame(f, 0);

  // Frames lower than the strip and narrower than the caption offset clip cleanly.
  TFrameServer tiny(pics, nullptr, 1, 12, 40, {.osd = true});
  tiny.GetFrame(f, 0);
  EXPECT_EQ(f.Height(), 12);
}

}  // namespace
}  // namespace sdm
