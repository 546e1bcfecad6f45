// The cubic B-spline stretch of a decoded frame to the video area.
//
// The weights are FreeImage's own for FILTER_BSPLINE (the same kernel,
// centres, support and renormalisation at the picture's edges); only the
// arithmetic differs: fixed point, one separable pass per axis, written
// straight into the 32-bit rows the window's surface takes.
#pragma once

#include <cstdint>
#include <vector>

// One axis: for every destination pixel the first source pixel it reads and
// `taps` weights (1.0 = 1 << kScaleBits), zero beyond its own support.
struct t_ScaleAxis {
  int src = 0;
  int dst = 0;
  int taps = 0; // even, so the weights go in pairs
  std::vector<int> left;
  std::vector<std::int16_t> weights; // dst * taps
};

// Weight tables and the row buffer of one stretch; kept from frame to frame
// while the sizes stay the same.
struct t_BsplineScale {
  t_ScaleAxis x, y;
  int step = 1; // source pixels per axis sample: 2 when decoded at half size
  std::vector<std::int16_t> row; // one vertically filtered source row
  // The horizontal weights laid out for the vector units: per two
  // destination pixels and per weight pair, the pair repeated four times
  // for the first pixel, then for the second.
  std::vector<std::int32_t> xpairs;
  std::vector<int> xoffsets; // per destination pixel (and the last again):
                             // its first value in `row`
};

constexpr int kScaleBits = 14;

// FreeImage's B-spline weights for `src` -> `dst` pixels. With `step` 2 the
// source was decoded at half size: sample j stands for full-size pixels 2j
// and 2j + 1, and `fullSrc` is the full size.
void BsplineAxis(t_ScaleAxis &axis, int fullSrc, int dst, int step = 1);

// Stretches a 24-bit picture (B, G, R bytes; `srcPitch` bytes from one row
// to the next, negative for a picture stored bottom row first with `src`
// pointing at its top row) of srcW x srcH to dstW x dstH 32-bit pixels (B,
// G, R, 0xFF), top row first, rows `dstPitch` bytes apart. `fullW` x
// `fullH` is the size the picture had before a reduced decode (equal to
// srcW x srcH otherwise). False when a size is not positive.
bool BsplineScale(t_BsplineScale &scale, const std::uint8_t *src, int srcW,
                  int srcH, int srcPitch, int fullW, int fullH,
                  std::uint8_t *dst, int dstW, int dstH, int dstPitch);

// Where the processor has AVX2 the stretch uses it (the same arithmetic,
// twice as wide). False keeps to the SSE2 code, so that tests cover both;
// true goes back to choosing by the processor.
void BsplineAllowAvx2(bool allow);
