// The frame's own JPEG decode against FreeImage's loader, whose pixels it
// must give byte for byte: whole and at half size, every subsampling, odd
// sizes, progressive, cut short and damaged; grey pictures are left to
// FreeImage.
#include <gtest/gtest.h>

#include <FreeImage.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "video/jpeg_decode.h"

namespace {

// A camera-like scene: gradients, sharp edges and sensor noise.
FIBITMAP *Scene(int w, int h) {
  FIBITMAP *b = FreeImage_Allocate(w, h, 24);
  std::mt19937 random(3);
  for (int y = 0; y < h; ++y) {
    BYTE *row = FreeImage_GetScanLine(b, h - 1 - y);
    for (int x = 0; x < w; ++x)
      for (int c = 0; c < 3; ++c) {
        int v = 50 + (x * 150 / w) * (c + 1) / 3 + y * 60 / h;
        if ((x / 13 + y / 11) % 2 == 0)
          v += 45;
        v += static_cast<int>(random() % 25) - 12;
        row[x * 3 + c] = static_cast<BYTE>(std::clamp(v, 0, 255));
      }
  }
  return b;
}

std::vector<unsigned char> Encode(FIBITMAP *picture, int flags) {
  FIMEMORY *memory = FreeImage_OpenMemory();
  std::vector<unsigned char> bytes;
  if (FreeImage_SaveToMemory(FIF_JPEG, picture, memory, flags)) {
    BYTE *data = nullptr;
    DWORD size = 0;
    FreeImage_AcquireMemory(memory, &data, &size);
    bytes.assign(data, data + size);
  }
  FreeImage_CloseMemory(memory);
  return bytes;
}

enum class Damage { None, CutShort, Garbled };

struct Case {
  const char *name;
  int w, h;
  int saveFlags;
  bool grey;
  bool half;
  Damage damage;
};

} // namespace

TEST(JpegDecode, GivesFreeImagesPixelsOrLeavesThePictureToIt) {
  const Case cases[] = {
      {"camera 4:2:0", 640, 480, JPEG_SUBSAMPLING_420, false, false,
       Damage::None},
      {"camera 4:2:0, half", 640, 480, JPEG_SUBSAMPLING_420, false, true,
       Damage::None},
      {"odd size 4:2:0", 641, 479, JPEG_SUBSAMPLING_420, false, false,
       Damage::None},
      {"odd size 4:2:0, half", 641, 479, JPEG_SUBSAMPLING_420, false, true,
       Damage::None},
      {"4:2:2", 322, 241, JPEG_SUBSAMPLING_422, false, false, Damage::None},
      {"4:4:4, half", 333, 97, JPEG_SUBSAMPLING_444, false, true, Damage::None},
      {"progressive", 320, 240, JPEG_PROGRESSIVE | JPEG_SUBSAMPLING_420, false,
       false, Damage::None},
      {"full HD, half", 1920, 1080, JPEG_SUBSAMPLING_420, false, true,
       Damage::None},
      {"one pixel", 1, 1, JPEG_SUBSAMPLING_420, false, false, Damage::None},
      {"cut short", 640, 480, JPEG_SUBSAMPLING_420, false, false,
       Damage::CutShort},
      {"cut short, half", 640, 480, JPEG_SUBSAMPLING_420, false, true,
       Damage::CutShort},
      {"garbled", 640, 480, JPEG_SUBSAMPLING_420, false, false,
       Damage::Garbled},
      {"grey", 320, 240, 0, true, false, Damage::None},
  };
  t_DecodedFrame frame; // kept across pictures, as the window's is
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    FIBITMAP *scene = Scene(c.w, c.h);
    if (c.grey) {
      FIBITMAP *grey = FreeImage_ConvertToGreyscale(scene);
      FreeImage_Unload(scene);
      scene = grey;
    }
    std::vector<unsigned char> bytes =
        Encode(scene, JPEG_QUALITYGOOD | c.saveFlags);
    FreeImage_Unload(scene);
    ASSERT_GT(bytes.size(), 100u);
    if (c.damage == Damage::CutShort)
      bytes.resize(bytes.size() * 3 / 5);
    if (c.damage == Damage::Garbled) {
      std::mt19937 random(9);
      for (std::size_t i = bytes.size() / 3; i < bytes.size() / 2; i += 97)
        bytes[i] = static_cast<unsigned char>(random());
    }
    const int flags = c.half ? (std::max(c.w, c.h) / 2) << 16 : 0;
    FIMEMORY *memory =
        FreeImage_OpenMemory(bytes.data(), static_cast<DWORD>(bytes.size()));
    FIBITMAP *reference = FreeImage_LoadFromMemory(FIF_JPEG, memory, flags);
    FreeImage_CloseMemory(memory);

    const bool decoded =
        DecodeJpegBgr(bytes.data(), bytes.size(), c.half, frame);
    // Colour pictures are ours, damaged ones too: libjpeg only warns.
    EXPECT_EQ(decoded, !c.grey);
    if (!decoded) {
      FreeImage_Unload(reference);
      continue;
    }
    ASSERT_NE(reference, nullptr);
    ASSERT_EQ(FreeImage_GetBPP(reference), 24u);
    const int w = static_cast<int>(FreeImage_GetWidth(reference));
    const int h = static_cast<int>(FreeImage_GetHeight(reference));
    ASSERT_EQ(frame.width, w);
    ASSERT_EQ(frame.height, h);
    if (c.half) {
      EXPECT_EQ(w, (c.w + 1) / 2);
    }
    int rowsDiffering = 0;
    for (int y = 0; y < h; ++y)
      rowsDiffering += !std::equal(
          frame.pixels.begin() + static_cast<std::ptrdiff_t>(y * frame.stride),
          frame.pixels.begin() +
              static_cast<std::ptrdiff_t>(y * frame.stride + w * 3),
          FreeImage_GetScanLine(reference, h - 1 - y));
    EXPECT_EQ(rowsDiffering, 0);
    FreeImage_Unload(reference);
  }
}
