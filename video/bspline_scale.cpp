// The cubic B-spline stretch: FreeImage's weights, fixed-point arithmetic.
//
// Vertical pass first, one destination row at a time: the source rows under
// the filter are blended into one row of 16-bit values (8 bits and 7 more of
// fraction), which the horizontal pass then turns into the destination row.
// Nothing is rounded to 8 bits in between, so the result is at least as
// close to the exact filter as FreeImage's own two-pass output.
#include "video/bspline_scale.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr int kRowBits = 7; // fraction bits of the vertically filtered row

// FreeImage's CBSplineFilter: support 2, 4th order (cubic).
double BSpline(double x) {
  x = std::fabs(x);
  if (x < 1)
    return (4 + x * x * (-6 + 3 * x)) / 6;
  if (x < 2) {
    const double t = 2 - x;
    return t * t * t / 6;
  }
  return 0;
}

int RowBytes(int pixels) { return pixels * 3; }

// Vertical pass: `rows` (taps of them, in pairs) blended with `weights`
// into `out`, `n` bytes wide.
void BlendRows(const std::uint8_t *const *rows, const std::int16_t *weights,
               int taps, int n, std::int16_t *out) {
  int i = 0;
  constexpr int kRound = 1 << (kScaleBits - kRowBits - 1);
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  const __m128i round = _mm_set1_epi32(kRound);
  for (; i + 16 <= n; i += 16) {
    __m128i acc0 = round, acc1 = round, acc2 = round, acc3 = round;
    for (int k = 0; k < taps; k += 2) {
      std::int32_t pair;
      std::memcpy(&pair, weights + k, sizeof pair);
      const __m128i w = _mm_set1_epi32(pair);
      const __m128i a =
          _mm_loadu_si128(reinterpret_cast<const __m128i *>(rows[k] + i));
      const __m128i b =
          _mm_loadu_si128(reinterpret_cast<const __m128i *>(rows[k + 1] + i));
      const __m128i alo = _mm_unpacklo_epi8(a, zero);
      const __m128i ahi = _mm_unpackhi_epi8(a, zero);
      const __m128i blo = _mm_unpacklo_epi8(b, zero);
      const __m128i bhi = _mm_unpackhi_epi8(b, zero);
      acc0 =
          _mm_add_epi32(acc0, _mm_madd_epi16(_mm_unpacklo_epi16(alo, blo), w));
      acc1 =
          _mm_add_epi32(acc1, _mm_madd_epi16(_mm_unpackhi_epi16(alo, blo), w));
      acc2 =
          _mm_add_epi32(acc2, _mm_madd_epi16(_mm_unpacklo_epi16(ahi, bhi), w));
      acc3 =
          _mm_add_epi32(acc3, _mm_madd_epi16(_mm_unpackhi_epi16(ahi, bhi), w));
    }
    constexpr int kShift = kScaleBits - kRowBits;
    const __m128i lo = _mm_packs_epi32(_mm_srai_epi32(acc0, kShift),
                                       _mm_srai_epi32(acc1, kShift));
    const __m128i hi = _mm_packs_epi32(_mm_srai_epi32(acc2, kShift),
                                       _mm_srai_epi32(acc3, kShift));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i), lo);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i + 8), hi);
  }
#endif
  for (; i < n; ++i) {
    int acc = kRound;
    for (int k = 0; k < taps; ++k)
      acc += weights[k] * rows[k][i];
    out[i] = static_cast<std::int16_t>(acc >> (kScaleBits - kRowBits));
  }
}

// Horizontal pass: the blended row (3 values a pixel, padded with zeros past
// its end) into `dst` 32-bit pixels.
void BlendPixels(const std::int16_t *row, const t_ScaleAxis &x,
                 std::uint8_t *dst) {
  const int taps = x.taps;
  constexpr int kBits = kScaleBits + kRowBits;
#if defined(__SSE2__)
  const __m128i round = _mm_set1_epi32(1 << (kBits - 1));
  const __m128i alpha = _mm_set1_epi32(static_cast<int>(0xFF000000u));
  for (int d = 0; d < x.dst; ++d) {
    const std::int16_t *in = row + x.left[d] * 3;
    const std::int16_t *w =
        x.weights.data() + static_cast<std::size_t>(d) * taps;
    __m128i acc = round;
    for (int k = 0; k < taps; k += 2, in += 6) {
      std::int32_t pair;
      std::memcpy(&pair, w + k, sizeof pair);
      const __m128i a = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(in));
      const __m128i b =
          _mm_loadl_epi64(reinterpret_cast<const __m128i *>(in + 3));
      acc = _mm_add_epi32(
          acc, _mm_madd_epi16(_mm_unpacklo_epi16(a, b), _mm_set1_epi32(pair)));
    }
    __m128i v = _mm_srai_epi32(acc, kBits);
    v = _mm_packs_epi32(v, v);
    v = _mm_packus_epi16(v, v);
    v = _mm_or_si128(v, alpha);
    const std::int32_t pixel = _mm_cvtsi128_si32(v);
    std::memcpy(dst + d * 4, &pixel, 4);
  }
#else
  for (int d = 0; d < x.dst; ++d) {
    const std::int16_t *in = row + x.left[d] * 3;
    const std::int16_t *w =
        x.weights.data() + static_cast<std::size_t>(d) * taps;
    int b = 1 << (kBits - 1), g = b, r = b;
    for (int k = 0; k < taps; ++k, in += 3) {
      b += w[k] * in[0];
      g += w[k] * in[1];
      r += w[k] * in[2];
    }
    dst[d * 4] = static_cast<std::uint8_t>(std::clamp(b >> kBits, 0, 255));
    dst[d * 4 + 1] = static_cast<std::uint8_t>(std::clamp(g >> kBits, 0, 255));
    dst[d * 4 + 2] = static_cast<std::uint8_t>(std::clamp(r >> kBits, 0, 255));
    dst[d * 4 + 3] = 0xFF;
  }
#endif
}

} // namespace

void BsplineAxis(t_ScaleAxis &axis, int fullSrc, int dst, int step) {
  step = std::max(step, 1);
  const int src = (fullSrc + step - 1) / step;
  axis.src = src;
  axis.dst = dst;
  // As FreeImage's CWeightsTable: a widened filter when shrinking.
  const double scale = static_cast<double>(dst) / fullSrc;
  const double width = scale < 1 ? 2.0 / scale : 2.0;
  const double fscale = scale < 1 ? scale : 1.0;
  const double offset = 0.5 / scale;

  std::vector<std::vector<double>> folded(static_cast<std::size_t>(dst));
  axis.left.assign(static_cast<std::size_t>(dst), 0);
  int taps = 2;
  // FreeImage leaves an axis that keeps its size alone: no filter on it.
  const bool kept = step == 1 && fullSrc == dst;
  for (int u = 0; u < dst && kept; ++u) {
    folded[static_cast<std::size_t>(u)] = {1.0};
    axis.left[static_cast<std::size_t>(u)] = u;
  }
  for (int u = 0; u < dst && !kept; ++u) {
    const double centre = u / scale + offset;
    const int left = std::max(0, static_cast<int>(centre - width + 0.5));
    const int right = std::min(static_cast<int>(centre + width + 0.5), fullSrc);
    std::vector<double> &w = folded[static_cast<std::size_t>(u)];
    double total = 0;
    const int first = left / step;
    for (int i = left; i < right; ++i) {
      const double weight = fscale * BSpline(fscale * (i + 0.5 - centre));
      const std::size_t at = static_cast<std::size_t>(i / step - first);
      if (w.size() <= at)
        w.resize(at + 1, 0.0);
      w[at] += weight;
      total += weight;
    }
    if (total > 0)
      for (double &v : w)
        v /= total;
    // Zero weights at the right end read nothing.
    while (!w.empty() && w.back() == 0)
      w.pop_back();
    axis.left[static_cast<std::size_t>(u)] = first;
    taps = std::max(taps, static_cast<int>(w.size()));
  }
  taps += taps & 1;
  axis.taps = taps;
  axis.weights.assign(static_cast<std::size_t>(dst) * taps, 0);
  for (int u = 0; u < dst; ++u) {
    const std::vector<double> &w = folded[static_cast<std::size_t>(u)];
    std::int16_t *out =
        axis.weights.data() + static_cast<std::size_t>(u) * taps;
    // Rounded to fixed point with the sum kept at exactly one, so a flat
    // picture stays flat.
    int sum = 0, biggest = 0;
    for (std::size_t k = 0; k < w.size(); ++k) {
      out[k] = static_cast<std::int16_t>(std::lround(w[k] * (1 << kScaleBits)));
      sum += out[k];
      if (out[k] > out[biggest])
        biggest = static_cast<int>(k);
    }
    if (!w.empty())
      out[biggest] =
          static_cast<std::int16_t>(out[biggest] + (1 << kScaleBits) - sum);
  }
}

bool BsplineScale(t_BsplineScale &s, const std::uint8_t *src, int srcW,
                  int srcH, int srcPitch, int fullW, int fullH,
                  std::uint8_t *dst, int dstW, int dstH, int dstPitch) {
  if (src == nullptr || dst == nullptr || srcW <= 0 || srcH <= 0 || dstW <= 0 ||
      dstH <= 0 || fullW < srcW || fullH < srcH)
    return false;
  const int step = fullW == srcW && fullH == srcH ? 1 : 2;
  if ((fullW + step - 1) / step != srcW || (fullH + step - 1) / step != srcH)
    return false;
  if (step == 1 && srcW == dstW && srcH == dstH) {
    // FreeImage hands a picture of the asked size back as it is.
    for (int v = 0; v < dstH; ++v) {
      const std::uint8_t *from =
          src + static_cast<std::ptrdiff_t>(v) * srcPitch;
      std::uint8_t *to = dst + static_cast<std::ptrdiff_t>(v) * dstPitch;
      for (int u = 0; u < dstW; ++u) {
        to[u * 4] = from[u * 3];
        to[u * 4 + 1] = from[u * 3 + 1];
        to[u * 4 + 2] = from[u * 3 + 2];
        to[u * 4 + 3] = 0xFF;
      }
    }
    return true;
  }
  if (s.step != step || s.x.src != srcW || s.x.dst != dstW || s.y.src != srcH ||
      s.y.dst != dstH || s.x.weights.empty() || s.y.weights.empty()) {
    s.step = step;
    BsplineAxis(s.x, fullW, dstW, step);
    BsplineAxis(s.y, fullH, dstH, step);
    // Room for the last pixel's taps and one value more for 4-value loads,
    // all zero past the picture.
    s.row.assign(static_cast<std::size_t>(RowBytes(srcW + s.x.taps + 1)) + 1,
                 0);
  }

  const int taps = s.y.taps;
  std::vector<const std::uint8_t *> rows(static_cast<std::size_t>(taps));
  for (int v = 0; v < dstH; ++v) {
    const int left = s.y.left[static_cast<std::size_t>(v)];
    for (int k = 0; k < taps; ++k) {
      // Taps past the last row weigh nothing; they read the last row.
      const int r = std::min(left + k, srcH - 1);
      rows[static_cast<std::size_t>(k)] =
          src + static_cast<std::ptrdiff_t>(r) * srcPitch;
    }
    BlendRows(rows.data(),
              s.y.weights.data() + static_cast<std::size_t>(v) * taps, taps,
              RowBytes(srcW), s.row.data());
    BlendPixels(s.row.data(), s.x,
                dst + static_cast<std::ptrdiff_t>(v) * dstPitch);
  }
  return true;
}
