#include "audio/mpeg/HybridFilter.h"

#include <cmath>
#include <cstring>

namespace sdm {

namespace {

// Lanes of the sums: GCC's vector extension (SSE registers on x86).
typedef float v4sf __attribute__((vector_size(16)));

inline v4sf Load(const float* p) {
  v4sf v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

struct THybridTables {
  float window[4][36];  // block types 0-3 (type 2 uses the first 12)
  float cos36[36][18];  // cos(pi / 72 (2i + 1 + 18)(2k + 1))
  // The middle half of cos36 by input line: lanes t = 0..17 are outputs
  // 9 + t, the two last lanes zero.
  alignas(16) float middle[18][20];
  float cos12[12][6];  // cos(pi / 24 (2i + 1 + 6)(2k + 1))
  float cs[8], ca[8];
  THybridTables() {
    for (int i = 0; i < 36; ++i) {
      double longWin = std::sin(M_PI / 36 * (i + 0.5));
      window[0][i] = static_cast<float>(longWin);
      // Start block: long rising half, flat, short falling slope, zeros.
      double start = i < 18 ? longWin : i < 24 ? 1.0 : i < 30 ? std::sin(M_PI / 12 * (i - 18 + 0.5)) : 0.0;
      // Stop block: the mirror image.
      double stop = i < 6 ? 0.0 : i < 12 ? std::sin(M_PI / 12 * (i - 6 + 0.5)) : i < 18 ? 1.0 : longWin;
      window[1][i] = static_cast<float>(start);
      window[3][i] = static_cast<float>(stop);
      window[2][i] = i < 12 ? static_cast<float>(std::sin(M_PI / 12 * (i + 0.5))) : 0.0f;
    }
    for (int i = 0; i < 36; ++i)
      for (int k = 0; k < 18; ++k)
        cos36[i][k] = static_cast<float>(std::cos(M_PI / 72 * (2 * i + 1 + 18) * (2 * k + 1)));
    for (int k = 0; k < 18; ++k)
      for (int t = 0; t < 20; ++t) middle[k][t] = t < 18 ? cos36[9 + t][k] : 0.0f;
    for (int i = 0; i < 12; ++i)
      for (int k = 0; k < 6; ++k) cos12[i][k] = static_cast<float>(std::cos(M_PI / 24 * (2 * i + 1 + 6) * (2 * k + 1)));
    // Antialias coefficients c[i] of ISO/IEC 11172-3 Table 3-B.9.
    const double c[8] = {-0.6, -0.535, -0.33, -0.185, -0.095, -0.041, -0.0142, -0.0037};
    for (int i = 0; i < 8; ++i) {
      double sq = std::sqrt(1.0 + c[i] * c[i]);
      cs[i] = static_cast<float>(1.0 / sq);
      ca[i] = static_cast<float>(c[i] / sq);
    }
  }
};

const THybridTables& Hybrid() {
  static const THybridTables t;
  return t;
}

}  // namespace

void HybridSubband(const float* in, int blockType, float* overlap, float* out) {
  const THybridTables& t = Hybrid();
  // Subbands above the coded lines are common: an all-zero input only
  // releases the overlap.
  int lines = 18;  // up to the last nonzero line
  while (lines > 0 && in[lines - 1] == 0.0f) --lines;
  if (lines == 0) {
    for (int i = 0; i < 18; ++i) {
      out[i] = overlap[i];
      overlap[i] = 0.0f;
    }
    return;
  }
  // The inverse transform's output is odd-symmetric in its first half and
  // even-symmetric in its second (x[n/2 - 1 - i] = -x[i], x[n - 1 - i] =
  // x[n/2 + i] around the middle quarters), so only the middle half is summed.
  float y[36];
  if (blockType == 2) {
    for (int i = 0; i < 36; ++i) y[i] = 0.0f;
    for (int w = 0; w < 3; ++w) {
      float x[12];
      for (int i = 3; i < 9; ++i) {
        float sum = 0.0f;
        for (int k = 0; k < 6; ++k) sum += in[3 * k + w] * t.cos12[i][k];
        x[i] = sum;
      }
      for (int i = 0; i < 3; ++i) {
        x[i] = -x[5 - i];
        x[11 - i] = x[6 + i];
      }
      for (int i = 0; i < 12; ++i) y[6 + 6 * w + i] += x[i] * t.window[2][i];
    }
  } else {
    const float* win = t.window[blockType & 3];
    // The 18 sums in lanes, one input line at a time: each output adds its
    // terms in the same order as a sum of its own would. The zero lines
    // after the last coded one add nothing.
    v4sf a0 = {}, a1 = {}, a2 = {}, a3 = {}, a4 = {};  // registers, not an array in memory
    for (int k = 0; k < lines; ++k) {
      const v4sf v = {in[k], in[k], in[k], in[k]};
      const float* c = t.middle[k];
      a0 += v * Load(c);
      a1 += v * Load(c + 4);
      a2 += v * Load(c + 8);
      a3 += v * Load(c + 12);
      a4 += v * Load(c + 16);
    }
    float x[36];
    float lanes[20];
    std::memcpy(lanes, &a0, 16);
    std::memcpy(lanes + 4, &a1, 16);
    std::memcpy(lanes + 8, &a2, 16);
    std::memcpy(lanes + 12, &a3, 16);
    std::memcpy(lanes + 16, &a4, 16);
    for (int i = 9; i < 27; ++i) x[i] = lanes[i - 9];
    for (int i = 0; i < 9; ++i) {
      x[i] = -x[17 - i];
      x[35 - i] = x[18 + i];
    }
    for (int i = 0; i < 36; ++i) y[i] = x[i] * win[i];
  }
  for (int i = 0; i < 18; ++i) {
    out[i] = y[i] + overlap[i];
    overlap[i] = y[18 + i];
  }
}

void Antialias(float* xr, int boundaries) {
  const THybridTables& t = Hybrid();
  for (int sb = 1; sb <= boundaries && sb < 32; ++sb) {
    float* lo = xr + 18 * sb - 1;
    float* hi = xr + 18 * sb;
    for (int i = 0; i < 8; ++i) {
      float a = lo[-i], b = hi[i];
      lo[-i] = a * t.cs[i] - b * t.ca[i];
      hi[i] = b * t.cs[i] + a * t.ca[i];
    }
  }
}

}  // namespace sdm
