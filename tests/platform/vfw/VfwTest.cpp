// The compressor layer: what it accepts, the one-frame-in one-frame-out
// contract with key frames where the settings put them, and settings that
// belong to each compressor and survive in their file.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "platform/Dib24.h"
#include "platform/registry/Registry.h"
#include "platform/vfw/MemoryCompressorStore.h"
#include "platform/vfw/Vfw.h"
#include "testsupport/TestSupport.h"

using namespace sdm;
using sdm::test::MemoryStore;
using sdm::test::ScopedEnv;
using sdm::test::TempDir;

namespace {

BITMAPINFOHEADER Rgb(int w, int h, int bits = 24) {
  BITMAPINFOHEADER b;
  b.biWidth = w;
  b.biHeight = h;
  b.biBitCount = static_cast<WORD>(bits);
  return b;
}

LRESULT QueryOf(FOURCC fcc, const BITMAPINFOHEADER& in) {
  HIC h = ICOpen(ICTYPE_VIDEO, fcc, ICMODE_QUERY);
  if (!h) return -9999;
  const LRESULT r = ICSendMessage(h, ICM_COMPRESS_QUERY, reinterpret_cast<DWORD_PTR>(&in), 0);
  ICClose(h);
  return r;
}

TDib24 Noise(int w, int h, unsigned seed) {
  TDib24 d(w, h);
  for (auto& b : d.Bits) b = static_cast<uint8_t>((seed = seed * 1103515245u + 12345u) >> 16);
  return d;
}

// Compresses n frames; returns the sizes, and the key flags in keys.
std::vector<uint32_t> Compress(FOURCC fcc, int n, std::vector<bool>& keys, DWORD forceAt = 0xFFFFFFFF) {
  const int w = 64, h = 48;
  HIC ic = ICOpen(ICTYPE_VIDEO, fcc, ICMODE_COMPRESS);
  EXPECT_NE(ic, nullptr);
  if (!ic) return {};
  BITMAPINFOHEADER in = Rgb(w, h), out;
  EXPECT_EQ(ICSendMessage(ic, ICM_COMPRESS_GET_FORMAT, reinterpret_cast<DWORD_PTR>(&in), 0), 40);
  EXPECT_EQ(
      ICSendMessage(ic, ICM_COMPRESS_GET_FORMAT, reinterpret_cast<DWORD_PTR>(&in), reinterpret_cast<DWORD_PTR>(&out)),
      ICERR_OK);
  EXPECT_EQ(ICSendMessage(ic, ICM_COMPRESS_BEGIN, reinterpret_cast<DWORD_PTR>(&in), reinterpret_cast<DWORD_PTR>(&out)),
            ICERR_OK);
  const auto max = static_cast<size_t>(
      ICSendMessage(ic, ICM_COMPRESS_GET_SIZE, reinterpret_cast<DWORD_PTR>(&in), reinterpret_cast<DWORD_PTR>(&out)));
  std::vector<uint8_t> buf(max);
  std::vector<uint32_t> sizes;
  keys.clear();
  for (int k = 0; k < n; ++k) {
    // Slow change, so an encoder is tempted to skip or delay nothing but
    // could use prediction.
    TDib24 f = Noise(w, h, 7);
    for (size_t i = 0; i < f.Bits.size(); i += 97) f.Bits[i] = static_cast<uint8_t>(k * 8);
    DWORD flags = 0, ckid = 0;
    const DWORD force = static_cast<DWORD>(k) == forceAt ? ICCOMPRESS_KEYFRAME : 0;
    EXPECT_EQ(ICCompress(ic, force, &out, buf.data(), &in, f.Bits.data(), &ckid, &flags, k + 1, 0, 0, nullptr, nullptr),
              ICERR_OK);
    sizes.push_back(out.biSizeImage);
    keys.push_back((flags & AVIIF_KEYFRAME) != 0);
  }
  ICSendMessage(ic, ICM_COMPRESS_END, 0, 0);
  ICClose(ic);
  return sizes;
}

}  // namespace

TEST(Vfw, EnumerationFollowsTheInstalledListAndTheEnvironment) {
  {
    ScopedEnv e("SLIDOMAT_CODECS", "");
    ICINFO info;
    EXPECT_FALSE(ICInfo(ICTYPE_VIDEO, 0, &info));
    EXPECT_EQ(ICOpen(ICTYPE_VIDEO, mmioFOURCC('D', 'I', 'B', ' '), ICMODE_QUERY), nullptr);
  }
  ScopedEnv e("SLIDOMAT_CODECS", "dib ,FFV1");
  ICINFO info;
  ASSERT_TRUE(ICInfo(ICTYPE_VIDEO, 0, &info));
  EXPECT_EQ(info.fccHandler, mmioFOURCC('F', 'F', 'V', '1'));
  EXPECT_EQ(info.dwSize, 568u);
  ASSERT_TRUE(ICInfo(ICTYPE_VIDEO, 1, &info));
  EXPECT_EQ(info.fccHandler, mmioFOURCC('D', 'I', 'B', ' '));
  EXPECT_FALSE(ICInfo(ICTYPE_VIDEO, 2, &info));
  EXPECT_FALSE(ICInfo(mmioFOURCC('a', 'u', 'd', 'c'), 0, &info));
  // FourCCs compare without case, as the platform's do.
  HIC h = ICOpen(ICTYPE_VIDEO, mmioFOURCC('f', 'f', 'v', '1'), ICMODE_QUERY);
  ASSERT_NE(h, nullptr);
  ICINFO got;
  EXPECT_EQ(ICGetInfo(h, &got, 24), 24);  // only what fits
  EXPECT_EQ(got.fccHandler, mmioFOURCC('F', 'F', 'V', '1'));
  EXPECT_EQ(ICClose(h), ICERR_OK);
  EXPECT_EQ(ICClose(nullptr), ICERR_BADHANDLE);
  EXPECT_EQ(ICSendMessage(nullptr, ICM_COMPRESS_QUERY, 0, 0), ICERR_BADHANDLE);
}

TEST(Vfw, TheQueryRefusesWhatTheEncoderCannotTake) {
  ScopedEnv e("SLIDOMAT_CODECS", nullptr);
  const FOURCC dib = mmioFOURCC('D', 'I', 'B', ' '), ffv1 = mmioFOURCC('F', 'F', 'V', '1');
  const FOURCC fmp4 = mmioFOURCC('F', 'M', 'P', '4');
  EXPECT_EQ(QueryOf(dib, Rgb(640, 480)), ICERR_OK);
  EXPECT_EQ(QueryOf(dib, Rgb(-1, -1)), ICERR_BADFORMAT);
  EXPECT_EQ(QueryOf(dib, Rgb(0, 480)), ICERR_BADFORMAT);
  EXPECT_EQ(QueryOf(dib, Rgb(640, 480, 32)), ICERR_BADFORMAT);
  EXPECT_EQ(QueryOf(dib, Rgb(100000, 100000)), ICERR_BADFORMAT);
  EXPECT_EQ(QueryOf(dib, Rgb(65, 49)), ICERR_OK);  // lossless ones take odd sizes
  EXPECT_EQ(QueryOf(ffv1, Rgb(65, 49)), ICERR_OK);
  EXPECT_EQ(QueryOf(fmp4, Rgb(65, 48)), ICERR_BADFORMAT);
  EXPECT_EQ(QueryOf(fmp4, Rgb(64, 48)), ICERR_OK);
  HIC h = ICLocate(ICTYPE_VIDEO, fmp4, nullptr, nullptr, ICMODE_COMPRESS);
  EXPECT_EQ(h, nullptr);  // no input format: nothing to locate for
  const BITMAPINFOHEADER odd = Rgb(65, 49);
  h = ICLocate(ICTYPE_VIDEO, 0, &odd, nullptr, ICMODE_COMPRESS);
  ASSERT_NE(h, nullptr);  // the first installed one that takes odd sizes
  ICINFO info;
  ICGetInfo(h, &info, sizeof info);
  EXPECT_EQ(info.fccHandler, ffv1);
  ICClose(h);
  // A compressor opened only for queries does not compress.
  h = ICOpen(ICTYPE_VIDEO, dib, ICMODE_QUERY);
  const BITMAPINFOHEADER in = Rgb(64, 48);
  EXPECT_NE(ICSendMessage(h, ICM_COMPRESS_BEGIN, reinterpret_cast<DWORD_PTR>(&in), 0), ICERR_OK);
  ICClose(h);
}

TEST(Vfw, OneFramePerFrameWithKeyFramesAtTheSettingsInterval) {
  ScopedEnv e("SLIDOMAT_CODECS", nullptr);
  MemoryStore store;
  SetCompressorSettingsStore(&store);
  ICINFO info;
  for (DWORD n = 0; ICInfo(ICTYPE_VIDEO, n, &info); ++n) {
    const FOURCC f = info.fccHandler;
    SCOPED_TRACE(FourCCChars(f));
    store.values[f] = {7500, 10};
    std::vector<bool> keys;
    const auto sizes = Compress(f, 25, keys);
    ASSERT_EQ(sizes.size(), 25u);
    for (uint32_t s : sizes) EXPECT_GT(s, 0u);
    EXPECT_TRUE(keys[0]);
    if (FourCCChars(f) == "DIB ") continue;  // every raw frame stands alone
    // Key frames at least every 10 frames, and not every frame for the
    // temporal compressors.
    int sinceKey = 0;
    for (bool k : keys) {
      sinceKey = k ? 0 : sinceKey + 1;
      EXPECT_LT(sinceKey, 10);
    }
    const bool temporal = FourCCChars(f) != "MJPG" && FourCCChars(f) != "FFV1";
    if (temporal) {
      EXPECT_FALSE(keys[1]);
    }
    // A key frame can be asked for.
    Compress(f, 6, keys, 3);
    EXPECT_TRUE(keys[3]);
  }
  SetCompressorSettingsStore(nullptr);
}

TEST(Vfw, SettingsBelongToEachCompressorAndApplyAtTheNextOpen) {
  TempDir dir;
  ScopedEnv registryDir("SLIDOMAT_REGISTRY_DIR", dir.path().c_str());
  ScopedEnv e("SLIDOMAT_CODECS", nullptr);
  const FOURCC fmp4 = mmioFOURCC('F', 'M', 'P', '4'), mjpg = mmioFOURCC('M', 'J', 'P', 'G');
  const FOURCC dib = mmioFOURCC('D', 'I', 'B', ' ');
  std::vector<bool> keys;
  const auto before = Compress(fmp4, 3, keys);

  HIC h = ICOpen(ICTYPE_VIDEO, fmp4, ICMODE_QUERY);
  ASSERT_NE(h, nullptr);
  // Without a hook the dialog does nothing visible and nothing changes.
  EXPECT_EQ(ICSendMessage(h, ICM_CONFIGURE, static_cast<DWORD_PTR>(-1), ICMF_CONFIGURE_QUERY), ICERR_OK);
  EXPECT_EQ(ICSendMessage(h, ICM_CONFIGURE, 0, 0), ICERR_OK);
  EXPECT_EQ(ICSendMessage(h, ICM_ABOUT, 0, 0), ICERR_OK);
  EXPECT_FALSE(TRegistry(HKEY_CURRENT_USER).KeyExists("Software\\Tarvenit VfW\\FMP4"));

  std::string aboutSeen;
  SetCompressorDialogHooks(
      [](HWND owner, FOURCC, const std::string&, TCompressorSettings& s) {
        EXPECT_EQ(owner, 77u);
        s.Quality = 1000;            // much lower quality
        s.KeyFrameInterval = 99999;  // beyond range: kept within it
        return true;
      },
      [&](HWND, FOURCC f, const std::string& d) { aboutSeen = FourCCChars(f) + " " + d; });
  EXPECT_EQ(ICSendMessage(h, ICM_CONFIGURE, 77, 0), ICERR_OK);
  EXPECT_EQ(ICSendMessage(h, ICM_ABOUT, 0, 0), ICERR_OK);
  EXPECT_EQ(aboutSeen, "FMP4 FFmpeg MPEG-4 Part 2 Video");
  ICClose(h);

  TCompressorSettings stored;
  CompressorSettingsStore().Load(fmp4, stored);
  EXPECT_EQ(stored.Quality, 1000);
  EXPECT_EQ(stored.KeyFrameInterval, 10000);
  TCompressorSettings other;
  CompressorSettingsStore().Load(mjpg, other);
  EXPECT_EQ(other.Quality, TCompressorSettings{}.Quality);  // another compressor keeps its own

  // Lower quality, smaller frames, from the next open on.
  const auto after = Compress(fmp4, 3, keys);
  EXPECT_LT(after[0], before[0]);

  // The uncompressed format has no configuration dialog.
  h = ICOpen(ICTYPE_VIDEO, dib, ICMODE_QUERY);
  EXPECT_EQ(ICSendMessage(h, ICM_CONFIGURE, static_cast<DWORD_PTR>(-1), ICMF_CONFIGURE_QUERY), ICERR_UNSUPPORTED);
  ICClose(h);
  SetCompressorDialogHooks(nullptr, nullptr);

  // Settings are read from the hive as another program left them; a value of
  // the wrong type costs only that value.
  {
    TRegistry reg(HKEY_CURRENT_USER);
    ASSERT_TRUE(reg.OpenKey("Software\\Tarvenit VfW\\MJPG", true));
    ASSERT_TRUE(reg.WriteInteger("Quality", 1234));
    ASSERT_TRUE(reg.WriteInteger("KeyFrameInterval", 5));
    ASSERT_TRUE(reg.OpenKey("Software\\Tarvenit VfW\\FMP4", true));
    ASSERT_TRUE(reg.WriteString("Quality", "x"));
  }
  CompressorSettingsStore().Load(mjpg, other);
  EXPECT_EQ(other.Quality, 1234);
  EXPECT_EQ(other.KeyFrameInterval, 5);
  TCompressorSettings untouched{4321, 7};
  CompressorSettingsStore().Load(fmp4, untouched);
  EXPECT_EQ(untouched.Quality, 4321);
}
