#include "skin/skin_background.h"

#include <FreeImage.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/files.h"
#include "skin/freeimage_rows.h"

namespace {

// A file in the Skin folder is the user's, not ours: a picture beyond this
// many pixels, or a file beyond this size, is refused before it is decoded.
constexpr std::uint64_t kMaxPicturePixels = 64ull * 1024 * 1024;
constexpr std::size_t kMaxPictureFile = 32u << 20;

// The picture's bytes as read; painters on any thread take a reference.
std::mutex g_pictureMutex; // guards g_picture
std::shared_ptr<const std::vector<std::uint8_t>> g_picture;

std::shared_ptr<const std::vector<std::uint8_t>> Picture() {
  std::lock_guard lock(g_pictureMutex);
  return g_picture;
}

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

// FreeImage reads from a memory stream that it only looks at.
struct Memory {
  FIMEMORY *stream;
  explicit Memory(const std::vector<std::uint8_t> &bytes)
      : stream(FreeImage_OpenMemory(const_cast<BYTE *>(bytes.data()),
                                    static_cast<DWORD>(bytes.size()))) {}
  Memory(const Memory &) = delete;
  Memory &operator=(const Memory &) = delete;
  ~Memory() {
    if (stream)
      FreeImage_CloseMemory(stream);
  }
};

FIBITMAP *Decode(const std::vector<std::uint8_t> &bytes, int flags) {
  Memory memory(bytes);
  if (!memory.stream ||
      FreeImage_GetFileTypeFromMemory(memory.stream, 0) != FIF_JPEG)
    return nullptr;
  FreeImage_SeekMemory(memory.stream, 0, SEEK_SET);
  return FreeImage_LoadFromMemory(FIF_JPEG, memory.stream, flags);
}

bool SizeAcceptable(const std::vector<std::uint8_t> &bytes) {
  const Image header(Decode(bytes, FIF_LOAD_NOPIXELS));
  if (!header.dib)
    return false;
  const std::uint64_t w = FreeImage_GetWidth(header.dib);
  const std::uint64_t h = FreeImage_GetHeight(header.dib);
  return w > 0 && h > 0 && w * h <= kMaxPicturePixels;
}

} // namespace

void LoadBackgroundPicture(const char *path) {
  auto bytes = plat::ReadRegularFile(path, kMaxPictureFile);
  std::shared_ptr<const std::vector<std::uint8_t>> picture;
  if (bytes)
    picture =
        std::make_shared<const std::vector<std::uint8_t>>(std::move(*bytes));
  std::lock_guard lock(g_pictureMutex);
  g_picture = std::move(picture);
}

bool HasBackgroundPicture() { return Picture() != nullptr; }

bool DrawBackgroundPicture(plat::HDC hdc, int x, int y, int w, int h) {
  if (w <= 0 || h <= 0)
    return true; // a video area without pixels: nothing to show
  const auto bytes = Picture();
  if (!bytes || !SizeAcceptable(*bytes))
    return false;
  const Image picture(Decode(*bytes, JPEG_DEFAULT));
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
