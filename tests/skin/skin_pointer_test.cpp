// Pointer feedback: sensitive rectangles, the drag strip and the grip, the
// hover values with their redraws, and the pressed faces.
#include "skin_fixture.h"

namespace {

plat::LPARAM At(int x, int y) { return plat::MAKELPARAM(x, y); }

} // namespace

class SkinPointerTest : public SkinTest {
protected:
  // One mouse move as the window procedure handles it.
  int Move(int x, int y) {
    const int v = MyMouseMove(0, At(x, y));
    ShowData.Button = v;
    return v;
  }
  plat::LRESULT Hit(int screenX, int screenY) {
    return MyNCHitTest(g_hwndMain, plat::WM_NCHITTEST, 0, At(screenX, screenY));
  }
};

// A 73 x 35 button at top 266, left 247 is sensitive over rows 267 to 295
// and columns 248 to 314 only.
TEST_F(SkinTest, OverBmpExcludesFirstAndLastFiveRowsAndColumns) {
  LoadSkin(336, 301);
  const t_Skin &b1 = Skin[SKIN_B1_UP];
  ASSERT_EQ(b1.PosX, 266);
  ASSERT_EQ(b1.PosY, 247);
  EXPECT_TRUE(OverBMP(b1, {248, 267}));
  EXPECT_TRUE(OverBMP(b1, {314, 295}));
  EXPECT_TRUE(OverBMP(b1, {280, 280}));
  EXPECT_FALSE(OverBMP(b1, {247, 280})); // first column
  EXPECT_FALSE(OverBMP(b1, {280, 266})); // first row
  EXPECT_FALSE(OverBMP(b1, {315, 280})); // last five columns
  EXPECT_FALSE(OverBMP(b1, {319, 280}));
  EXPECT_FALSE(OverBMP(b1, {280, 296})); // last five rows
  EXPECT_FALSE(OverBMP(b1, {280, 300}));
}

TEST_F(SkinPointerTest, ValuesOfEveryButton) {
  OpenWindow(336, 301);
  EXPECT_EQ(Move(280, 280), BTN_RELAY1);
  EXPECT_EQ(Move(200, 280), BTN_RELAY2);
  EXPECT_EQ(Move(130, 280), BTN_CALL);
  ShowData.lin_call = 1;
  EXPECT_EQ(Move(131, 280), BTN_HANGUP);
  ShowData.lin_call = 0;
  EXPECT_EQ(Move(266 + 10, 10), BTN_SETTINGS);
  EXPECT_EQ(Move(266 + 30, 10), BTN_HIDE);
  EXPECT_EQ(Move(266 + 50, 10), BTN_CLOSE);
  EXPECT_EQ(Move(150, 150), BTN_NONE);
  EXPECT_EQ(Move(15, 280), BTN_NONE); // the call indicator is no button
  EXPECT_EQ(Move(100, 10), BTN_NONE);
}

// The corner's keys lie at fixed offsets from its left edge L.
TEST_F(SkinPointerTest, CornerGaps) {
  OpenWindow(336, 301);
  const int L = Skin[SKIN_TR].PosY;
  ASSERT_EQ(L, 266);
  const int y = 10;
  EXPECT_EQ(Move(L + 1, y), BTN_SETTINGS);
  EXPECT_EQ(Move(L + 19, y), BTN_SETTINGS);
  for (int x = L + 20; x <= L + 25; ++x)
    EXPECT_EQ(Move(x, y), BTN_NONE) << x - L;
  EXPECT_EQ(Move(L + 26, y), BTN_HIDE);
  EXPECT_EQ(Move(L + 39, y), BTN_HIDE);
  for (int x = L + 40; x <= L + 45; ++x)
    EXPECT_EQ(Move(x, y), BTN_NONE) << x - L;
  EXPECT_EQ(Move(L + 46, y), BTN_CLOSE);
  EXPECT_EQ(Move(L + 59, y), BTN_CLOSE);
  EXPECT_EQ(Move(L + 60, y), BTN_NONE);
  // The corner's own rectangle bounds the keys vertically.
  EXPECT_EQ(Move(L + 10, 0), BTN_NONE);
  EXPECT_EQ(Move(L + 10, 20), BTN_SETTINGS);
  EXPECT_EQ(Move(L + 10, 21), BTN_NONE);
}

// Hover redraws: the old button's normal face, then the new face.
TEST_F(SkinPointerTest, HoverRedrawsOldAndNewFaces) {
  OpenWindow(336, 301);
  ShowData.Kill_TCP = 0;
  ShowMyWindow(g_hwndMain, ShowData);
  Move(200, 280);
  plat::SurfaceCopy s = Surface();
  EXPECT_EQ(Mismatches(s, SKIN_B2_OVER), 0);
  // Leaving b2 for an empty spot puts b2 back and redraws the plain corner.
  Move(150, 150);
  s = Surface();
  EXPECT_EQ(Mismatches(s, SKIN_B2_UP), 0);
  EXPECT_EQ(Mismatches(s, SKIN_TR), 0);
  // From settings to hide inside the corner: the hide key is lit alone.
  Move(266 + 10, 10);
  EXPECT_EQ(Mismatches(Surface(), SKIN_TR_S), 0);
  Move(266 + 30, 10);
  EXPECT_EQ(Mismatches(Surface(), SKIN_TR_M), 0);
  // Over the call place during a SIP call: the hang-up hover face; moving
  // on restores the hang-up face, not the call face.
  Move(150, 150);
  ShowData.lin_call = 1;
  ShowMyWindow(g_hwndMain, ShowData);
  Move(130, 280);
  EXPECT_EQ(Mismatches(Surface(), SKIN_B4_OVER), 0);
  Move(150, 150);
  EXPECT_EQ(Mismatches(Surface(), SKIN_B4_UP), 0);
}

// A move within one button draws nothing.
TEST_F(SkinPointerTest, NoRedrawWithoutChange) {
  OpenWindow(336, 301);
  ShowData.Kill_TCP = 0;
  ShowMyWindow(g_hwndMain, ShowData);
  Move(280, 280);
  plat::HDC hdc = plat::GetDC(g_hwndMain);
  plat::FillRect(hdc, {247, 266, 320, 301}, plat::RGB(0, 0, 255));
  plat::ReleaseDC(g_hwndMain, hdc);
  Move(290, 285);
  EXPECT_EQ(Surface().at(280, 280), 0x0000FFu);
}

TEST_F(SkinPointerTest, PressedFaces) {
  OpenWindow(336, 301);
  ShowData.Kill_TCP = 0;
  ShowMyWindow(g_hwndMain, ShowData);
  const plat::SurfaceCopy before = Surface();
  // The corner keys have no pressed face.
  for (int button : {BTN_NONE, BTN_SETTINGS, BTN_HIDE, BTN_CLOSE}) {
    MyLButtonDown(button);
    EXPECT_EQ(Surface().pixels, before.pixels) << button;
  }
  const std::pair<int, int> faces[] = {{BTN_RELAY1, SKIN_B1_DOWN},
                                       {BTN_RELAY2, SKIN_B2_DOWN},
                                       {BTN_CALL, SKIN_B3_DOWN},
                                       {BTN_HANGUP, SKIN_B4_DOWN}};
  for (auto [button, face] : faces) {
    ASSERT_GT(Mismatches(Surface(), face), 0) << NameBMP[face];
    MyLButtonDown(button);
    EXPECT_EQ(Mismatches(Surface(), face), 0) << NameBMP[face];
  }
}

// Window at (100, 50), 336 x 301: rows 0 to 25 of columns up to 260 drag,
// rows 267 to 300 of columns 321 to 335 resize.
TEST_F(SkinPointerTest, HitTestZonesAtDefaultSize) {
  OpenWindow(336, 301, 100, 50);
  const int X = 100, Y = 50;
  EXPECT_EQ(Hit(X + 0, Y + 0), plat::HTCAPTION);
  EXPECT_EQ(Hit(X + 260, Y + 25), plat::HTCAPTION);
  EXPECT_EQ(Hit(X + 261, Y + 10), plat::HTCLIENT);
  EXPECT_EQ(Hit(X + 300, Y + 10), plat::HTCLIENT);
  EXPECT_EQ(Hit(X + 100, Y + 26), plat::HTCLIENT);
  EXPECT_EQ(Hit(X + 321, Y + 267), plat::HTBOTTOMRIGHT);
  EXPECT_EQ(Hit(X + 335, Y + 300), plat::HTBOTTOMRIGHT);
  EXPECT_EQ(Hit(X + 320, Y + 280), plat::HTCLIENT);
  EXPECT_EQ(Hit(X + 330, Y + 266), plat::HTCLIENT);
  EXPECT_EQ(Hit(X + 168, Y + 150), plat::HTCLIENT);
}

// The grip wins where both zones match (a tall top edge, a narrow corner
// and a low window make them overlap).
TEST_F(SkinPointerTest, GripWinsOverDragStrip) {
  WriteSkinImage("t.bmp", Solid(128, 60, 0x303030), "BMP");
  WriteSkinImage("tr.bmp", Solid(5, 26, 0x303030), "BMP");
  OpenWindow(268, 70, 0, 0);
  EXPECT_EQ(Hit(255, 40), plat::HTBOTTOMRIGHT);
  EXPECT_EQ(Hit(100, 40), plat::HTCAPTION);
  EXPECT_EQ(Hit(255, 20), plat::HTCAPTION);
}

// Only `t` replaced: a taller top edge makes a taller drag strip and moves
// the video area down.
TEST_F(SkinPointerTest, ReplacedTopEdgeMovesDragStripAndVideoArea) {
  WriteSkinImage("t.bmp", Solid(64, 40, 0x405060), "BMP");
  OpenWindow(336, 301, 0, 0);
  EXPECT_EQ(Hit(100, 39), plat::HTCAPTION);
  EXPECT_EQ(Hit(100, 40), plat::HTCLIENT);
  EXPECT_EQ(Skin[SKIN_POZADI].PosX, 40);
  const plat::RECT video = SkinVideoArea(Skin, 301, 336);
  EXPECT_EQ(video.top, 40);
}
