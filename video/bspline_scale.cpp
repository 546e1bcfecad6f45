// The cubic B-spline stretch: FreeImage's weights, fixed-point arithmetic.
//
// Vertical pass first, one destination row at a time: the source rows under
// the filter are blended into one row of 16-bit values (8 bits and 7 more of
// fraction), which the horizontal pass then turns into the destination row.
// Nothing is rounded to 8 bits in between, so the result is at least as
// close to the exact filter as FreeImage's own two-pass output.
//
// Both passes multiply pairs of 16-bit values by pairs of weights (madd),
// on 16-byte registers everywhere and on 32-byte ones where the processor
// has AVX2; the two give the same bytes.
#include "video/bspline_scale.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <immintrin.h>
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

constexpr int kMaxPairs = 32; // weight pairs kept in registers per pass

// Vertical pass: `rows` (taps of them, in pairs) blended with `weights`
// into `out`, `n` bytes wide. `from` is where the vector code stopped.
void BlendRowsTail(const std::uint8_t *const *rows, const std::int16_t *weights,
                   int taps, int from, int n, std::int16_t *out) {
  constexpr int kRound = 1 << (kScaleBits - kRowBits - 1);
  for (int i = from; i < n; ++i) {
    int acc = kRound;
    for (int k = 0; k < taps; ++k)
      acc += weights[k] * rows[k][i];
    out[i] = static_cast<std::int16_t>(acc >> (kScaleBits - kRowBits));
  }
}

std::int32_t Pair(const std::int16_t *w) {
  std::int32_t pair;
  std::memcpy(&pair, w, sizeof pair);
  return pair;
}

// What one pass needs from the tables, in registers rather than behind the
// destination pointer (whose byte stores could alias anything).
struct t_Pass {
  const std::int16_t *row;   // vertically blended values
  const int *offsets;        // per destination pixel: its first value
  const std::int32_t *pairs; // the weights as t_BsplineScale::xpairs
  int n;                     // weight pairs per pixel
  int dst;                   // destination pixels
};

// The passes come in versions for a fixed number of weight pairs (P), which
// the compiler unrolls; P = 0 takes the count from the tables. The usual
// stretches need 2 to 7 pairs.
#define VESTIBELL_BY_PAIRS(call, pairs, ...)                                   \
  switch (pairs) {                                                             \
  case 2:                                                                      \
    call<2>(__VA_ARGS__);                                                      \
    break;                                                                     \
  case 3:                                                                      \
    call<3>(__VA_ARGS__);                                                      \
    break;                                                                     \
  case 4:                                                                      \
    call<4>(__VA_ARGS__);                                                      \
    break;                                                                     \
  case 5:                                                                      \
    call<5>(__VA_ARGS__);                                                      \
    break;                                                                     \
  case 6:                                                                      \
    call<6>(__VA_ARGS__);                                                      \
    break;                                                                     \
  case 7:                                                                      \
    call<7>(__VA_ARGS__);                                                      \
    break;                                                                     \
  default:                                                                     \
    call<0>(__VA_ARGS__);                                                      \
    break;                                                                     \
  }

#if defined(__SSE2__)
template <int P>
void BlendRowsSse2(const std::uint8_t *const *rows, const std::int16_t *weights,
                   int taps, int n, std::int16_t *out) {
  constexpr int kRound = 1 << (kScaleBits - kRowBits - 1);
  constexpr int kShift = kScaleBits - kRowBits;
  const int pairs = P > 0 ? P : std::min(taps / 2, kMaxPairs);
  __m128i w[kMaxPairs];
  for (int k = 0; k < pairs; ++k)
    w[k] = _mm_set1_epi32(Pair(weights + 2 * k));
  const __m128i zero = _mm_setzero_si128();
  const __m128i round = _mm_set1_epi32(kRound);
  int i = 0;
  for (; taps <= 2 * kMaxPairs && i + 16 <= n; i += 16) {
    __m128i acc0 = round, acc1 = round, acc2 = round, acc3 = round;
#pragma GCC unroll 8
    for (int k = 0; k < pairs; ++k) {
      const __m128i a =
          _mm_loadu_si128(reinterpret_cast<const __m128i *>(rows[2 * k] + i));
      const __m128i b = _mm_loadu_si128(
          reinterpret_cast<const __m128i *>(rows[2 * k + 1] + i));
      // Byte pairs (a, b) side by side, then widened: what madd multiplies
      // with the weight pair.
      const __m128i lo = _mm_unpacklo_epi8(a, b);
      const __m128i hi = _mm_unpackhi_epi8(a, b);
      acc0 = _mm_add_epi32(acc0,
                           _mm_madd_epi16(_mm_unpacklo_epi8(lo, zero), w[k]));
      acc1 = _mm_add_epi32(acc1,
                           _mm_madd_epi16(_mm_unpackhi_epi8(lo, zero), w[k]));
      acc2 = _mm_add_epi32(acc2,
                           _mm_madd_epi16(_mm_unpacklo_epi8(hi, zero), w[k]));
      acc3 = _mm_add_epi32(acc3,
                           _mm_madd_epi16(_mm_unpackhi_epi8(hi, zero), w[k]));
    }
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i),
                     _mm_packs_epi32(_mm_srai_epi32(acc0, kShift),
                                     _mm_srai_epi32(acc1, kShift)));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i + 8),
                     _mm_packs_epi32(_mm_srai_epi32(acc2, kShift),
                                     _mm_srai_epi32(acc3, kShift)));
  }
  BlendRowsTail(rows, weights, taps, i, n, out);
}

// One pixel of the horizontal pass: a load of eight values holds the two
// pixels of a weight pair; shifted by one pixel and interleaved, madd
// weighs B, G and R (the fourth lane is left over and ends as alpha).
template <int P>
inline __m128i OnePixel(const std::int16_t *in, const std::int32_t *w,
                        int pairs) {
  constexpr int kBits = kScaleBits + kRowBits;
  const int np = P > 0 ? P : pairs;
  __m128i acc = _mm_set1_epi32(1 << (kBits - 1));
  // Unrolled where the count is fixed.
#pragma GCC unroll 8
  for (int k = 0; k < np; ++k) {
    const __m128i a =
        _mm_loadu_si128(reinterpret_cast<const __m128i *>(in + 6 * k));
    acc = _mm_add_epi32(
        acc, _mm_madd_epi16(_mm_unpacklo_epi16(a, _mm_srli_si128(a, 6)),
                            _mm_loadu_si128(
                                reinterpret_cast<const __m128i *>(w + 8 * k))));
  }
  return _mm_srai_epi32(acc, kBits);
}

// Horizontal pass: the blended row (3 values a pixel, padded with zeros past
// its end) into `dst` 32-bit pixels, four at a time.
template <int P> void BlendPixelsSse2(const t_Pass p, std::uint8_t *dst) {
  const int pairs = P > 0 ? P : p.n;
  const std::size_t block = static_cast<std::size_t>(pairs) * 8;
  const __m128i alpha = _mm_set1_epi32(static_cast<int>(0xFF000000u));
  const auto pixel = [&](int d) {
    return OnePixel<P>(p.row + p.offsets[d],
                       p.pairs + (d / 2) * block + (d & 1) * 4, pairs);
  };
  int d = 0;
  for (; d + 4 <= p.dst; d += 4) {
    const __m128i p01 = _mm_packs_epi32(pixel(d), pixel(d + 1));
    const __m128i p23 = _mm_packs_epi32(pixel(d + 2), pixel(d + 3));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + d * 4),
                     _mm_or_si128(_mm_packus_epi16(p01, p23), alpha));
  }
  for (; d < p.dst; ++d) {
    __m128i v = pixel(d);
    v = _mm_packs_epi32(v, v);
    v = _mm_or_si128(_mm_packus_epi16(v, v), alpha);
    const std::int32_t out = _mm_cvtsi128_si32(v);
    std::memcpy(dst + d * 4, &out, 4);
  }
}

void BlendRows(const std::uint8_t *const *rows, const std::int16_t *weights,
               int taps, int n, std::int16_t *out) {
  VESTIBELL_BY_PAIRS(BlendRowsSse2, taps / 2, rows, weights, taps, n, out)
}

void BlendPixels(const t_Pass &p, std::uint8_t *dst) {
  VESTIBELL_BY_PAIRS(BlendPixelsSse2, p.n, p, dst)
}

#if defined(__GNUC__)
#define VESTIBELL_AVX2 1
// The same two passes on 32-byte registers.
template <int P>
__attribute__((target("avx2"))) void
BlendRowsAvx2T(const std::uint8_t *const *rows, const std::int16_t *weights,
               int taps, int n, std::int16_t *out) {
  constexpr int kRound = 1 << (kScaleBits - kRowBits - 1);
  constexpr int kShift = kScaleBits - kRowBits;
  const int pairs = P > 0 ? P : std::min(taps / 2, kMaxPairs);
  __m256i w[kMaxPairs];
  for (int k = 0; k < pairs; ++k)
    w[k] = _mm256_set1_epi32(Pair(weights + 2 * k));
  const __m256i zero = _mm256_setzero_si256();
  const __m256i round = _mm256_set1_epi32(kRound);
  int i = 0;
  for (; taps <= 2 * kMaxPairs && i + 32 <= n; i += 32) {
    __m256i acc0 = round, acc1 = round, acc2 = round, acc3 = round;
#pragma GCC unroll 8
    for (int k = 0; k < pairs; ++k) {
      const __m256i a = _mm256_loadu_si256(
          reinterpret_cast<const __m256i *>(rows[2 * k] + i));
      const __m256i b = _mm256_loadu_si256(
          reinterpret_cast<const __m256i *>(rows[2 * k + 1] + i));
      const __m256i lo = _mm256_unpacklo_epi8(a, b);
      const __m256i hi = _mm256_unpackhi_epi8(a, b);
      acc0 = _mm256_add_epi32(
          acc0, _mm256_madd_epi16(_mm256_unpacklo_epi8(lo, zero), w[k]));
      acc1 = _mm256_add_epi32(
          acc1, _mm256_madd_epi16(_mm256_unpackhi_epi8(lo, zero), w[k]));
      acc2 = _mm256_add_epi32(
          acc2, _mm256_madd_epi16(_mm256_unpacklo_epi8(hi, zero), w[k]));
      acc3 = _mm256_add_epi32(
          acc3, _mm256_madd_epi16(_mm256_unpackhi_epi8(hi, zero), w[k]));
    }
    // The unpacks work within 16-byte halves: values 0-7 and 16-23 are in
    // the first result, 8-15 and 24-31 in the second.
    const __m256i first = _mm256_packs_epi32(_mm256_srai_epi32(acc0, kShift),
                                             _mm256_srai_epi32(acc1, kShift));
    const __m256i second = _mm256_packs_epi32(_mm256_srai_epi32(acc2, kShift),
                                              _mm256_srai_epi32(acc3, kShift));
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + i),
                        _mm256_permute2x128_si256(first, second, 0x20));
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + i + 16),
                        _mm256_permute2x128_si256(first, second, 0x31));
  }
  BlendRowsTail(rows, weights, taps, i, n, out);
}

// Two pixels, one in each half of the register: `a` and `b` are their first
// values, `w` their weights as laid out in xpairs.
template <int P>
__attribute__((target("avx2"), always_inline)) inline __m256i
TwoPixels(const std::int16_t *a, const std::int16_t *b, const std::int32_t *w,
          int pairs) {
  constexpr int kBits = kScaleBits + kRowBits;
  const int np = P > 0 ? P : pairs;
  // Words 0 3 1 4 2 5 3 6 of each half: what the unpack of the SSE2 code
  // gives, in one shuffle.
  const __m256i weave =
      _mm256_setr_epi8(0, 1, 6, 7, 2, 3, 8, 9, 4, 5, 10, 11, 6, 7, 12, 13, 0, 1,
                       6, 7, 2, 3, 8, 9, 4, 5, 10, 11, 6, 7, 12, 13);
  __m256i acc = _mm256_set1_epi32(1 << (kBits - 1));
  // Unrolled where the count is fixed.
#pragma GCC unroll 8
  for (int k = 0; k < np; ++k) {
    const __m256i v = _mm256_inserti128_si256(
        _mm256_castsi128_si256(
            _mm_loadu_si128(reinterpret_cast<const __m128i *>(a + 6 * k))),
        _mm_loadu_si128(reinterpret_cast<const __m128i *>(b + 6 * k)), 1);
    acc = _mm256_add_epi32(
        acc,
        _mm256_madd_epi16(
            _mm256_shuffle_epi8(v, weave),
            _mm256_loadu_si256(reinterpret_cast<const __m256i *>(w + 8 * k))));
  }
  return _mm256_srai_epi32(acc, kBits);
}

template <int P>
__attribute__((target("avx2"))) void BlendPixelsAvx2T(const t_Pass p,
                                                      std::uint8_t *dst) {
  const int pairs = P > 0 ? P : p.n;
  const std::size_t block = static_cast<std::size_t>(pairs) * 8;
  const __m128i alpha = _mm_set1_epi32(static_cast<int>(0xFF000000u));
  const std::int16_t *row = p.row;
  const int *off = p.offsets;
  const std::int32_t *w = p.pairs;
  int d = 0;
  for (; d + 4 <= p.dst; d += 4, off += 4, w += 2 * block) {
    // Halves: (d, d + 2) and (d + 1, d + 3) after packing; put in order.
    const __m256i packed = _mm256_packus_epi16(
        _mm256_packs_epi32(
            TwoPixels<P>(row + off[0], row + off[1], w, pairs),
            TwoPixels<P>(row + off[2], row + off[3], w + block, pairs)),
        _mm256_setzero_si256());
    const __m128i ordered = _mm_unpacklo_epi32(
        _mm256_castsi256_si128(packed), _mm256_extracti128_si256(packed, 1));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + d * 4),
                     _mm_or_si128(ordered, alpha));
  }
  // The last one to three pixels, two at a time (the offsets of a missing
  // last one repeat the one before; it is not stored).
  for (; d < p.dst; d += 2, off += 2, w += block) {
    const __m256i two = TwoPixels<P>(row + off[0], row + off[1], w, pairs);
    const __m256i packed = _mm256_packus_epi16(_mm256_packs_epi32(two, two),
                                               _mm256_setzero_si256());
    const __m128i ordered = _mm_unpacklo_epi32(
        _mm256_castsi256_si128(packed), _mm256_extracti128_si256(packed, 1));
    const std::int64_t both = _mm_cvtsi128_si64(_mm_or_si128(ordered, alpha));
    std::memcpy(dst + d * 4, &both, d + 1 < p.dst ? 8 : 4);
  }
}

void BlendRowsAvx2(const std::uint8_t *const *rows, const std::int16_t *weights,
                   int taps, int n, std::int16_t *out) {
  VESTIBELL_BY_PAIRS(BlendRowsAvx2T, taps / 2, rows, weights, taps, n, out)
}

void BlendPixelsAvx2(const t_Pass &p, std::uint8_t *dst) {
  VESTIBELL_BY_PAIRS(BlendPixelsAvx2T, p.n, p, dst)
}
#endif

#else // no SSE2: the plain arithmetic
void BlendRows(const std::uint8_t *const *rows, const std::int16_t *weights,
               int taps, int n, std::int16_t *out) {
  BlendRowsTail(rows, weights, taps, 0, n, out);
}

void BlendPixels(const t_Pass &p, std::uint8_t *dst) {
  constexpr int kBits = kScaleBits + kRowBits;
  for (int d = 0; d < p.dst; ++d) {
    const std::int16_t *in = p.row + p.offsets[d];
    const std::int32_t *w =
        p.pairs + static_cast<std::size_t>(d / 2) * p.n * 8 + (d & 1) * 4;
    int b = 1 << (kBits - 1), g = b, r = b;
    for (int k = 0; k < p.n; ++k, in += 6, w += 8) {
      std::int16_t pair[2];
      std::memcpy(pair, w, sizeof pair);
      b += pair[0] * in[0] + pair[1] * in[3];
      g += pair[0] * in[1] + pair[1] * in[4];
      r += pair[0] * in[2] + pair[1] * in[5];
    }
    dst[d * 4] = static_cast<std::uint8_t>(std::clamp(b >> kBits, 0, 255));
    dst[d * 4 + 1] = static_cast<std::uint8_t>(std::clamp(g >> kBits, 0, 255));
    dst[d * 4 + 2] = static_cast<std::uint8_t>(std::clamp(r >> kBits, 0, 255));
    dst[d * 4 + 3] = 0xFF;
  }
}
#endif

#if defined(VESTIBELL_AVX2)
std::atomic<int> g_allowAvx2{1};

bool UseAvx2() {
  static const bool has = __builtin_cpu_supports("avx2");
  return has && g_allowAvx2.load(std::memory_order_relaxed) != 0;
}
#endif

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
    axis.left[static_cast<std::size_t>(u)] = first;
  }
  // Rounded to fixed point with the sum kept at exactly one, so a flat
  // picture stays flat. Weights that round to nothing at either end are
  // left out: they read pixels for nothing, and the fewer taps the faster.
  std::vector<std::vector<std::int16_t>> fixed(static_cast<std::size_t>(dst));
  for (int u = 0; u < dst; ++u) {
    const std::vector<double> &w = folded[static_cast<std::size_t>(u)];
    std::vector<std::int16_t> &out = fixed[static_cast<std::size_t>(u)];
    out.resize(w.size());
    int sum = 0;
    std::size_t biggest = 0;
    for (std::size_t k = 0; k < w.size(); ++k) {
      out[k] = static_cast<std::int16_t>(std::lround(w[k] * (1 << kScaleBits)));
      sum += out[k];
      if (out[k] > out[biggest])
        biggest = k;
    }
    if (out.empty())
      continue;
    out[biggest] =
        static_cast<std::int16_t>(out[biggest] + (1 << kScaleBits) - sum);
    while (out.size() > 1 && out.back() == 0)
      out.pop_back();
    std::size_t lead = 0;
    while (lead + 1 < out.size() && out[lead] == 0)
      ++lead;
    out.erase(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(lead));
    axis.left[static_cast<std::size_t>(u)] += static_cast<int>(lead);
    taps = std::max(taps, static_cast<int>(out.size()));
  }
  taps += taps & 1;
  axis.taps = taps;
  axis.weights.assign(static_cast<std::size_t>(dst) * taps, 0);
  for (int u = 0; u < dst; ++u) {
    const std::vector<std::int16_t> &w = fixed[static_cast<std::size_t>(u)];
    std::copy(w.begin(), w.end(),
              axis.weights.begin() + static_cast<std::ptrdiff_t>(u) * taps);
  }
}
void BsplineAllowAvx2([[maybe_unused]] bool allow) {
#if defined(VESTIBELL_AVX2)
  g_allowAvx2 = allow ? 1 : 0;
#endif
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
    // Room for the last pixel's taps and for 8-value loads from the last
    // pair, all zero past the picture.
    s.row.assign(static_cast<std::size_t>(RowBytes(srcW + s.x.taps + 1)) + 1,
                 0);
    const int pairs = s.x.taps / 2;
    s.xpairs.assign(static_cast<std::size_t>((dstW + 1) / 2) * pairs * 8, 0);
    s.xoffsets.assign(static_cast<std::size_t>(dstW + 1), 0);
    for (int d = 0; d < dstW; ++d) {
      s.xoffsets[static_cast<std::size_t>(d)] =
          RowBytes(s.x.left[static_cast<std::size_t>(d)]);
      for (int k = 0; k < pairs; ++k) {
        const std::int32_t pair =
            Pair(s.x.weights.data() + static_cast<std::size_t>(d) * s.x.taps +
                 2 * k);
        std::int32_t *to = s.xpairs.data() +
                           (static_cast<std::size_t>(d / 2) * pairs + k) * 8 +
                           (d & 1) * 4;
        std::fill(to, to + 4, pair);
      }
    }
    s.xoffsets[static_cast<std::size_t>(dstW)] =
        s.xoffsets[static_cast<std::size_t>(dstW - 1)];
  }

  auto blendRows = BlendRows;
  auto blendPixels = BlendPixels;
#if defined(VESTIBELL_AVX2)
  if (UseAvx2()) {
    blendRows = BlendRowsAvx2;
    blendPixels = BlendPixelsAvx2;
  }
#endif
  const t_Pass pass{s.row.data(), s.xoffsets.data(), s.xpairs.data(),
                    s.x.taps / 2, dstW};
  const int taps = s.y.taps;
  const std::uint8_t *rows[2 * kMaxPairs];
  std::vector<const std::uint8_t *> manyRows;
  const std::uint8_t **rowsAt = rows;
  if (taps > 2 * kMaxPairs) {
    manyRows.resize(static_cast<std::size_t>(taps));
    rowsAt = manyRows.data();
  }
  for (int v = 0; v < dstH; ++v) {
    const int left = s.y.left[static_cast<std::size_t>(v)];
    for (int k = 0; k < taps; ++k) {
      // Taps past the last row weigh nothing; they read the last row.
      const int r = std::min(left + k, srcH - 1);
      rowsAt[k] = src + static_cast<std::ptrdiff_t>(r) * srcPitch;
    }
    blendRows(rowsAt, s.y.weights.data() + static_cast<std::size_t>(v) * taps,
              taps, RowBytes(srcW), s.row.data());
    blendPixels(pass, dst + static_cast<std::ptrdiff_t>(v) * dstPitch);
  }
  return true;
}
