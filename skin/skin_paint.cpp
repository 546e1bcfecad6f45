// Painting the skinned window. Every call repaints from its own copy of the
// display state and takes its own device context, so the window thread, the
// video reader and the relay threads may all paint.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "skin/skin.h"
#include "skin/skin_background.h"
#include "skin/skin_draw.h"

namespace {

constexpr int kRegionEllipse = 15;
constexpr const char kConnectingText[] = "Connecting, please wait...";
constexpr plat::COLORREF kConnectingColor = plat::RGB(255, 255, 0);
constexpr int kConnectingX = 20;
constexpr int kConnectingY = 30;
// The reason under it, in the small face, as wide as the video area lets it.
constexpr int kWhyY = 47;
constexpr int kWhyMargin = 12;
constexpr plat::COLORREF kTitleColor = 0xE5F9; // golden yellow
constexpr int kTitleRow = 5;

// The title line's text: the title, or a call's state with the title.
constexpr std::size_t kTitleLineSize = 96;

// What ShowTitle last drew, and where the window's count of drawing over
// the title line stood just after.
struct t_TitleShown {
  plat::HWND hwnd = nullptr;
  const t_Skin *skin = nullptr;
  int width = -1;
  int button = -1;
  char text[kTitleLineSize] = {};
  std::uint64_t drawnOver = 0;
  bool Same(const t_TitleShown &o) const {
    return hwnd == o.hwnd && skin == o.skin && width == o.width &&
           button == o.button && drawnOver == o.drawnOver &&
           std::strcmp(text, o.text) == 0;
  }
};
std::mutex g_titleMutex;
t_TitleShown g_titleShown;

// An edge repeated downwards at its column until the height is covered.
void TileDown(plat::HDC hdc, const t_Skin &e, int CH) {
  const int h = e.Height;
  if (!e.ShBitmap || h <= 0)
    return;
  for (int row = 0; row < CH; row += h)
    plat::BitBlt(hdc, e.PosY, row, e.Width, h, e.ShBitmap, 0, 0);
}

// An edge repeated rightwards at its row from column `from`.
void TileRight(plat::HDC hdc, const t_Skin &e, int from, int CW) {
  const int w = e.Width;
  if (!e.ShBitmap || w <= 0)
    return;
  for (int col = from; col < CW; col += w)
    plat::BitBlt(hdc, col, e.PosX, w, e.Height, e.ShBitmap, 0, 0);
}

// `pozadi` repeated over the video area and cut at its edges: the stand-in
// for a background picture that cannot be decoded, at any window size.
void TileVideoArea(plat::HDC hdc, const t_Skin &e, const plat::RECT &area) {
  const int w = e.Width;
  const int h = e.Height;
  if (!e.ShBitmap || w <= 0 || h <= 0)
    return;
  for (int y = area.top; y < area.bottom; y += h)
    for (int x = area.left; x < area.right; x += w)
      plat::BitBlt(hdc, x, y, std::min(w, area.right - x),
                   std::min(h, area.bottom - y), e.ShBitmap, 0, 0);
}

// The title line on a context the caller holds: the top edge right of `tl`
// wipes the old text, the new one follows, and the corner covers whatever
// of it reaches that far.
void PaintTitle(plat::HDC hdc, const t_ShowData &SData) {
  const t_Skin *S = SData.Skin.load();
  const int CW = SData.ClientWidth;
  TileRight(hdc, S[SKIN_T], S[SKIN_TL].Width, CW);

  char title[kTitleLineSize];
  TitleLineText(SData, title, sizeof title);
  ShowMyText(hdc, title, static_cast<int>(std::strlen(title)), kTitleRow,
             S[SKIN_TL].Width, kTitleColor);

  const int button = SData.Button;
  const t_Skin &tr = S[SKIN_TR];
  const t_Skin &corner =
      (button == BTN_SETTINGS || button == BTN_HIDE || button == BTN_CLOSE)
          ? S[button]
          : tr;
  if (corner.ShBitmap)
    plat::BitBlt(hdc, tr.PosY, tr.PosX, std::min<int>(tr.Width, corner.Width),
                 std::min<int>(tr.Height, corner.Height), corner.ShBitmap, 0,
                 0);
}

} // namespace

void ShowMyText(plat::HDC hdc, const char *text, int len_text, int posx,
                int posy, plat::COLORREF color) {
  if (!hdc || !text || len_text <= 0)
    return;
  const std::string part(text,
                         strnlen(text, static_cast<std::size_t>(len_text)));
  plat::TextOut(hdc, posy, posx, part.c_str(), color);
}

void ShowTitle(plat::HWND hwnd, t_ShowData SData) {
  const t_Skin *shared = SData.Skin.load();
  if (!shared)
    return;
  t_Skin S[kSkinCount];
  SkinLayoutFor(shared, SData.Size.load(), S);
  SData.Skin = S;
  // The reader calls this for every video frame with, nearly always, what
  // it drew the last time. That repeat is left out while nothing else has
  // drawn over the title line since: text layout and presenting it again
  // cost as much as a tenth of a frame's decoding.
  t_TitleShown now;
  now.hwnd = hwnd;
  now.skin = shared;
  now.width = SData.ClientWidth;
  now.button = SData.Button;
  TitleLineText(SData, now.text, sizeof now.text);
  const t_Skin &tr = S[SKIN_TR];
  const plat::RECT line{S[SKIN_TL].Width, 0,
                        std::max(now.width, tr.PosY + tr.Width),
                        std::max<int>(S[SKIN_T].Height, tr.PosX + tr.Height)};
  {
    std::lock_guard lock(g_titleMutex);
    now.drawnOver = plat::DrawnOver(hwnd, line);
    if (g_titleShown.Same(now))
      return;
  }
  plat::HDC hdc = plat::GetDC(hwnd);
  if (!hdc)
    return;
  PaintTitle(hdc, SData);
  plat::ReleaseDC(hwnd, hdc);
  // Counted with this paint; anything drawn over the line meanwhile makes
  // the count larger still, and the next call paints again.
  std::lock_guard lock(g_titleMutex);
  now.drawnOver += 1;
  g_titleShown = now;
}

void ShowMyWindow(plat::HWND hwnd, t_ShowData SData) {
  const t_Skin *shared = SData.Skin.load();
  if (!shared)
    return;
  const t_ClientSize size = SData.Size.load();
  int CW = size.width;
  int CH = size.height;
  t_Skin S[kSkinCount];
  SkinLayoutFor(shared, size, S);
  SData.Skin = S;

  // Without video and without a background picture the window returns to
  // the skin's natural size. That is settled before the region is made and
  // before the surface is taken: the region must fit the final size, and the
  // resize must not wait on the window thread while this thread holds the
  // surface.
  const bool notConnected = SData.Kill_TCP != 0 || SData.noPictures != 0;
  const bool picture = notConnected && HasBackgroundPicture();
  if (notConnected && !picture) {
    CW = S[SKIN_L].Width + S[SKIN_R].Width + S[SKIN_POZADI].Width;
    CH = S[SKIN_T].Height + S[SKIN_B].Height + S[SKIN_POZADI].Height;
    SData.Size.store({CW, CH});
    SkinBitmapPos(S, CH, CW);
    // The window thread lays out the shared table when the size arrives.
    plat::SetWindowPos(hwnd, plat::HWND_TOP, 0, 0, CW, CH,
                       plat::SWP_NOMOVE | plat::SWP_NOZORDER);
  }

  plat::SetWindowRoundRegion(hwnd, CW, CH, kRegionEllipse, kRegionEllipse);
  plat::ShowWindow(hwnd, plat::SW_SHOW);

  plat::HDC hdc = plat::GetDC(hwnd);
  if (!hdc)
    return;

  if (notConnected) {
    const plat::RECT area = SkinVideoArea(S, CH, CW);
    if (picture) {
      if (!DrawBackgroundPicture(hdc, area.left, area.top,
                                 area.right - area.left,
                                 area.bottom - area.top))
        TileVideoArea(hdc, S[SKIN_POZADI], area);
    } else {
      DrawElement(hdc, S[SKIN_POZADI]);
    }
    plat::TextOut(hdc, kConnectingX, kConnectingY, kConnectingText,
                  kConnectingColor);
    char why[decltype(SData.why)::size()];
    SData.why.CopyTo(why, sizeof why);
    plat::DrawSmallText(
        hdc, {kConnectingX, kWhyY, area.right - kWhyMargin, area.bottom}, why,
        kConnectingColor);
  }

  // The frame: edges tiled first, the corners and the two relay keys over
  // their ends.
  TileDown(hdc, S[SKIN_L], CH);
  TileDown(hdc, S[SKIN_R], CH);
  TileRight(hdc, S[SKIN_T], 0, CW);
  TileRight(hdc, S[SKIN_B], 0, CW);
  for (int i = SKIN_TL; i <= SKIN_B2_UP; ++i)
    DrawElement(hdc, S[i]);

  PaintTitle(hdc, SData);

  // The hang-up face replaces the call face while a SIP call is active.
  DrawElement(hdc, S[SKIN_B3_UP]);
  if (SData.lin_call)
    DrawElement(hdc, S[SKIN_B4_UP]);

  const int button = SData.Button;
  if (button != BTN_NONE && button >= 0 && button < kSkinCount)
    DrawElement(hdc, S[button]);

  if (SData.call)
    DrawElement(hdc, S[SKIN_BL_ON]);

  plat::ReleaseDC(hwnd, hdc);
}
