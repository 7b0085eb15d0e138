#include "frames/ExifOrientation.h"

#include <gtest/gtest.h>

#include <random>

#include "frames/PictureFiles.h"

namespace sdm {
namespace {

using test::ExifEntry;
using test::ExifIfd;
using test::ExifIfdOffsets;
using test::ExifPayload;
using test::ExifWithOrientation;

int Read(const std::vector<uint8_t>& b) { return ExifOrientation(b.data(), b.size()); }

TEST(ExifOrientationTest, ReadsTheTagInBothByteOrders) {
  for (int o = 1; o <= 8; ++o) {
    EXPECT_EQ(Read(ExifWithOrientation(o)), o);
    EXPECT_EQ(Read(ExifWithOrientation(o, true)), o);
  }
  // Motorola order puts the short's high byte first: 6 is 00 06, not 06 00.
  std::vector<uint8_t> big = ExifWithOrientation(6, true);
  EXPECT_EQ(big[6], 'M');
  // No tag at all, or an empty directory.
  EXPECT_EQ(Read(ExifPayload({{{{0x010F, 2, 4, 0}}}})), 1);
  EXPECT_EQ(Read(ExifPayload({{}})), 1);
}

TEST(ExifOrientationTest, GarbledBlocksReadAsUpright) {
  const std::vector<uint8_t> good = ExifWithOrientation(6);
  auto with = [&](size_t pos, std::initializer_list<uint8_t> bytes) {
    std::vector<uint8_t> b = good;
    size_t i = pos;
    for (uint8_t v : bytes) b[i++] = v;
    return b;
  };
  // Offsets from the start of the payload: "Exif\0\0" (6), byte order (6),
  // 42 (8), IFD0 offset (10), entry count (14), entries from 16; the
  // orientation is the second entry, at 28.
  const std::vector<std::pair<const char*, std::vector<uint8_t>>> cases = {
      {"XMP instead of EXIF", with(0, {'h', 't', 't', 'p'})},
      {"unknown byte order", with(6, {'I', 'M'})},
      {"not 42", with(8, {43, 0})},
      {"IFD0 beyond the block", with(10, {0xF0, 0xFF, 0, 0})},
      {"IFD0 offset near 4 GiB", with(10, {0xFE, 0xFF, 0xFF, 0xFF})},
      {"more entries than the block holds", with(14, {200, 0})},
      {"orientation 0", with(36, {0, 0})},
      {"orientation 9", with(36, {9, 0})},
      {"orientation as a LONG", with(30, {4, 0})},
      {"orientation with two values", with(32, {2, 0})},
      {"header only", std::vector<uint8_t>(good.begin(), good.begin() + 14)},
  };
  ASSERT_EQ(Read(with(36, {3, 0})), 3);  // the offsets above are right
  for (const auto& [what, block] : cases) EXPECT_EQ(Read(block), 1) << what;
  // A directory cut short is not believed, even where the entry survives.
  for (size_t cut = 0; cut < good.size() - 4; ++cut)
    EXPECT_EQ(Read(std::vector<uint8_t>(good.begin(), good.begin() + cut)), 1) << "cut at " << cut;
  EXPECT_EQ(Read({}), 1);
  EXPECT_EQ(ExifOrientation(nullptr, 0), 1);
}

// Only IFD0 describes the picture; IFD1 is the thumbnail's. A chain that
// loops back on itself, or points nowhere, does not matter.
TEST(ExifOrientationTest, OnlyTheFirstDirectoryCountsWhateverTheChain) {
  std::vector<ExifIfd> ifds = {{{{0x010F, 2, 4, 0}}}, {{{0x0112, 3, 1, 6}}}};
  const std::vector<uint32_t> at = ExifIfdOffsets(ifds);
  ifds[0].next = at[1];
  ifds[1].next = at[0];  // IFD1 links back to IFD0
  EXPECT_EQ(Read(ExifPayload(ifds)), 1);
  ifds[0].next = at[0];  // IFD0 links to itself
  EXPECT_EQ(Read(ExifPayload(ifds)), 1);
  std::vector<ExifIfd> withTag = {{{{0x0112, 3, 1, 8}}}};
  withTag[0].next = at[0];
  EXPECT_EQ(Read(ExifPayload(withTag, true)), 8);
  withTag[0].next = 0xFFFFFFF0;
  EXPECT_EQ(Read(ExifPayload(withTag)), 8);
}

// Random damage to a valid block reads as some orientation 1..8, never out
// of bounds (the sanitizer build checks the reads).
TEST(ExifOrientationTest, RandomDamageGivesAValidOrientation) {
  std::mt19937 rng(7);
  const std::vector<uint8_t> good = ExifWithOrientation(3, true);
  for (int k = 0; k < 3000; ++k) {
    std::vector<uint8_t> b = good;
    for (int n = 0; n < 3; ++n) b[6 + rng() % (b.size() - 6)] = static_cast<uint8_t>(rng());
    b.resize(6 + rng() % (b.size() - 5));
    const int o = Read(b);
    ASSERT_GE(o, 1);
    ASSERT_LE(o, 8);
  }
}

}  // namespace
}  // namespace sdm
