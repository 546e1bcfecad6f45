// Placing the skin elements for a client size. Sizes are re-read from the
// bitmaps on every pass; each rule refers only to elements with a lower
// index, so the pass runs in index order.
#include "skin/skin.h"

namespace {

int BitmapW(plat::HBITMAP b) { return b ? plat::BitmapWidth(b) : 0; }
int BitmapH(plat::HBITMAP b) { return b ? plat::BitmapHeight(b) : 0; }

} // namespace

void SkinBitmapPos(t_Skin *Skin, int ClientHeight, int ClientWidth) {
  const int CH = ClientHeight;
  const int CW = ClientWidth;
  for (int i = 0; i < kSkinCount; ++i) {
    t_Skin &e = Skin[i];
    const int W = BitmapW(e.ShBitmap);
    const int H = BitmapH(e.ShBitmap);
    e.Width = W;
    e.Height = H;
    int top = 0;
    int left = 0;
    switch (i) {
    case SKIN_R:
    case SKIN_TR:
    case SKIN_TR_S:
    case SKIN_TR_M:
    case SKIN_TR_C:
      left = CW - W;
      break;
    case SKIN_B:
    case SKIN_BL_OFF:
    case SKIN_BL_ON:
    case SKIN_BL_OVER:
    case SKIN_BL_DOWN:
      top = CH - H;
      break;
    case SKIN_BR:
      top = CH - H;
      left = CW - W;
      break;
    case SKIN_B1_UP:
    case SKIN_B1_OVER:
    case SKIN_B1_DOWN:
      top = CH - H;
      left = CW - W - Skin[SKIN_BR].Width;
      break;
    case SKIN_B2_UP:
    case SKIN_B2_OVER:
    case SKIN_B2_DOWN:
      top = CH - H;
      left = CW - W - Skin[SKIN_BR].Width - Skin[SKIN_B1_UP].Width;
      break;
    case SKIN_POZADI:
      top = Skin[SKIN_T].Height;
      left = Skin[SKIN_L].Width;
      break;
    case SKIN_B3_OVER:
    case SKIN_B4_OVER:
    case SKIN_B3_DOWN:
    case SKIN_B4_DOWN:
    case SKIN_B3_UP:
    case SKIN_B4_UP:
      top = CH - H;
      left = CW - W - Skin[SKIN_BR].Width - Skin[SKIN_B1_UP].Width -
             Skin[SKIN_B2_UP].Width;
      break;
    default: // l, t, tl: the top-left corner
      break;
    }
    e.PosX = top;
    e.PosY = left;
  }
}

void SkinLayoutFor(const t_Skin *Skin, t_ClientSize size,
                   t_Skin (&out)[kSkinCount]) {
  for (int i = 0; i < kSkinCount; ++i) {
    out[i].Name = Skin[i].Name;
    out[i].ShBitmap = Skin[i].ShBitmap;
  }
  SkinBitmapPos(out, size.height, size.width);
}

plat::RECT SkinVideoArea(const t_Skin *Skin, int ClientHeight,
                         int ClientWidth) {
  const int left = Skin[SKIN_L].Width;
  const int top = Skin[SKIN_T].Height;
  return {left, top, ClientWidth - Skin[SKIN_R].Width,
          ClientHeight - Skin[SKIN_B].Height};
}

plat::POINT SkinMinTrackSize(const t_Skin *Skin) {
  // The bottom row must fit: b2, b1 and b3 with the call indicator, plus the
  // right edge and a little air. (The sum counts `r`, not the corner `br`.)
  return {Skin[SKIN_B2_UP].Width + Skin[SKIN_B1_UP].Width +
              Skin[SKIN_B3_UP].Width + Skin[SKIN_BL_OFF].Width +
              Skin[SKIN_R].Width + 10,
          Skin[SKIN_B].Height + Skin[SKIN_T].Height};
}
