// Loading the 27 skin elements: a file in the folder Skin overrides the
// built-in image of its element, one element at a time.
#include <cstdio>
#include <vector>

#include "resources/resources.h"
#include "skin/skin.h"
#include "skin/skin_background.h"

t_Skin Skin[kSkinCount];

namespace {

// No sensible skin element is anywhere near this (the largest built-in one
// is 320 pixels wide); a bigger image counts as missing, so a stray file
// can neither push the layout sums out of range nor make a huge window.
constexpr int kMaxElementSide = 1024;

constexpr const char kBackgroundPicture[] = "Skin/pozadi.jpg";

// The colour of the frame, for an element no image could be had for.
constexpr std::uint8_t kFallbackGrey[4] = {0x36, 0x31, 0x31, 0xFF};

bool Acceptable(plat::HBITMAP bitmap) {
  if (!bitmap)
    return false;
  const int w = plat::BitmapWidth(bitmap);
  const int h = plat::BitmapHeight(bitmap);
  if (w > 0 && h > 0 && w <= kMaxElementSide && h <= kMaxElementSide)
    return true;
  plat::DeleteObject(bitmap);
  return false;
}

// The file's image when it is a Windows BMP; null when it is missing,
// unreadable, or anything else named .bmp (a JPEG or PNG is refused by its
// content, not its name).
plat::HBITMAP LoadSkinFile(const char *path) {
  plat::HBITMAP bitmap = plat::LoadBitmapFile(path, kMaxElementSide);
  return Acceptable(bitmap) ? bitmap : nullptr;
}

plat::HBITMAP LoadBuiltin(int index) {
  const res::ResourceData data =
      res::FindResource(kSkinFirstResourceId + index);
  if (!data)
    return nullptr;
  plat::HBITMAP bitmap = plat::LoadBitmapMemory(data.data, data.size);
  return Acceptable(bitmap) ? bitmap : nullptr;
}

// Both sources failed (only a broken build or an exhausted memory gets
// here): a plain frame-coloured block of the built-in size keeps the layout
// and the painting whole. May itself be null; layout then takes 0 x 0 and
// painting skips the element.
plat::HBITMAP PlainElement(int index) {
  const int w = kSkinBuiltin[index].width;
  const int h = kSkinBuiltin[index].height;
  std::vector<std::uint8_t> pixels(static_cast<std::size_t>(w) * h * 4);
  for (std::size_t i = 0; i < pixels.size(); i += 4)
    for (int c = 0; c < 4; ++c)
      pixels[i + c] = kFallbackGrey[c];
  return plat::CreateBitmap(w, h, pixels.data(), w * 4);
}

} // namespace

void InitSkin(plat::HWND /*hwnd*/, t_Skin *Skin) {
  for (int i = 0; i < kSkinCount; ++i) {
    // "Skin/" + the longest name (10) + ".bmp" + NUL is 20 characters.
    char path[32] = {};
    Skin[i].Name = NameBMP[i];
    std::snprintf(path, sizeof path, "Skin/%s.bmp", Skin[i].Name);
    plat::HBITMAP bitmap = LoadSkinFile(path);
    if (!bitmap)
      bitmap = LoadBuiltin(i);
    if (!bitmap)
      bitmap = PlainElement(i);
    Skin[i].ShBitmap = bitmap;
  }
  LoadBackgroundPicture(kBackgroundPicture);
}

void FreeSkin(t_Skin *Skin) {
  for (int i = 0; i < kSkinCount; ++i) {
    if (Skin[i].ShBitmap)
      plat::DeleteObject(Skin[i].ShBitmap);
    Skin[i].ShBitmap = nullptr;
  }
}
