// Painting the skinned window, read back from the window's surface.
#include <QColor>

#include <atomic>
#include <thread>

#include "skin_fixture.h"

namespace {

constexpr std::uint32_t kYellow = 0xFFFF00;
constexpr std::uint32_t kTitleYellow = 0xF9E500;

// Whether a pixel of exactly this colour lies in [x0, x1) x [y0, y1).
bool HasColour(const plat::SurfaceCopy &s, std::uint32_t colour, int x0, int y0,
               int x1, int y1) {
  for (int y = y0; y < y1 && y < s.height; ++y)
    for (int x = x0; x < x1 && x < s.width; ++x)
      if (s.at(x, y) == colour)
        return true;
  return false;
}

// Close to a colour, as a JPEG gives it back.
bool Near(std::uint32_t got, std::uint32_t want, int tolerance = 24) {
  for (int shift : {0, 8, 16}) {
    const int a = (got >> shift) & 0xFF, b = (want >> shift) & 0xFF;
    if (std::abs(a - b) > tolerance)
      return false;
  }
  return true;
}

} // namespace

class SkinPaintTest : public SkinTest {
protected:
  void Paint() { ShowMyWindow(g_hwndMain, ShowData); }

  static plat::RECT WindowRect() {
    plat::RECT r{};
    plat::GetWindowRect(g_hwndMain, &r);
    return r;
  }

  // A solid picture as Skin/pozadi.jpg.
  static void WritePicture(QRgb colour, int w = 200, int h = 100) {
    WriteSkinImage("pozadi.jpg", Solid(w, h, colour), "JPEG");
  }
};

TEST_F(SkinPaintTest, NotConnectedWithoutPicture) {
  OpenWindow(336, 301);
  Paint();
  const plat::SurfaceCopy s = Surface();
  ASSERT_EQ(s.width, 336);
  ASSERT_EQ(s.height, 301);
  EXPECT_TRUE(plat::IsWindowVisible(g_hwndMain));

  // The dark background fills the video area except where the text lies.
  const QImage pozadi = BuiltinImage(SKIN_POZADI);
  int differ = 0;
  for (int y = 60; y < 240; ++y)
    for (int x = 0; x < 320; ++x)
      differ += s.at(8 + x, 26 + y) != Rgb(pozadi, x, y);
  EXPECT_EQ(differ, 0);
  // The yellow text at (20, 30), nowhere else.
  EXPECT_TRUE(HasColour(s, kYellow, 20, 30, 200, 50));
  EXPECT_FALSE(HasColour(s, kYellow, 0, 0, 20, 301));
  EXPECT_FALSE(HasColour(s, kYellow, 0, 0, 336, 29));

  // The frame with the call face and the call indicator off.
  for (int i : {SKIN_TL, SKIN_TR, SKIN_BR, SKIN_BL_OFF, SKIN_B1_UP, SKIN_B2_UP,
                SKIN_B3_UP})
    EXPECT_EQ(Mismatches(s, i), 0) << NameBMP[i];
  const QImage l = BuiltinImage(SKIN_L), r = BuiltinImage(SKIN_R);
  for (int y = 26; y < 266; ++y) {
    ASSERT_EQ(s.at(3, y), Rgb(l, 3, y % 100)) << y;
    ASSERT_EQ(s.at(330, y), Rgb(r, 2, y % 100)) << y;
  }
  const QImage b = BuiltinImage(SKIN_B);
  EXPECT_EQ(s.at(90, 290), Rgb(b, 90 % 24, 24));

  // The window's shape has rounded corners.
  plat::HWND w = g_hwndMain;
  EXPECT_FALSE(plat::WindowRegionContains(w, 0, 0));
  EXPECT_FALSE(plat::WindowRegionContains(w, 335, 300));
  EXPECT_TRUE(plat::WindowRegionContains(w, 7, 7));
  EXPECT_TRUE(plat::WindowRegionContains(w, 168, 0));
}

// Without a picture the window returns to the skin's natural size.
TEST_F(SkinPaintTest, NotConnectedWithoutPictureSnapsToNaturalSize) {
  OpenWindow(640, 480);
  Paint();
  Settle();
  const plat::RECT r = WindowRect();
  EXPECT_EQ(r.right - r.left, 336);
  EXPECT_EQ(r.bottom - r.top, 301);
  EXPECT_EQ(r.left, 100); // not moved
  EXPECT_EQ(ShowData.ClientWidth, 336);
  EXPECT_EQ(ShowData.ClientHeight, 301);
  EXPECT_EQ(Skin[SKIN_BR].PosY, 320);
  EXPECT_EQ(Skin[SKIN_BR].PosX, 266);
  const plat::SurfaceCopy s = Surface();
  ASSERT_EQ(s.width, 336);
  ASSERT_EQ(s.height, 301);
  EXPECT_EQ(Mismatches(s, SKIN_BR), 0);
  EXPECT_EQ(Mismatches(s, SKIN_B3_UP), 0);
  // The shape follows the new size: its bottom-right corner is rounded.
  EXPECT_FALSE(plat::WindowRegionContains(g_hwndMain, 335, 300));
  EXPECT_TRUE(plat::WindowRegionContains(g_hwndMain, 330, 295));
}

// With a picture a 640 x 480 window keeps its size and the picture fills
// exactly the 624 x 419 video area at column 8, row 26.
TEST_F(SkinPaintTest, PictureFillsTheVideoAreaAndTheSizeStays) {
  WritePicture(0xC01010, 123, 77);
  OpenWindow(640, 480);
  Paint();
  const plat::SurfaceCopy s = Surface();
  ASSERT_EQ(s.width, 640);
  ASSERT_EQ(s.height, 480);
  const plat::RECT r = WindowRect();
  EXPECT_EQ(r.right - r.left, 640);
  EXPECT_EQ(r.bottom - r.top, 480);
  for (auto [x, y] : {std::pair{8, 60},
                      {631, 60},
                      {8, 444},
                      {631, 444},
                      {320, 240},
                      {300, 26}})
    EXPECT_TRUE(Near(s.at(x, y), 0xC01010)) << x << "," << y;
  // Just outside the area is the frame.
  for (auto [x, y] : {std::pair{7, 200}, {632, 200}, {300, 25}, {300, 445}})
    EXPECT_FALSE(Near(s.at(x, y), 0xC01010, 60)) << x << "," << y;
  EXPECT_TRUE(HasColour(s, kYellow, 20, 30, 200, 50));
  EXPECT_EQ(Mismatches(s, SKIN_BR), 0);
}

// A picture that cannot be decoded still leaves a painted window: the
// built-in background repeated over the video area, and the text.
TEST_F(SkinPaintTest, UndecodablePictureShowsTheBuiltinBackground) {
  WriteFile("Skin/pozadi.jpg", std::string("\xFF\xD8\xFF\xE0garbage", 11));
  OpenWindow(640, 480);
  Paint();
  const plat::SurfaceCopy s = Surface();
  ASSERT_EQ(s.width, 640);
  const QImage pozadi = BuiltinImage(SKIN_POZADI);
  EXPECT_EQ(s.at(8 + 5, 26 + 100), Rgb(pozadi, 5, 100));
  EXPECT_EQ(s.at(8 + 320 + 5, 26 + 100), Rgb(pozadi, 5, 100));
  EXPECT_EQ(s.at(8 + 5, 26 + 240 + 7), Rgb(pozadi, 5, 7));
  EXPECT_EQ(s.at(631, 444), Rgb(pozadi, 623 - 320, 418 - 240));
  EXPECT_TRUE(HasColour(s, kYellow, 20, 30, 200, 50));
  EXPECT_EQ(Mismatches(s, SKIN_BR), 0);
}

// At the minimum size the video area has no pixels; the rest is painted.
TEST_F(SkinPaintTest, PictureWithoutVideoArea) {
  WritePicture(0x10C010);
  OpenWindow(268, 61);
  Paint();
  const plat::SurfaceCopy s = Surface();
  ASSERT_EQ(s.width, 268);
  ASSERT_EQ(s.height, 61);
  EXPECT_EQ(Mismatches(s, SKIN_B3_UP), 0);
  EXPECT_EQ(Mismatches(s, SKIN_BR), 0);
  EXPECT_FALSE(HasColour(s, 0x10C010, 0, 0, 268, 61));
}

// While the video is connected the video area is the frames' and the
// window keeps its size.
TEST_F(SkinPaintTest, ConnectedLeavesTheVideoArea) {
  OpenWindow(640, 480);
  ShowData.Kill_TCP = 0;
  plat::HDC hdc = plat::GetDC(g_hwndMain);
  plat::FillRect(hdc, {8, 26, 632, 445}, plat::RGB(0, 0, 200));
  plat::ReleaseDC(g_hwndMain, hdc);
  Paint();
  const plat::SurfaceCopy s = Surface();
  ASSERT_EQ(s.width, 640);
  EXPECT_EQ(s.at(20, 35), 0x0000C8u);
  EXPECT_EQ(s.at(631, 444), 0x0000C8u);
  EXPECT_FALSE(HasColour(s, kYellow, 8, 26, 632, 445));
  EXPECT_EQ(Mismatches(s, SKIN_BR), 0);
}

TEST_F(SkinPaintTest, CallIndicator) {
  OpenWindow(336, 301);
  ShowData.Kill_TCP = 0;
  Paint();
  EXPECT_EQ(Mismatches(Surface(), SKIN_BL_OFF), 0);
  ASSERT_GT(Mismatches(Surface(), SKIN_BL_ON), 0);
  ShowData.call = 1;
  Paint();
  EXPECT_EQ(Mismatches(Surface(), SKIN_BL_ON), 0);
  ShowData.call = 0;
  Paint();
  EXPECT_EQ(Mismatches(Surface(), SKIN_BL_OFF), 0);
}

TEST_F(SkinPaintTest, HangUpFaceOverCallFace) {
  OpenWindow(336, 301);
  ShowData.lin_call = 1;
  Paint();
  EXPECT_EQ(Mismatches(Surface(), SKIN_B4_UP), 0);
  ShowData.lin_call = 0;
  Paint();
  EXPECT_EQ(Mismatches(Surface(), SKIN_B3_UP), 0);
  EXPECT_GT(Mismatches(Surface(), SKIN_B4_UP), 0);
}

TEST_F(SkinPaintTest, HoverFaces) {
  OpenWindow(336, 301);
  ShowData.Button = BTN_HIDE;
  Paint();
  plat::SurfaceCopy s = Surface();
  EXPECT_EQ(Mismatches(s, SKIN_TR_M), 0);
  EXPECT_GT(Mismatches(s, SKIN_TR), 0);
  ShowData.Button = BTN_RELAY2;
  Paint();
  s = Surface();
  EXPECT_EQ(Mismatches(s, SKIN_B2_OVER), 0);
  EXPECT_EQ(Mismatches(s, SKIN_TR), 0);
  ShowData.lin_call = 1;
  ShowData.Button = BTN_HANGUP;
  Paint();
  EXPECT_EQ(Mismatches(Surface(), SKIN_B4_OVER), 0);
}

TEST_F(SkinPaintTest, TitleRunsUnderTheCorner) {
  OpenWindow(336, 301);
  ShowData.title.Set(std::string(63, 'W').c_str());
  Paint();
  const plat::SurfaceCopy s = Surface();
  // The text starts at the end of `tl`, row 5, golden yellow...
  EXPECT_TRUE(HasColour(s, kTitleYellow, 80, 5, 100, 26));
  EXPECT_FALSE(HasColour(s, kTitleYellow, 0, 0, 80, 26));
  EXPECT_FALSE(HasColour(s, kTitleYellow, 80, 0, 336, 5));
  // ...and its end is hidden under the corner.
  EXPECT_TRUE(HasColour(s, kTitleYellow, 240, 5, 266, 26));
  EXPECT_EQ(Mismatches(s, SKIN_TR), 0);
  EXPECT_EQ(Mismatches(s, SKIN_TL), 0);
}

// ShowTitle alone wipes the old title and writes the new one.
TEST_F(SkinPaintTest, ShowTitleReplacesTheText) {
  OpenWindow(336, 301);
  ShowData.title.Set("Front door");
  Paint();
  EXPECT_TRUE(HasColour(Surface(), kTitleYellow, 80, 5, 266, 26));
  ShowData.title.Set("");
  ShowTitle(g_hwndMain, ShowData);
  const plat::SurfaceCopy s = Surface();
  EXPECT_FALSE(HasColour(s, kTitleYellow, 0, 0, 336, 26));
  const QImage t = BuiltinImage(SKIN_T);
  for (int x = 80; x < 266; ++x)
    ASSERT_EQ(s.at(x, 12), Rgb(t, x % 128, 12)) << x;
}

// The reader repeats ShowTitle for every frame. A repeat over an untouched
// title line draws nothing; once anything has drawn over the line (a button
// lit, a wipe), or the title or the lit corner key changed, it paints again.
TEST_F(SkinPaintTest, ShowTitleRepeatsOnlyWhatWasDrawnOver) {
  OpenWindow(336, 301);
  ShowData.title.Set("Front door");
  Paint();
  ShowTitle(g_hwndMain, ShowData);
  const plat::SurfaceCopy titled = Surface();
  const plat::RECT line{80, 0, 336, 26};
  const std::uint64_t before = plat::DrawnOver(g_hwndMain, line);
  ShowTitle(g_hwndMain, ShowData);
  ShowTitle(g_hwndMain, ShowData);
  EXPECT_EQ(plat::DrawnOver(g_hwndMain, line), before)
      << "an unchanged title was drawn again";

  // Something else wipes part of the line: the next repeat restores it.
  plat::HDC hdc = plat::GetDC(g_hwndMain);
  plat::FillRect(hdc, {60, 0, 200, 20}, plat::RGB(0, 0, 255));
  plat::ReleaseDC(g_hwndMain, hdc);
  ShowTitle(g_hwndMain, ShowData);
  // Pixels of the title line that differ from the first title's.
  const auto changed = [this, &titled] {
    const plat::SurfaceCopy now = Surface();
    int n = 0;
    for (int y = 0; y < 26; ++y)
      for (int x = 80; x < 336; ++x)
        n += now.at(x, y) != titled.at(x, y);
    return n;
  };
  EXPECT_EQ(changed(), 0);

  // Drawing elsewhere (the video area) does not count as over the line.
  const std::uint64_t settled = plat::DrawnOver(g_hwndMain, line);
  hdc = plat::GetDC(g_hwndMain);
  plat::FillRect(hdc, {8, 26, 328, 266}, plat::RGB(0, 0, 0));
  plat::ReleaseDC(g_hwndMain, hdc);
  ShowTitle(g_hwndMain, ShowData);
  EXPECT_EQ(plat::DrawnOver(g_hwndMain, line), settled);

  // A new title, and a lit corner key, are painted at once.
  ShowData.title.Set("Back door");
  ShowTitle(g_hwndMain, ShowData);
  EXPECT_GT(changed(), 0);
  ShowData.title.Set("Front door");
  ShowTitle(g_hwndMain, ShowData);
  EXPECT_EQ(changed(), 0);
  ShowData.Button = BTN_CLOSE;
  ShowTitle(g_hwndMain, ShowData);
  EXPECT_GT(plat::DrawnOver(g_hwndMain, line), settled + 2);
  ShowData.Button = BTN_NONE;
}

TEST_F(SkinPaintTest, ShowMyTextDrawsOnlyTheCountedCharacters) {
  OpenWindow(336, 301);
  ShowData.Kill_TCP = 0;
  Paint();
  plat::HDC hdc = plat::GetDC(g_hwndMain);
  plat::FillRect(hdc, {8, 26, 328, 266}, plat::RGB(0, 0, 0));
  ShowMyText(hdc, "IIIIIIIIIIIIIIIIIIII", 1, 100, 50, plat::RGB(0, 255, 0));
  ShowMyText(hdc, "IIII", 0, 150, 50, plat::RGB(0, 255, 0));
  plat::ReleaseDC(g_hwndMain, hdc);
  const plat::SurfaceCopy s = Surface();
  // One narrow character at column 50, row 100 (posx is the row).
  EXPECT_TRUE(HasColour(s, 0x00FF00, 50, 100, 60, 120));
  EXPECT_FALSE(HasColour(s, 0x00FF00, 62, 90, 200, 130));
  EXPECT_FALSE(HasColour(s, 0x00FF00, 0, 140, 336, 266));
}

// The video reader and the relay threads paint too: from another thread the
// snap to the natural size goes through the window thread, which stays free
// to handle it while the painting thread waits for nothing.
TEST_F(SkinPaintTest, PaintingFromAnotherThread) {
  OpenWindow(640, 480);
  std::atomic<bool> done{false};
  std::thread painter([&] {
    for (int i = 0; i < 5; ++i)
      ShowMyWindow(g_hwndMain, ShowData);
    done = true;
  });
  const bool finished =
      PumpUntil([&] { return done.load(); }, std::chrono::seconds(60));
  painter.join();
  ASSERT_TRUE(finished);
  ASSERT_TRUE(PumpUntil([] { return ShowData.ClientWidth == 336; }));
  const plat::SurfaceCopy s = Surface();
  ASSERT_EQ(s.width, 336);
  EXPECT_EQ(Mismatches(s, SKIN_BR), 0);
  const QImage pozadi = BuiltinImage(SKIN_POZADI);
  for (int y = 60; y < 240; y += 7)
    for (int x = 0; x < 320; x += 7)
      ASSERT_EQ(s.at(8 + x, 26 + y), Rgb(pozadi, x, y)) << x << "," << y;
}
