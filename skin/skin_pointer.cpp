// Pointer feedback: the drag strip and the resize grip that stand in for a
// system frame, and the hover and pressed faces of the seven buttons.
#include <cstdio>

#include "instance/identity.h"
#include "skin/skin.h"
#include "skin/skin_draw.h"

namespace {

// The three keys of the top-right corner lie at fixed offsets from its left
// edge, whatever the corner image's size.
struct CornerKey {
  int from; // exclusive
  int to;   // exclusive
  int button;
};
constexpr CornerKey kCornerKeys[] = {
    {0, 20, BTN_SETTINGS}, {25, 40, BTN_HIDE}, {45, 60, BTN_CLOSE}};

// The drag strip ends this many pixels before the corner, so the keys and
// the air in front of them stay client area.
constexpr int kDragStripGap = 5;

// The element that puts an old hover value back to its normal face.
int LastButton(int old, bool linCall) {
  switch (old) {
  case BTN_RELAY1:
    return SKIN_B1_UP;
  case BTN_RELAY2:
    return SKIN_B2_UP;
  case BTN_CALL:
  case BTN_HANGUP:
    return linCall ? SKIN_B4_UP : SKIN_B3_UP;
  default:
    return old; // tr, or a lit corner that the new face covers
  }
}

bool IsElement(int index) { return index >= 0 && index < kSkinCount; }

} // namespace

plat::BOOL OverBMP(t_Skin s, plat::POINT cur) {
  return s.PosX < cur.y && cur.y < s.PosX + s.Height - 5 && s.PosY < cur.x &&
         cur.x < s.PosY + s.Width - 5;
}

plat::LRESULT MyNCHitTest(plat::HWND hwnd, plat::UINT message,
                          plat::WPARAM wParam, plat::LPARAM lParam) {
  plat::LRESULT hit = plat::DefWindowProc(hwnd, message, wParam, lParam);
  plat::RECT rc{};
  if (!plat::GetWindowRect(hwnd, &rc))
    return hit;
  const int x = plat::GET_X_LPARAM(lParam);
  const int y = plat::GET_Y_LPARAM(lParam);
  if (y < rc.top + Skin[SKIN_T].Height &&
      x < rc.right - Skin[SKIN_TR].Width - kDragStripGap)
    hit = plat::HTCAPTION;
  // The grip is tested last and wins where both match.
  if (y > rc.bottom - Skin[SKIN_BR].Height &&
      x > rc.right - Skin[SKIN_BR].Width)
    hit = plat::HTBOTTOMRIGHT;
  return hit;
}

int MyMouseMove(plat::WPARAM /*wParam*/, plat::LPARAM lParam) {
  const plat::POINT cur{plat::GET_X_LPARAM(lParam), plat::GET_Y_LPARAM(lParam)};
  const bool linCall = ShowData.lin_call != 0;
  int v = BTN_NONE;
  // b3 and b4 share one place; its rectangle is that of `br_b3_over`.
  if (OverBMP(Skin[SKIN_B3_OVER], cur))
    v = linCall ? BTN_HANGUP : BTN_CALL;
  if (OverBMP(Skin[SKIN_B2_UP], cur))
    v = BTN_RELAY2;
  if (OverBMP(Skin[SKIN_B1_UP], cur))
    v = BTN_RELAY1;
  if (OverBMP(Skin[SKIN_TR], cur)) {
    const int L = Skin[SKIN_TR].PosY;
    for (const CornerKey &key : kCornerKeys)
      if (L + key.from < cur.x && cur.x < L + key.to)
        v = key.button;
  }

  const int old = ShowData.Button;
  if (v != old) {
    plat::HDC hdc = plat::GetDC(g_hwndMain);
    if (hdc) {
      const int last = LastButton(old, linCall);
      if (IsElement(last))
        DrawElement(hdc, Skin[last]);
      DrawElement(hdc, Skin[v]);
      plat::ReleaseDC(g_hwndMain, hdc);
    }
  }
  return v;
}

void MyLButtonDown(int But) {
  int pressed;
  switch (But) {
  case BTN_RELAY1:
    pressed = SKIN_B1_DOWN;
    break;
  case BTN_RELAY2:
    pressed = SKIN_B2_DOWN;
    break;
  case BTN_CALL:
    pressed = SKIN_B3_DOWN;
    break;
  case BTN_HANGUP:
    pressed = SKIN_B4_DOWN;
    break;
  default:
    return; // the corner keys have no pressed face
  }
  plat::HDC hdc = plat::GetDC(g_hwndMain);
  if (!hdc)
    return;
  DrawElement(hdc, Skin[pressed]);
  plat::ReleaseDC(g_hwndMain, hdc);
}

void SetLinCall(bool inCall) {
  ShowData.lin_call = inCall ? 1 : 0;
  const int hovered = ShowData.Button;
  if (hovered == BTN_CALL || hovered == BTN_HANGUP) {
    ShowData.Button = inCall ? BTN_HANGUP : BTN_CALL;
    plat::UpdateToolTip(g_hwndMain);
  }
  CallLineFollows(inCall);
  if (plat::IsWindowVisible(g_hwndMain))
    ShowMyWindow(g_hwndMain, ShowData);
}

void ButtonToolTip(plat::NMTTDISPINFO &info) {
  const char *tip = "";
  switch (ShowData.Button) {
  case BTN_SETTINGS:
    tip = "Settings";
    break;
  case BTN_HIDE:
    tip = "Hide";
    break;
  case BTN_CLOSE:
    tip = "Close";
    break;
  case BTN_RELAY1:
    tip = "Relay 1";
    break;
  case BTN_RELAY2:
    tip = "Relay 2";
    break;
  case BTN_CALL:
    tip = "Call the door unit";
    break;
  case BTN_HANGUP:
    tip = "Hang up";
    break;
  default:
    break;
  }
  std::snprintf(info.szText, sizeof info.szText, "%s", tip);
}
