#include "skin/skin_background.h"

#include <FreeImage.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "skin/freeimage_rows.h"

namespace {

// A file in the Skin folder is the user's, not ours: a picture beyond this
// many pixels is refused before it is decoded, on every repaint.
constexpr std::uint64_t kMaxPicturePixels = 64ull * 1024 * 1024;

struct Image {
  FIBITMAP *dib = nullptr;
  explicit Image(FIBITMAP *d) : dib(d) {}
  Image(const Image &) = delete;
  Image &operator=(const Image &) = delete;
  ~Image() {
    if (dib)
      FreeImage_Unload(dib);
  }
};

bool SizeAcceptable(const char *path) {
  const Image header(FreeImage_Load(FIF_JPEG, path, FIF_LOAD_NOPIXELS));
  if (!header.dib)
    return false;
  const std::uint64_t w = FreeImage_GetWidth(header.dib);
  const std::uint64_t h = FreeImage_GetHeight(header.dib);
  return w > 0 && h > 0 && w * h <= kMaxPicturePixels;
}

} // namespace

bool DrawBackgroundPicture(plat::HDC hdc, const char *path, int x, int y, int w,
                           int h) {
  if (w <= 0 || h <= 0)
    return true; // a video area without pixels: nothing to show
  if (FreeImage_GetFIFFromFilename(path) == FIF_UNKNOWN ||
      !SizeAcceptable(path))
    return false;
  const Image picture(FreeImage_Load(FIF_JPEG, path, JPEG_DEFAULT));
  if (!picture.dib || !FreeImage_HasPixels(picture.dib))
    return false;
  const Image scaled(FreeImage_Rescale(picture.dib, w, h, FILTER_BILINEAR));
  if (!scaled.dib)
    return false;
  const Image bgrx(FreeImage_ConvertTo32Bits(scaled.dib));
  if (!bgrx.dib || static_cast<int>(FreeImage_GetWidth(bgrx.dib)) != w ||
      static_cast<int>(FreeImage_GetHeight(bgrx.dib)) != h)
    return false;

  // 32-bit FreeImage pixels are B, G, R, A in memory, as drawn.
  const t_TopFirstRows rows = TopFirstRows(bgrx.dib);
  const std::size_t row = static_cast<std::size_t>(w) * 4;
  std::vector<std::uint8_t> pixels(row * h);
  for (int r = 0; r < h; ++r)
    std::memcpy(pixels.data() + row * r, rows.top + rows.stride * r, row);
  plat::DrawPixels(hdc, x, y, w, h, pixels.data(), static_cast<int>(row));
  return true;
}
