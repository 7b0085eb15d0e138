#pragma once
// Unit mpeg_big_calc.
// The hybrid filter arithmetic of Layer III: the inverse MDCT of 18 lines
// (long blocks) or 3 x 6 lines (short blocks) with the block type's window,
// overlap-add with the previous granule, and the antialias butterflies.
namespace sdm {

// One subband: in holds its 18 spectral lines (for short blocks ordered by
// frequency, the three windows interleaved: line 3k + w), overlap the 18
// values carried from the previous granule; out receives 18 time samples and
// overlap the next granule's share.
void HybridSubband(const float* in, int blockType, float* overlap, float* out);

// Antialias butterflies between neighbouring subbands of xr, over the first
// `boundaries` subband boundaries.
void Antialias(float* xr, int boundaries);

}  // namespace sdm
