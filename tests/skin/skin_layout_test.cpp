// Loading and laying out the skin: the built-in images, the per-element
// overrides of the Skin folder, and the positions for a client size.
#include <QBuffer>
#include <QByteArray>

#include <cstring>

#include "skin_fixture.h"

namespace {

struct Place {
  int index;
  int top;
  int left;
};

void ExpectPlaces(std::initializer_list<Place> places) {
  for (const Place &p : places) {
    EXPECT_EQ(Skin[p.index].PosX, p.top) << NameBMP[p.index] << " top";
    EXPECT_EQ(Skin[p.index].PosY, p.left) << NameBMP[p.index] << " left";
  }
}

std::uint16_t Le16(const std::uint8_t *p) { return p[0] | (p[1] << 8); }
std::uint32_t Le32(const std::uint8_t *p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t(p[3]) << 24);
}

} // namespace

// The built-in images are real uncompressed BMPs of the table's size and
// depth; the program needs nothing from the disk.
TEST(BuiltinSkin, EveryElementHasItsSizeAndDepth) {
  for (int i = 0; i < kSkinCount; ++i) {
    SCOPED_TRACE(NameBMP[i]);
    const res::ResourceData data = res::FindResource(kSkinFirstResourceId + i);
    ASSERT_TRUE(data);
    ASSERT_GE(data.size, 54u);
    const std::uint8_t *b = data.data;
    EXPECT_EQ(std::memcmp(b, "BM", 2), 0);
    EXPECT_EQ(Le32(b + 2), data.size);
    EXPECT_EQ(Le32(b + 14), 40u); // BITMAPINFOHEADER
    EXPECT_EQ(static_cast<int>(Le32(b + 18)), kSkinBuiltin[i].width);
    EXPECT_EQ(static_cast<int>(Le32(b + 22)), kSkinBuiltin[i].height);
    EXPECT_EQ(Le16(b + 28), kSkinBuiltin[i].bitsPerPixel);
    EXPECT_EQ(Le32(b + 30), 0u); // BI_RGB: uncompressed
    const std::uint32_t palette = Le32(b + 10) - 54;
    EXPECT_EQ(palette, kSkinBuiltin[i].bitsPerPixel == 8 ? 1024u : 0u);
    const std::size_t row =
        ((kSkinBuiltin[i].width * Le16(b + 28) + 31) / 32) * 4;
    EXPECT_EQ(data.size, Le32(b + 10) + row * kSkinBuiltin[i].height);
  }
  EXPECT_FALSE(res::FindResource(kSkinFirstResourceId - 1));
  EXPECT_FALSE(res::FindResource(kSkinFirstResourceId + kSkinCount));
}

TEST(BuiltinSkin, IconHasThreeSizes) {
  for (int size : res::kIconSizes) {
    const res::ResourceData data = res::FindResource(res::kIconId, size);
    ASSERT_TRUE(data) << size;
    QImage image;
    ASSERT_TRUE(image.loadFromData(data.data, static_cast<int>(data.size)));
    EXPECT_EQ(image.width(), size);
    EXPECT_EQ(image.height(), size);
  }
  EXPECT_FALSE(res::FindResource(res::kIconId, 24));
}

TEST_F(SkinTest, NoSkinFolderLoadsEveryBuiltinElement) {
  std::filesystem::remove("Skin");
  LoadSkin();
  for (int i = 0; i < kSkinCount; ++i) {
    EXPECT_STREQ(Skin[i].Name, NameBMP[i]);
    ASSERT_NE(Skin[i].ShBitmap, nullptr) << NameBMP[i];
    EXPECT_EQ(Skin[i].Width, kSkinBuiltin[i].width) << NameBMP[i];
    EXPECT_EQ(Skin[i].Height, kSkinBuiltin[i].height) << NameBMP[i];
  }
  // The natural size of the built-in skin is the default window size.
  EXPECT_EQ(Skin[SKIN_L].Width + Skin[SKIN_POZADI].Width + Skin[SKIN_R].Width,
            kDefaultClientWidth);
  EXPECT_EQ(Skin[SKIN_T].Height + Skin[SKIN_POZADI].Height +
                Skin[SKIN_B].Height,
            kDefaultClientHeight);
}

TEST_F(SkinTest, LayoutAtDefaultSize) {
  LoadSkin(336, 301);
  ExpectPlaces({{SKIN_L, 0, 0},           {SKIN_R, 0, 328},
                {SKIN_T, 0, 0},           {SKIN_B, 266, 0},
                {SKIN_TL, 0, 0},          {SKIN_TR, 0, 266},
                {SKIN_TR_S, 0, 266},      {SKIN_TR_M, 0, 266},
                {SKIN_TR_C, 0, 266},      {SKIN_BR, 266, 320},
                {SKIN_BL_OFF, 266, 0},    {SKIN_BL_ON, 266, 0},
                {SKIN_BL_OVER, 266, 0},   {SKIN_BL_DOWN, 266, 0},
                {SKIN_B1_UP, 266, 247},   {SKIN_B1_OVER, 266, 247},
                {SKIN_B1_DOWN, 266, 247}, {SKIN_B2_UP, 266, 174},
                {SKIN_B2_OVER, 266, 174}, {SKIN_B2_DOWN, 266, 174},
                {SKIN_POZADI, 26, 8}});
  for (int i = SKIN_B3_OVER; i <= SKIN_B4_UP; ++i)
    ExpectPlaces({{i, 266, 101}});
  const plat::RECT video = SkinVideoArea(Skin, 301, 336);
  EXPECT_EQ(video.left, 8);
  EXPECT_EQ(video.top, 26);
  EXPECT_EQ(video.right - video.left, 320);
  EXPECT_EQ(video.bottom - video.top, 240);
  const plat::POINT min = SkinMinTrackSize(Skin);
  EXPECT_EQ(min.x, 268);
  EXPECT_EQ(min.y, 61);
}

TEST_F(SkinTest, LayoutAt640x480) {
  LoadSkin(640, 480);
  ExpectPlaces({{SKIN_BR, 445, 624},
                {SKIN_B1_UP, 445, 551},
                {SKIN_B2_UP, 445, 478},
                {SKIN_B3_UP, 445, 405},
                {SKIN_B4_UP, 445, 405},
                {SKIN_TR, 0, 570},
                {SKIN_R, 0, 632},
                {SKIN_B, 445, 0},
                {SKIN_BL_OFF, 445, 0},
                {SKIN_POZADI, 26, 8}});
  const plat::RECT video = SkinVideoArea(Skin, 480, 640);
  EXPECT_EQ(video.right - video.left, 624);
  EXPECT_EQ(video.bottom - video.top, 419);
}

TEST_F(SkinTest, LayoutAtMinimumSizeKeepsTheBottomRow) {
  LoadSkin(268, 61);
  ExpectPlaces({{SKIN_BR, 26, 252},
                {SKIN_B1_UP, 26, 179},
                {SKIN_B2_UP, 26, 106},
                {SKIN_B3_UP, 26, 33},
                {SKIN_BL_OFF, 26, 0}});
  // b3/b4 start right of the call indicator, which covers columns 0 to 30.
  EXPECT_GT(Skin[SKIN_B3_UP].PosY,
            Skin[SKIN_BL_OFF].PosY + Skin[SKIN_BL_OFF].Width - 1);
  const plat::RECT video = SkinVideoArea(Skin, 61, 268);
  EXPECT_EQ(video.bottom - video.top, 0);
}

TEST_F(SkinTest, SecondPassGivesIdenticalFields) {
  LoadSkin(500, 400);
  int before[kSkinCount][4];
  for (int i = 0; i < kSkinCount; ++i) {
    before[i][0] = Skin[i].PosX;
    before[i][1] = Skin[i].PosY;
    before[i][2] = Skin[i].Width;
    before[i][3] = Skin[i].Height;
  }
  SkinBitmapPos(Skin, 400, 500);
  for (int i = 0; i < kSkinCount; ++i) {
    EXPECT_EQ(Skin[i].PosX, before[i][0]);
    EXPECT_EQ(Skin[i].PosY, before[i][1]);
    EXPECT_EQ(Skin[i].Width, before[i][2]);
    EXPECT_EQ(Skin[i].Height, before[i][3]);
  }
}

// Each face of b1 is right-aligned against `br` by its own width, while b2
// and b3/b4 keep the places that the up faces give.
TEST_F(SkinTest, NarrowerRelayOverFaceIsRightAligned) {
  WriteSkinImage("br_b1_over.bmp", Solid(60, 35, 0xFF00FF), "BMP");
  LoadSkin(336, 301);
  EXPECT_EQ(Skin[SKIN_B1_OVER].Width, 60);
  EXPECT_EQ(Skin[SKIN_B1_OVER].PosY, 336 - 60 - 16);
  EXPECT_EQ(Skin[SKIN_B1_UP].PosY, 247);
  EXPECT_EQ(Skin[SKIN_B1_DOWN].PosY, 247);
  EXPECT_EQ(Skin[SKIN_B2_OVER].PosY, 174);
  EXPECT_EQ(Skin[SKIN_B3_OVER].PosY, 101);
}

// Only the top edge replaced: its height moves the video area; every other
// element stays built-in.
TEST_F(SkinTest, OnlyTopEdgeReplaced) {
  WriteSkinImage("t.bmp", Solid(50, 40, 0x203040), "BMP");
  LoadSkin(336, 301);
  EXPECT_EQ(Skin[SKIN_T].Width, 50);
  EXPECT_EQ(Skin[SKIN_T].Height, 40);
  for (int i = 0; i < kSkinCount; ++i) {
    if (i == SKIN_T)
      continue;
    EXPECT_EQ(Skin[i].Width, kSkinBuiltin[i].width) << NameBMP[i];
    EXPECT_EQ(Skin[i].Height, kSkinBuiltin[i].height) << NameBMP[i];
  }
  EXPECT_EQ(Skin[SKIN_POZADI].PosX, 40);
  const plat::RECT video = SkinVideoArea(Skin, 301, 336);
  EXPECT_EQ(video.top, 40);
  EXPECT_EQ(video.bottom - video.top, 301 - 40 - 35);
  EXPECT_EQ(SkinMinTrackSize(Skin).y, 35 + 40);
}

// A corner replaced alone leaves its lit variants built-in.
TEST_F(SkinTest, CornerReplacedWithoutItsLitVariants) {
  WriteSkinImage("tr.bmp", Solid(90, 26, 0x101010), "BMP");
  LoadSkin(336, 301);
  EXPECT_EQ(Skin[SKIN_TR].Width, 90);
  EXPECT_EQ(Skin[SKIN_TR].PosY, 246);
  for (int i : {SKIN_TR_S, SKIN_TR_M, SKIN_TR_C}) {
    EXPECT_EQ(Skin[i].Width, 70);
    EXPECT_EQ(Skin[i].PosY, 266);
  }
}

// Pictures of other kinds, and broken files, named like elements are
// treated as missing.
TEST_F(SkinTest, OnlyRealBmpFilesOverride) {
  WriteSkinImage("t.bmp", Solid(50, 40, 0x203040), "PNG");
  WriteSkinImage("l.bmp", Solid(20, 40, 0x203040), "JPEG");
  // A BMP cut short inside its headers, and one that is only a signature.
  WriteSkinImage("r.bmp", Solid(20, 40, 0x203040), "BMP");
  std::string cut = ReadFile("Skin/r.bmp");
  cut.resize(30);
  WriteFile("Skin/r.bmp", cut);
  WriteFile("Skin/b.bmp", "BM");
  // A folder where a file is expected.
  std::filesystem::create_directory("Skin/br.bmp");
  LoadSkin(336, 301);
  for (int i : {SKIN_T, SKIN_L, SKIN_R, SKIN_B, SKIN_BR}) {
    ASSERT_NE(Skin[i].ShBitmap, nullptr);
    EXPECT_EQ(Skin[i].Width, kSkinBuiltin[i].width) << NameBMP[i];
    EXPECT_EQ(Skin[i].Height, kSkinBuiltin[i].height) << NameBMP[i];
  }
}

TEST_F(SkinTest, ImplausiblyLargeElementCountsAsMissing) {
  WriteSkinImage("b.bmp", Solid(5000, 2, 0x203040), "BMP");
  LoadSkin(336, 301);
  EXPECT_EQ(Skin[SKIN_B].Width, kSkinBuiltin[SKIN_B].width);
}
