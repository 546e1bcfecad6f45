// One received frame onto the screen: decode the frame file, stretch it to
// the video area, draw it at the area's corner.
#include <FreeImage.h>

#include <cstdio>

#include "platform/gdi.h"
#include "skin/skin.h"
#include "video/video.h"

namespace {

// A door unit's camera picture is a few megapixels at most; a header that
// claims more is not decoded, so a damaged stream cannot exhaust memory.
constexpr unsigned kMaxPictureSide = 8192;

} // namespace

unsigned myReadProc(void *buffer, unsigned size, unsigned count, void *handle) {
  return static_cast<unsigned>(
      std::fread(buffer, size, count, static_cast<FILE *>(handle)));
}

unsigned myWriteProc(void *buffer, unsigned size, unsigned count,
                     void *handle) {
  return static_cast<unsigned>(
      std::fwrite(buffer, size, count, static_cast<FILE *>(handle)));
}

int mySeekProc(void *handle, long offset, int origin) {
  return std::fseek(static_cast<FILE *>(handle), offset, origin);
}

long myTellProc(void *handle) {
  return std::ftell(static_cast<FILE *>(handle));
}

void ShowJPEG(plat::HWND hwnd, const char *NameJPEG, int ClW, int ClH,
              const t_Skin *Skin) {
  const t_Skin &pozadi = Skin[SKIN_POZADI];
  const int W = ClW - Skin[SKIN_L].Width - Skin[SKIN_R].Width;
  const int H = ClH - Skin[SKIN_T].Height - Skin[SKIN_B].Height;
  if (W <= 0 || H <= 0)
    return;
  FILE *file = std::fopen(NameJPEG, "rb");
  if (file == nullptr)
    return;

  FreeImageIO io;
  io.read_proc = myReadProc;
  io.write_proc = nullptr;
  io.seek_proc = mySeekProc;
  io.tell_proc = myTellProc;
  FIBITMAP *header =
      FreeImage_LoadFromHandle(FIF_JPEG, &io, file, FIF_LOAD_NOPIXELS);
  const bool sane = header != nullptr &&
                    FreeImage_GetWidth(header) <= kMaxPictureSide &&
                    FreeImage_GetHeight(header) <= kMaxPictureSide;
  if (header != nullptr)
    FreeImage_Unload(header);
  FIBITMAP *image = nullptr;
  if (sane && std::fseek(file, 0, SEEK_SET) == 0)
    image = FreeImage_LoadFromHandle(FIF_JPEG, &io, file, 0);
  std::fclose(file);
  if (image == nullptr)
    return;

  FIBITMAP *scaled = FreeImage_Rescale(image, W, H, FILTER_BSPLINE);
  FreeImage_Unload(image);
  FIBITMAP *pixels = nullptr;
  if (scaled != nullptr) {
    pixels = FreeImage_ConvertTo32Bits(scaled);
    FreeImage_Unload(scaled);
  }
  if (pixels == nullptr)
    return;
  // FreeImage keeps the bottom row first; the surface wants the top first.
  FreeImage_FlipVertical(pixels);
  const int width = static_cast<int>(FreeImage_GetWidth(pixels));
  const int height = static_cast<int>(FreeImage_GetHeight(pixels));
  plat::HDC hdc = plat::GetDC(hwnd);
  plat::DrawPixels(hdc, pozadi.PosY, pozadi.PosX, width, height,
                   FreeImage_GetBits(pixels),
                   static_cast<int>(FreeImage_GetPitch(pixels)));
  plat::ReleaseDC(hwnd, hdc);
  FreeImage_Unload(pixels);
}
