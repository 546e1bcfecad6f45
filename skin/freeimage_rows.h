// FreeImage keeps a picture's bottom row first; the window's surfaces take
// the top row first. The one place that turns the one into the other, for
// the frame and for the background picture.
#pragma once

#include <FreeImage.h>

#include <cstddef>
#include <cstdint>

// A picture's rows top first: row r starts at top + r * stride (the stride
// is negative for FreeImage's own layout).
struct t_TopFirstRows {
  const std::uint8_t *top = nullptr;
  std::ptrdiff_t stride = 0;
};

inline t_TopFirstRows TopFirstRows(FIBITMAP *dib) {
  const auto pitch = static_cast<std::ptrdiff_t>(FreeImage_GetPitch(dib));
  const auto height = static_cast<std::ptrdiff_t>(FreeImage_GetHeight(dib));
  return {FreeImage_GetBits(dib) + (height - 1) * pitch, -pitch};
}
