// Drawing one skin element; shared by the painting and the pointer feedback.
#pragma once

#include "skin/skin.h"

// Copies the element's whole bitmap to its own place (column PosY, row
// PosX). Nothing is drawn for an element without a bitmap.
inline void DrawElement(plat::HDC hdc, const t_Skin &e) {
  if (hdc && e.ShBitmap)
    plat::BitBlt(hdc, e.PosY, e.PosX, e.Width, e.Height, e.ShBitmap, 0, 0);
}
