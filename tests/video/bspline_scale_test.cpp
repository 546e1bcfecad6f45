// The B-spline stretch against FreeImage_Rescale(FILTER_BSPLINE), the
// picture it must reproduce: every pixel, the edges included.
#include <gtest/gtest.h>

#include <FreeImage.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "video/bspline_scale.h"

namespace {

struct Picture {
  FIBITMAP *bitmap;
  explicit Picture(FIBITMAP *b) : bitmap(b) {}
  ~Picture() {
    if (bitmap != nullptr)
      FreeImage_Unload(bitmap);
  }
  Picture(const Picture &) = delete;
  int width() const { return static_cast<int>(FreeImage_GetWidth(bitmap)); }
  int height() const { return static_cast<int>(FreeImage_GetHeight(bitmap)); }
  // Row `y` counted from the top.
  const std::uint8_t *Row(int y) const {
    return FreeImage_GetScanLine(bitmap, height() - 1 - y);
  }
};

enum class Content { Noise, Camera, Flat };

// A 24-bit picture: white noise (the hardest case for a resampler), a
// camera-like scene (shapes, gradients, mild noise), or one flat colour.
FIBITMAP *MakePicture(int w, int h, Content content, unsigned seed = 1) {
  FIBITMAP *b = FreeImage_Allocate(w, h, 24);
  std::mt19937 random(seed);
  for (int y = 0; y < h; ++y) {
    BYTE *row = FreeImage_GetScanLine(b, h - 1 - y);
    for (int x = 0; x < w; ++x) {
      for (int c = 0; c < 3; ++c) {
        int v = 0;
        switch (content) {
        case Content::Noise:
          v = static_cast<int>(random() & 0xFF);
          break;
        case Content::Flat:
          v = 40 + 90 * c;
          break;
        case Content::Camera: {
          const double fx = static_cast<double>(x) / w;
          const double fy = static_cast<double>(y) / h;
          v = static_cast<int>(60 + 120 * fx * (c + 1) / 3 + 50 * fy);
          if (((x * 8 / w) + (y * 6 / h)) % 2 == 0)
            v += 40; // a chequer board of sharp edges
          if (std::hypot(fx - 0.6, fy - 0.4) < 0.2)
            v = 230 - 60 * c; // a bright disc
          v += static_cast<int>(random() % 21) - 10;
          break;
        }
        }
        row[x * 3 + c] = static_cast<BYTE>(std::clamp(v, 0, 255));
      }
    }
  }
  return b;
}

// Ours, as 32-bit rows top first.
std::vector<std::uint8_t> Scale(const Picture &src, int fullW, int fullH,
                                int dstW, int dstH) {
  t_BsplineScale scale;
  std::vector<std::uint8_t> out(static_cast<std::size_t>(dstW) * dstH * 4,
                                0x55);
  const int pitch = static_cast<int>(FreeImage_GetPitch(src.bitmap));
  EXPECT_TRUE(BsplineScale(scale, src.Row(0), src.width(), src.height(), -pitch,
                           fullW, fullH, out.data(), dstW, dstH, dstW * 4));
  return out;
}

struct Comparison {
  double psnr;
  int worst;     // largest difference of one channel
  int worstEdge; // the same along the picture's border
};

Comparison Compare(const Picture &reference,
                   const std::vector<std::uint8_t> &ours) {
  const int w = reference.width(), h = reference.height();
  double sum = 0;
  Comparison c{0, 0, 0};
  for (int y = 0; y < h; ++y) {
    const std::uint8_t *ref = reference.Row(y);
    for (int x = 0; x < w; ++x) {
      const std::uint8_t *px =
          ours.data() + (static_cast<std::size_t>(y) * w + x) * 4;
      EXPECT_EQ(px[3], 0xFF);
      for (int k = 0; k < 3; ++k) {
        const int d = std::abs(px[k] - ref[x * 3 + k]);
        sum += d * d;
        c.worst = std::max(c.worst, d);
        if (x == 0 || y == 0 || x == w - 1 || y == h - 1)
          c.worstEdge = std::max(c.worstEdge, d);
      }
    }
  }
  const double mse = sum / (3.0 * w * h);
  c.psnr = mse == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / mse);
  return c;
}

struct Sizes {
  int srcW, srcH, dstW, dstH;
};

class AgainstFreeImage : public ::testing::TestWithParam<Sizes> {};

TEST_P(AgainstFreeImage, MatchesEveryPixelOfNoise) {
  const Sizes s = GetParam();
  Picture src(MakePicture(s.srcW, s.srcH, Content::Noise));
  Picture reference(
      FreeImage_Rescale(src.bitmap, s.dstW, s.dstH, FILTER_BSPLINE));
  ASSERT_NE(reference.bitmap, nullptr);
  const Comparison c =
      Compare(reference, Scale(src, s.srcW, s.srcH, s.dstW, s.dstH));
  // FreeImage rounds to 8 bits between its passes; we do not.
  EXPECT_GE(c.psnr, 45.0);
  EXPECT_LE(c.worst, 2);
  EXPECT_LE(c.worstEdge, 2) << "the edges renormalise as FreeImage does";
}

TEST_P(AgainstFreeImage, KeepsAFlatPictureExactlyFlat) {
  const Sizes s = GetParam();
  Picture src(MakePicture(s.srcW, s.srcH, Content::Flat));
  const auto out = Scale(src, s.srcW, s.srcH, s.dstW, s.dstH);
  for (std::size_t i = 0; i < out.size(); i += 4) {
    ASSERT_EQ(out[i], 40) << "pixel " << i / 4;
    ASSERT_EQ(out[i + 1], 130) << "pixel " << i / 4;
    ASSERT_EQ(out[i + 2], 220) << "pixel " << i / 4;
  }
}

// Where the processor has AVX2 the tests above ran the wide code; the
// narrow one must give the same bytes, every edge and leftover pixel
// included.
TEST_P(AgainstFreeImage, WideAndNarrowCodeAgree) {
  const Sizes s = GetParam();
  Picture src(MakePicture(s.srcW, s.srcH, Content::Noise, 5));
  const auto wide = Scale(src, s.srcW, s.srcH, s.dstW, s.dstH);
  BsplineAllowAvx2(false);
  const auto narrow = Scale(src, s.srcW, s.srcH, s.dstW, s.dstH);
  BsplineAllowAvx2(true);
  ASSERT_EQ(wide.size(), narrow.size());
  for (std::size_t i = 0; i < wide.size(); ++i)
    ASSERT_EQ(wide[i], narrow[i]) << "byte " << i;
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, AgainstFreeImage,
    ::testing::Values(Sizes{640, 480, 320, 240}, // built-in skin
                      Sizes{640, 480, 624, 419}, // 640 x 480 window
                      Sizes{1920, 1080, 624, 419},
                      Sizes{320, 240, 320, 240}, // same size: as it is
                      Sizes{320, 240, 320, 100}, // one axis kept: blurred
                      Sizes{320, 240, 100, 240},
                      Sizes{160, 120, 624, 419}, // enlarged
                      Sizes{600, 40, 20, 300},   // aspect turned over
                      Sizes{3, 200, 50, 2}, Sizes{7, 5, 1, 1},
                      Sizes{1, 1, 5, 3}, Sizes{33, 17, 32, 18},
                      Sizes{1920, 1080, 320, 240}, // many taps
                      Sizes{1000, 10, 7, 5}, Sizes{50, 50, 19, 23}),
    [](const auto &info) {
      const Sizes &s = info.param;
      return std::to_string(s.srcW) + "x" + std::to_string(s.srcH) + "_to_" +
             std::to_string(s.dstW) + "x" + std::to_string(s.dstH);
    });

// The camera picture as a JPEG, decoded whole or at half size.
FIBITMAP *Decode(FIMEMORY *jpeg, int flags) {
  FreeImage_SeekMemory(jpeg, 0, SEEK_SET);
  return FreeImage_LoadFromMemory(FIF_JPEG, jpeg, flags);
}

class HalfSizeDecode : public ::testing::TestWithParam<Sizes> {};

TEST_P(HalfSizeDecode, StaysWithin40dBOfTheFullDecode) {
  const Sizes s = GetParam();
  Picture camera(MakePicture(s.srcW, s.srcH, Content::Camera, 7));
  FIMEMORY *jpeg = FreeImage_OpenMemory();
  ASSERT_TRUE(
      FreeImage_SaveToMemory(FIF_JPEG, camera.bitmap, jpeg, JPEG_QUALITYGOOD));
  Picture full(Decode(jpeg, 0));
  const int larger = std::max(s.srcW, s.srcH);
  Picture half(Decode(jpeg, (larger / 2) << 16));
  FreeImage_CloseMemory(jpeg);
  ASSERT_NE(full.bitmap, nullptr);
  ASSERT_NE(half.bitmap, nullptr);
  ASSERT_EQ(half.width(), (s.srcW + 1) / 2) << "FreeImage decodes at half size";
  ASSERT_EQ(half.height(), (s.srcH + 1) / 2);

  Picture reference(
      FreeImage_Rescale(full.bitmap, s.dstW, s.dstH, FILTER_BSPLINE));
  const Comparison c =
      Compare(reference, Scale(half, s.srcW, s.srcH, s.dstW, s.dstH));
  EXPECT_GE(c.psnr, 40.0);
  RecordProperty("psnr", std::to_string(c.psnr));
}

INSTANTIATE_TEST_SUITE_P(Sizes, HalfSizeDecode,
                         ::testing::Values(Sizes{640, 480, 320, 240},
                                           Sizes{1920, 1080, 624, 419},
                                           Sizes{1281, 721, 400, 300}),
                         [](const auto &info) {
                           const Sizes &s = info.param;
                           return std::to_string(s.srcW) + "x" +
                                  std::to_string(s.srcH);
                         });

TEST(BsplineScale, RefusesSizesThatDoNotFit) {
  t_BsplineScale scale;
  std::uint8_t pixel[4] = {};
  EXPECT_FALSE(BsplineScale(scale, pixel, 1, 1, 4, 1, 1, pixel, 0, 1, 4));
  EXPECT_FALSE(BsplineScale(scale, pixel, 0, 1, 4, 0, 1, pixel, 1, 1, 4));
  // A "half-size" picture that is not half of the full size.
  EXPECT_FALSE(BsplineScale(scale, pixel, 1, 1, 4, 5, 5, pixel, 1, 1, 4));
}

TEST(BsplineScale, ReusedTablesFollowANewSize) {
  Picture a(MakePicture(64, 48, Content::Noise, 3));
  Picture b(MakePicture(100, 30, Content::Noise, 4));
  t_BsplineScale scale;
  auto run = [&](const Picture &p, int w, int h) {
    std::vector<std::uint8_t> out(static_cast<std::size_t>(w) * h * 4);
    const int pitch = static_cast<int>(FreeImage_GetPitch(p.bitmap));
    EXPECT_TRUE(BsplineScale(scale, p.Row(0), p.width(), p.height(), -pitch,
                             p.width(), p.height(), out.data(), w, h, w * 4));
    return out;
  };
  run(a, 30, 20);
  const auto second = run(b, 41, 13); // same scale object, new sizes
  Picture reference(FreeImage_Rescale(b.bitmap, 41, 13, FILTER_BSPLINE));
  EXPECT_LE(Compare(reference, second).worst, 2);
}

} // namespace
