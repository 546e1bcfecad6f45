// Drawing: every window owns a surface that any thread may draw into
// through a device context. Releasing the context hands the touched area to
// the window thread, which presents it.
//
// Never make a blocking call to the window thread (SendMessage) while
// holding a device context: the window thread may be waiting for the same
// surface.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/window.h"

namespace plat {

// 0x00BBGGRR, as Windows colours are written.
using COLORREF = std::uint32_t;
constexpr COLORREF RGB(int r, int g, int b) {
  return static_cast<COLORREF>((r & 0xFF) | ((g & 0xFF) << 8) |
                               ((b & 0xFF) << 16));
}

struct DC;
using HDC = DC *;
struct Bitmap;
using HBITMAP = Bitmap *;

// Locks the window's surface until ReleaseDC. Null when the window is gone.
HDC GetDC(HWND hwnd);
int ReleaseDC(HWND hwnd, HDC hdc);
// A device context for handling WM_PAINT; clears the pending paint.
HDC BeginPaint(HWND hwnd);
void EndPaint(HWND hwnd, HDC hdc);

// Copies the (w x h) part of `src` at (sx, sy) to (x, y).
void BitBlt(HDC hdc, int x, int y, int w, int h, HBITMAP src, int sx, int sy);
// Transparent text, its top-left corner at (x, y).
void TextOut(HDC hdc, int x, int y, const char *text, COLORREF color);
// Transparent text in a smaller, regular face, from the top-left corner of
// `rect` down, broken at spaces into lines no wider than the rectangle;
// nothing is drawn outside it. Plain text, as TextOut's. (Windows'
// DrawText with DT_WORDBREAK in a small font.)
void DrawSmallText(HDC hdc, const RECT &rect, const char *text, COLORREF color);
// Draws 32-bit pixels (B, G, R, X bytes in memory, rows `stride` bytes apart,
// top row first) at (x, y).
void DrawPixels(HDC hdc, int x, int y, int w, int h, const std::uint8_t *bgrx,
                int stride);
// The device's own pixels of the w x h area at (x, y), for writing in
// place until ReleaseDC: 32 bits each (B, G, R, then 0xFF), top row first,
// rows `*stride` bytes apart. The area counts as drawn. Null when the area
// is not wholly on the window or its pixels are of another kind; DrawPixels
// serves then.
std::uint8_t *DevicePixels(HDC hdc, int x, int y, int w, int h, int *stride);

// How many times anything has been drawn over `area` of the window (counted
// from the first time the area is asked about): a painter that repeats the
// same picture can tell whether its last one still stands. A window keeps
// a few such areas; past those every answer is new.
std::uint64_t DrawnOver(HWND hwnd, const RECT &area);

// Reads a Windows BMP file (any of its usual depths). Null when the file is
// missing, is not a regular file, or is not a BMP; also when its header
// declares more pixels than its data holds, or (with `maxSide`) a side
// longer than that: such a header alone would have the whole picture made.
HBITMAP LoadBitmapFile(const char *path, int maxSide = 0);
// The same from bytes in memory.
HBITMAP LoadBitmapMemory(const std::uint8_t *data, std::size_t size,
                         int maxSide = 0);
// A bitmap holding a copy of 32-bit pixels (as DrawPixels).
HBITMAP CreateBitmap(int w, int h, const std::uint8_t *bgrx, int stride);
bool DeleteObject(HBITMAP bitmap);
int BitmapWidth(HBITMAP bitmap);
int BitmapHeight(HBITMAP bitmap);

} // namespace plat
