#include "frames/U_FrameServer.h"

#include <gtest/gtest.h>

#include <mutex>
#include <thread>

#include "frames/PictureNotes.h"
#include "frames/U_BmpWriter.h"
#include "support/Errors.h"
#include "testsupport/JpegWriter.h"
#include "testsupport/TestSupport.h"

namespace sdm {
namespace {

using test::TempDir;

// A picture whose pixel (x, y) is (x, y, tag): a frame window shows where it
// was taken from in its first pixel.
std::string PatternPicture(const TempDir& dir, const std::string& name, int w, int h, int tag) {
  TBitmap32 b(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) b.SetPixel(x, y, Color32(static_cast<uint8_t>(x), static_cast<uint8_t>(y), tag));
  const std::string path = dir.file(name);
  SaveBmp24(b, path);
  return path;
}

std::string PlainPicture(const TempDir& dir, const std::string& name, int w, int h, TColor32 c) {
  TBitmap32 b(w, h);
  b.FillRect(0, 0, w, h, c);
  const std::string path = dir.file(name);
  SaveBmp24(b, path);
  return path;
}

uint32_t Rgb(TColor32 c) { return c & 0xFFFFFF; }

TEST(FrameServerTest, TimelineNumbers) {
  TStringList pics(std::vector<std::string>(10, "unused.jpg"));
  // 3000 ms at 25 frames per second with cross-fade: 75 + 18 per picture but the last.
  TFrameServer job(pics, nullptr, 75, 576, 720, {.dynamic = true, .crossFade = true, .osd = true});
  EXPECT_EQ(job.FadeFrames(), 18);
  EXPECT_EQ(job.FrameCount(), 912);
  EXPECT_DOUBLE_EQ(job.StepX(), 180.0 / 74);
  EXPECT_DOUBLE_EQ(job.StepY(), 144.0 / 74);
  EXPECT_EQ(job.LoadedIndex(), -1);
  EXPECT_EQ(job.FadeIndex(), -1);

  struct Case {
    int fpp;
    bool xfade;
    int fade;
  };
  for (Case c : {Case{91, true, 24}, Case{19, true, 0}, Case{20, true, 6}, Case{75, false, 0}, Case{1, true, 0}}) {
    TFrameServer s(pics, nullptr, c.fpp, 480, 640, {.crossFade = c.xfade});
    EXPECT_EQ(s.FadeFrames(), c.fade) << c.fpp;
    EXPECT_EQ(s.FrameCount(), 10 * c.fpp + 9 * c.fade) << c.fpp;
  }
  TStringList one({"a.jpg"});
  EXPECT_EQ(TFrameServer(one, nullptr, 75, 576, 720, {.crossFade = true}).FrameCount(), 75);
  TStringList none;
  EXPECT_EQ(TFrameServer(none, nullptr, 75, 576, 720, {.crossFade = true}).FrameCount(), -18);
  EXPECT_EQ(TFrameServer(none, nullptr, 19, 576, 720, {.crossFade = true}).FrameCount(), 0);

  EXPECT_THROW(TFrameServer(pics, nullptr, 0, 576, 720, {}), std::invalid_argument);
  EXPECT_THROW(TFrameServer(pics, nullptr, 1, 0, 720, {}), std::invalid_argument);
  EXPECT_THROW(TFrameServer(pics, nullptr, 1, 65535, 65535, {.dynamic = true}), std::invalid_argument);
  TBitmap32 frame;
  EXPECT_THROW(job.GetFrame(frame, 912), std::out_of_range);
  EXPECT_THROW(job.GetFrame(frame, -1), std::out_of_range);
}

TEST(FrameServerTest, WorkedExampleFadeFramesAddedBetweenPictures) {
  TempDir dir;
  const std::string a = PlainPicture(dir, "a.bmp", 32, 24, Color32(100, 100, 100));
  const std::string b = PlainPicture(dir, "b.bmp", 32, 24, Color32(136, 64, 100));
  TStringList pics;
  for (int i = 0; i < 10; ++i) pics.Add(i % 2 ? b : a);
  TFrameServer s(pics, nullptr, 75, 24, 32, {.crossFade = true});
  ASSERT_EQ(s.FrameCount(), 912);
  TBitmap32 f;
  s.GetFrame(f, 74);  // picture 0, last step
  EXPECT_EQ(Rgb(f.Pixel(5, 5)), 0x646464u);
  s.GetFrame(f, 75);  // fade frame 0 of 0 -> 1 is picture 0 unmixed
  EXPECT_EQ(Rgb(f.Pixel(5, 5)), 0x646464u);
  s.GetFrame(f, 80);  // fade frame 5: a difference of 36 moves by 36 × 5/18 = 10
  ASSERT_EQ(f.Width(), 32);
  ASSERT_EQ(f.Height(), 24);
  EXPECT_EQ(Rgb(f.Pixel(31, 23)), 0x6E5A64u);  // (110, 90, 100)
  EXPECT_EQ(s.FadeIndex(), 0);
  EXPECT_EQ(s.LoadedIndex(), 1);  // the incoming picture was loaded last
  s.GetFrame(f, 92);              // last fade frame, 17/18: 34 of 36
  EXPECT_EQ(Rgb(f.Pixel(0, 0)), 0x864264u);
  s.GetFrame(f, 93);  // picture 1 at step 0, unmixed
  EXPECT_EQ(f.Pixel(0, 0), Color32(136, 64, 100));
  s.GetFrame(f, 911);
  EXPECT_EQ(Rgb(f.Pixel(0, 0)), 0x884064u);  // picture 9
  EXPECT_EQ(s.LoadedIndex(), 9);
}

TEST(FrameServerTest, DynamicPicturesPanInFourDirections) {
  // 20 × 16 frames over 26 × 21 pictures (the 4/3 enlargement, exactly the
  // picture's size so it is copied pixel for pixel). 5 frames per picture
  // give steps of 1.25 across and 1 down.
  TempDir dir;
  TStringList pics;
  for (int i = 0; i < 6; ++i) pics.Add(PatternPicture(dir, "p" + std::to_string(i) + ".bmp", 26, 21, 10 * i));
  TFrameServer s(pics, nullptr, 5, 16, 20, {.dynamic = true});
  // nearest(u × 1.25) for u = 0..4, ties (2.5) to even.
  const int across[5] = {0, 1, 2, 4, 5};
  const int down[5] = {0, 1, 2, 3, 4};
  TBitmap32 f;
  for (int p = 0; p < 6; ++p)
    for (int step = 0; step < 5; ++step) {
      const int u = step, v = 4 - step;
      int left = 0, top = 0;
      switch (p % 4) {  // picture 4 pans like 0, picture 5 like 1
        case 0:
          left = across[u];
          top = down[u];
          break;
        case 1:
          left = across[u];
          top = down[v];
          break;
        case 2:
          left = across[v];
          top = down[v];
          break;
        case 3:
          left = across[v];
          top = down[u];
          break;
      }
      s.GetFrame(f, p * 5 + step);
      ASSERT_EQ(f.Width(), 20);
      ASSERT_EQ(f.Height(), 16);
      EXPECT_EQ(f.Pixel(0, 0), Color32(left, top, 10 * p)) << p << " " << step;
      EXPECT_EQ(f.Pixel(19, 15), Color32(left + 19, top + 15, 10 * p)) << p << " " << step;
    }
  EXPECT_EQ(s.Stats().Loads, 6);

  // One frame per picture: the window stays at the corner.
  TFrameServer single(pics, nullptr, 1, 16, 20, {.dynamic = true});
  single.GetFrame(f, 2);
  EXPECT_EQ(f.Pixel(0, 0), Color32(0, 0, 20));
}

TEST(FrameServerTest, CrossFadeFreezesTheEndViewsOfTheMotion) {
  TempDir dir;
  TStringList pics({PatternPicture(dir, "a.bmp", 26, 21, 0), PatternPicture(dir, "b.bmp", 26, 21, 200),
                    PatternPicture(dir, "c.bmp", 26, 21, 100)});
  TFrameServer s(pics, nullptr, 20, 16, 20, {.dynamic = true, .crossFade = true});
  ASSERT_EQ(s.FadeFrames(), 6);
  TBitmap32 last, fade, first;
  s.GetFrame(last, 19);  // picture 0 ends at (nearest(5), nearest(4))
  EXPECT_EQ(last.Pixel(0, 0), Color32(5, 4, 0));
  s.GetFrame(fade, 20);
  EXPECT_EQ(Rgb(fade.Pixel(7, 3)), Rgb(last.Pixel(7, 3)));
  s.GetFrame(fade, 23);  // half way to picture 1's first view, which starts at (0, nearest(19 × 4/19))
  // 5 + nearest(-2.5) = 3 (ties to even), 4 stays, 0 + 100.
  EXPECT_EQ(Rgb(fade.Pixel(0, 0)), Rgb(Color32(3, 4, 100)));
  s.GetFrame(first, 26);
  EXPECT_EQ(first.Pixel(0, 0), Color32(0, 4, 200));
  s.GetFrame(first, 26 + 20 + 1);  // into the second transition
  EXPECT_EQ(s.Stats().Transitions, 2);
  // Sequential rendering decodes each picture once.
  TFrameServer seq(pics, nullptr, 20, 16, 20, {.dynamic = true, .crossFade = true});
  for (int i = 0; i < seq.FrameCount(); ++i) seq.GetFrame(first, i);
  EXPECT_EQ(seq.Stats().Loads, 3);
  EXPECT_EQ(seq.Stats().Transitions, 2);
}

TEST(FrameServerTest, ColourEffectsGreyBeforeSepia) {
  TempDir dir;
  TStringList pics({PlainPicture(dir, "red.bmp", 8, 6, Color32(255, 0, 0))});
  TBitmap32 f;
  TFrameServer grey(pics, nullptr, 1, 6, 8, {.greyscale = true});
  grey.GetFrame(f, 0);
  EXPECT_EQ(f.Pixel(3, 3), Color32(60, 60, 60));
  TFrameServer both(pics, nullptr, 1, 6, 8, {.greyscale = true, .sepia = true});
  both.GetFrame(f, 0);
  EXPECT_EQ(f.Pixel(3, 3), Color32(81, 72, 56));  // sepia of grey 60
  TFrameServer sepia(pics, nullptr, 1, 6, 8, {.sepia = true});
  sepia.GetFrame(f, 0);
  EXPECT_EQ(f.Pixel(3, 3), Color32(100, 89, 69));
}

TEST(FrameServerTest, ThumbnailsInAnyOrderAndAfterListChanges) {
  TempDir dir;
  TStringList pics;
  for (int i = 0; i < 4; ++i) pics.Add(PatternPicture(dir, "t" + std::to_string(i) + ".bmp", 200, 150, 40 * i));
  const std::string other = PlainPicture(dir, "other.bmp", 100, 75, Color32(1, 2, 3));
  auto thumbs = TFrameServer::CreateThumbnailServer(pics, nullptr);
  ASSERT_EQ(thumbs->FrameCount(), 4);
  std::vector<TBitmap32> inOrder(4);
  for (int i = 0; i < 4; ++i) thumbs->GetFrame(inOrder[i], i);
  EXPECT_EQ(inOrder[2].Width(), 100);
  EXPECT_EQ(inOrder[2].Height(), 75);
  EXPECT_EQ(inOrder[2].Pixel(50, 40), Color32(100, 80, 80));  // halved by the fit
  TBitmap32 f;
  for (int i : {3, 0, 2, 2, 1, 3}) {
    thumbs->GetFrame(f, i);
    EXPECT_EQ(f, inOrder[i]) << i;
  }

  // Two servers over the same list are both told of a change.
  {
    TFrameServer job(pics, nullptr, 1, 75, 100, {});
    EXPECT_EQ(pics.SubscriberCount(), 2);
    job.GetFrame(f, 3);
    thumbs->GetFrame(f, 3);
    pics.Put(3, other);
    EXPECT_EQ(thumbs->LoadedIndex(), -1);
    EXPECT_EQ(job.LoadedIndex(), -1);
    thumbs->GetFrame(f, 3);
    EXPECT_EQ(f.Pixel(10, 10), Color32(1, 2, 3));
    job.GetFrame(f, 3);
    EXPECT_EQ(f.Pixel(10, 10), Color32(1, 2, 3));
  }
  EXPECT_EQ(pics.SubscriberCount(), 1);  // the destroyed server is no longer told
  pics.Move(3, 0);
  thumbs->GetFrame(f, 0);
  EXPECT_EQ(f.Pixel(10, 10), Color32(1, 2, 3));
}

TEST(FrameServerTest, FadeFramesFollowAChangedList) {
  TempDir dir;
  const std::string grey = PlainPicture(dir, "g.bmp", 8, 6, Color32(100, 100, 100));
  const std::string white = PlainPicture(dir, "w.bmp", 8, 6, Color32(160, 160, 160));
  TStringList pics({grey, grey});
  TFrameServer s(pics, nullptr, 20, 6, 8, {.crossFade = true});
  TBitmap32 f;
  s.GetFrame(f, 23);  // fade frame 3 of 6 between two equal pictures
  EXPECT_EQ(Rgb(f.Pixel(0, 0)), 0x646464u);
  pics.Put(1, white);
  s.GetFrame(f, 23);  // the held views must not outlive the change
  EXPECT_EQ(Rgb(f.Pixel(0, 0)), 0x828282u);
}

TEST(FrameServerTest, ABrokenPictureFailsItsFramesOnly) {
  TempDir dir;
  const std::string a = PlainPicture(dir, "a.bmp", 8, 6, Color32(10, 10, 10));
  const std::string b = PlainPicture(dir, "b.bmp", 8, 6, Color32(70, 70, 70));
  const std::string broken = dir.file("broken.jpg");
  test::WriteBytes(broken, {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F'});
  TStringList pics({a, b, broken});
  TFrameServer s(pics, nullptr, 20, 6, 8, {.crossFade = true});
  TBitmap32 before, f;
  s.GetFrame(before, 23);  // transition 0 -> 1 held
  try {
    s.GetFrame(f, 26 + 20 + 2);  // transition 1 -> 2: the outgoing view renders, the incoming fails
    FAIL() << "a broken picture must fail its frame";
  } catch (const EError& e) {
    EXPECT_NE(std::string(e.what()).find("broken.jpg"), std::string::npos) << e.what();
  }
  EXPECT_EQ(s.LoadedIndex(), -1);
  EXPECT_THROW(s.GetFrame(f, 26 + 26), EError);  // picture 2's own frames fail too
  // The transition 0 -> 1 is rendered again, not taken from half-redrawn views.
  s.GetFrame(f, 23);
  EXPECT_EQ(f, before);
  pics.Put(2, dir.file("missing.bmp"));
  EXPECT_THROW(s.GetFrame(f, 26 + 26), EError);
  s.GetFrame(f, 26);
  EXPECT_EQ(f.Pixel(0, 0), Color32(70, 70, 70));
}

// A repeat is promised only where GetFrame would draw the same pixels again:
// every frame it promises equals the frame before it, with fades, text and
// pans, and the promise holds only right after frame i − 1 was drawn.
TEST(FrameServerTest, FrameRepeatsOnlyWhereThePixelsRepeat) {
  TempDir dir;
  TStringList pics;
  for (int i = 0; i < 3; ++i) pics.Add(PatternPicture(dir, "r" + std::to_string(i) + ".bmp", 96, 72, 60 * i));
  TStringList captions({"one", "two", "three"});
  for (bool dynamic : {false, true}) {
    SCOPED_TRACE(dynamic ? "dynamic" : "still");
    // 25 frames a picture with 6-frame fades; a 48 x 36 frame pans 12 x 9
    // pixels over 24 steps, so with a pan some steps keep the window.
    TFrameServer s(pics, &captions, 25, 36, 48, {.dynamic = dynamic, .crossFade = true, .osd = true});
    TBitmap32 previous, frame;
    int repeats = 0;
    for (int i = 0; i < s.FrameCount(); ++i) {
      const bool repeat = s.FrameRepeats(i);
      s.GetFrame(frame, i);
      if (repeat) {
        ++repeats;
        EXPECT_EQ(frame, previous) << "frame " << i;
      }
      const int r = i % 31;
      if (r == 0 || r >= 25) {
        EXPECT_FALSE(repeat) << "frame " << i;  // the first frame of a picture, fade frames
      }
      previous = frame;
    }
    if (dynamic) {
      EXPECT_GT(repeats, 0);
      EXPECT_LT(repeats, 3 * 24);
    } else {
      EXPECT_EQ(repeats, 3 * 24);  // every frame of a picture but its first
    }
    // A caller that hands on the frame it holds for every repeat, as the
    // video maker does: a repeat counts as drawn, so a still picture is
    // drawn once, and every frame is what drawing it gives.
    TFrameServer taker(pics, &captions, 25, 36, 48, {.dynamic = dynamic, .crossFade = true, .osd = true});
    TFrameServer drawer(pics, &captions, 25, 36, 48, {.dynamic = dynamic, .crossFade = true, .osd = true});
    int taken = 0;
    for (int i = 0; i < taker.FrameCount(); ++i) {
      if (taker.RepeatFrame(i))
        ++taken;
      else
        taker.GetFrame(frame, i);
      drawer.GetFrame(previous, i);
      EXPECT_EQ(frame, previous) << "frame " << i;
    }
    EXPECT_EQ(taken, repeats);
  }
  TFrameServer s(pics, &captions, 25, 36, 48, {.crossFade = true, .osd = true});
  TBitmap32 frame;
  EXPECT_FALSE(s.FrameRepeats(1));  // nothing drawn yet
  s.GetFrame(frame, 0);
  EXPECT_TRUE(s.FrameRepeats(1));
  EXPECT_FALSE(s.FrameRepeats(2));  // frame 1 is not what was drawn last
  EXPECT_FALSE(s.FrameRepeats(0));
  EXPECT_FALSE(s.RepeatFrame(2));
  EXPECT_TRUE(s.RepeatFrame(1));
  EXPECT_TRUE(s.FrameRepeats(2));  // frame 1 is now what the caller holds
  pics.Put(0, PatternPicture(dir, "changed.bmp", 96, 72, 7));
  EXPECT_FALSE(s.FrameRepeats(1));  // the picture may have changed under it
  s.GetFrame(frame, 0);
  s.GetFrame(frame, 1);
  EXPECT_TRUE(s.FrameRepeats(2));
  TStringList one({pics[0]});
  TFrameServer single(one, nullptr, 3, 36, 48, {});
  single.GetFrame(frame, 2);
  EXPECT_FALSE(single.FrameRepeats(3));  // past the end
}

// What a server made of every frame in order: the frames, or where the first
// failure came and its text.
struct TRun {
  std::vector<TBitmap32> frames;
  int failedAt = -1;
  std::string error;
};

TRun RunAll(TFrameServer& s) {
  TRun run;
  TBitmap32 f;
  for (int i = 0; i < s.FrameCount(); ++i) {
    try {
      s.GetFrame(f, i);
    } catch (const std::exception& e) {
      run.failedAt = i;
      run.error = e.what();
      break;
    }
    run.frames.push_back(f);
  }
  return run;
}

// A job's server loads the next picture on a helper thread while the frames
// of the current one are drawn; nothing of that may show: every frame of
// every kind of slideshow is the same, each picture is loaded once, and a
// broken picture fails the same frame with the same text.
TEST(FrameServerTest, LoadingAheadGivesTheSameFramesAndTheSameFailures) {
  TempDir dir;
  TStringList pics;
  for (int i = 0; i < 4; ++i) pics.Add(PatternPicture(dir, "p" + std::to_string(i) + ".bmp", 96 + 8 * i, 72, 50 * i));
  pics.Add(test::SourcePath("examples/landscape.jpg"));
  pics.Add(test::SourcePath("examples/portrait.bmp"));
  TStringList captions({"one", "two", "three", "four", "five", "six"});
  struct TCase {
    int framesPerPicture;
    TFrameOptions options;
  };
  const TCase cases[] = {
      {20, {}},
      {25, {.crossFade = true, .osd = true}},
      {25, {.dynamic = true, .crossFade = true, .osd = true, .greyscale = true, .sepia = true}},
      {1, {.osd = true, .sepia = true}},
      {21, {.crossFade = true, .fit = TFitFilter::Smooth}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.framesPerPicture << " frames a picture, dynamic " << c.options.dynamic);
    TFrameServer plain(pics, &captions, c.framesPerPicture, 36, 48, c.options);
    TFrameServer ahead(pics, &captions, c.framesPerPicture, 36, 48, c.options);
    ahead.LoadAhead(true);
    EXPECT_TRUE(ahead.LoadsAhead());
    const TRun want = RunAll(plain), got = RunAll(ahead);
    ASSERT_EQ(want.failedAt, -1) << want.error;
    ASSERT_EQ(got.failedAt, -1) << got.error;
    ASSERT_EQ(got.frames.size(), want.frames.size());
    for (size_t i = 0; i < want.frames.size(); ++i) EXPECT_TRUE(got.frames[i] == want.frames[i]) << "frame " << i;
    EXPECT_EQ(ahead.Stats().Loads, 6);
    EXPECT_EQ(plain.Stats().Loads, 6);
    // Asked for out of turn, the frames are still the same.
    TBitmap32 f;
    for (int i : {static_cast<int>(want.frames.size()) - 1, 0, 3 * c.framesPerPicture, 1}) {
      ahead.GetFrame(f, i);
      EXPECT_TRUE(f == want.frames[static_cast<size_t>(i)]) << "frame " << i;
    }
  }

  // A broken picture and a missing one: the frames before them are made, and
  // the first frame that needs one fails, with the text loading it in turn
  // gives.
  const std::string broken = dir.file("broken.jpg");
  test::WriteBytes(broken, {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F'});
  for (const std::string& bad : {broken, dir.file("missing.png")}) {
    TStringList faulty({pics[0], pics[1], bad, pics[2]});
    for (const TFrameOptions& options : {TFrameOptions{}, TFrameOptions{.crossFade = true, .osd = true}}) {
      TFrameServer plain(faulty, nullptr, 20, 36, 48, options);
      TFrameServer ahead(faulty, nullptr, 20, 36, 48, options);
      ahead.LoadAhead(true);
      const TRun want = RunAll(plain), got = RunAll(ahead);
      ASSERT_GT(want.failedAt, 0);
      EXPECT_EQ(got.failedAt, want.failedAt);
      EXPECT_EQ(got.error, want.error);
      EXPECT_NE(got.error.find(bad), std::string::npos) << got.error;
      ASSERT_EQ(got.frames.size(), want.frames.size());
      for (size_t i = 0; i < want.frames.size(); ++i) EXPECT_TRUE(got.frames[i] == want.frames[i]) << "frame " << i;
      // The picture put right, its frames come: the failure was not kept.
      faulty.Put(2, pics[3]);
      TBitmap32 f, expected;
      ahead.GetFrame(f, want.failedAt);
      plain.GetFrame(expected, want.failedAt);
      EXPECT_TRUE(f == expected);
      faulty.Put(2, bad);
    }
  }
}

// A picture loaded ahead is the list's entry when its first frame is made:
// a change to the list in between, even one that keeps the path (the file
// rewritten and the entry put again), makes that frame load it again. Its
// readers' notes are told then, on the thread that asks for the frame.
TEST(FrameServerTest, APictureLoadedAheadIsTakenOnlyIfTheListStillHoldsIt) {
  TempDir dir;
  const std::string a = PlainPicture(dir, "a.bmp", 8, 6, Color32(10, 10, 10));
  const std::string b = PlainPicture(dir, "b.bmp", 8, 6, Color32(70, 70, 70));
  const std::string c = PlainPicture(dir, "c.bmp", 8, 6, Color32(130, 130, 130));
  TStringList pics({a, b, c});
  TFrameServer s(pics, nullptr, 5, 6, 8, {});
  s.LoadAhead(true);
  TBitmap32 f;
  s.GetFrame(f, 0);  // picture 1 is asked for now
  s.WaitForLoadAhead();
  pics.Put(1, c);
  s.GetFrame(f, 5);
  EXPECT_EQ(f.Pixel(0, 0), Color32(130, 130, 130));
  // Picture 2 (c) is loaded ahead; then the file changes and the entry is
  // put again under the same name.
  s.WaitForLoadAhead();
  PlainPicture(dir, "c.bmp", 8, 6, Color32(200, 200, 200));
  pics.Put(2, c);
  s.GetFrame(f, 10);
  EXPECT_EQ(f.Pixel(0, 0), Color32(200, 200, 200));

  // A picture that failed ahead is loaded again when its frame comes: one
  // put in place meanwhile is shown.
  const std::string late = dir.file("late.bmp");
  TStringList lateList({a, late});
  TFrameServer waits(lateList, nullptr, 5, 6, 8, {});
  waits.LoadAhead(true);
  waits.GetFrame(f, 0);
  waits.WaitForLoadAhead();
  PlainPicture(dir, "late.bmp", 8, 6, Color32(40, 50, 60));
  waits.GetFrame(f, 5);
  EXPECT_EQ(f.Pixel(0, 0), Color32(40, 50, 60));

  // Notes: a JPEG whose colour profile is junk.
  const std::vector<uint8_t> junk(300, 0x41);
  const std::vector<uint8_t> rgb(16 * 12 * 3, 90);
  const std::string noted = dir.file("noted.jpg");
  test::WriteBytes(noted,
                   test::EncodeJpeg(16, 12, 3, JCS_RGB, test::RowsOf(rgb, 16, 3), test::NoJpegStep{},
                                    [&](jpeg_compress_struct& cs) { jpeg_write_icc_profile(&cs, junk.data(), 300); }));
  std::mutex mutex;
  std::vector<std::pair<std::string, std::thread::id>> notes;
  TScopedPictureNoteSink sink([&](const std::string& line, int) {
    std::lock_guard<std::mutex> lock(mutex);
    notes.emplace_back(line, std::this_thread::get_id());
  });
  TStringList withNote({a, noted});
  TFrameServer ahead(withNote, nullptr, 5, 6, 8, {});
  ahead.LoadAhead(true);
  ahead.GetFrame(f, 0);
  ahead.GetFrame(f, 4);
  ahead.WaitForLoadAhead();
  // Picture 1 is loaded, but nothing is told before its frame.
  {
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_TRUE(notes.empty());
  }
  ahead.GetFrame(f, 5);
  std::lock_guard<std::mutex> lock(mutex);
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_EQ(notes[0].first.rfind("Colour profile ignored : " + noted, 0), 0u) << notes[0].first;
  EXPECT_EQ(notes[0].second, std::this_thread::get_id());
}

}  // namespace
}  // namespace sdm
