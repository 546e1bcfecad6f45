// One received frame onto the screen: decode the frame file, stretch it to
// the video area, draw it at the area's corner.
#include <FreeImage.h>

#include <cstdio>
#include <vector>

#include "platform/files.h"
#include "platform/gdi.h"
#include "platform/trace.h"
#include "skin/freeimage_rows.h"
#include "skin/skin.h"
#include "video/bspline_scale.h"
#include "video/door_input.h"
#include "video/jpeg_decode.h"
#include "video/video.h"

namespace {

// The frame file's bytes, read once for the check of the picture's declared
// size before FreeImage sees them. Per thread, like the rest.
thread_local std::vector<unsigned char> t_bytes;

// Weight tables and pixel rows of the last frame's sizes, reused while the
// picture and the video area keep their sizes. Per thread: each run of the
// reader has its own.
thread_local t_BsplineScale t_scale;
thread_local t_DecodedFrame t_frame;
thread_local std::vector<std::uint8_t> t_pixels;
// The frame file is read through a buffer that holds a whole camera picture:
// one read, and the second pass after the header costs no read at all.
constexpr std::size_t kFileBuffer = 256u << 10;
thread_local std::vector<char> t_fileBuffer;

// FreeImage's JPEG loader decodes at half size when asked for a picture of
// half the larger side (the size goes in the upper half of the flags). The
// stretch that follows shrinks by two or more anyway, and its B-spline
// passes almost nothing the half-size decode leaves out.
int DecodeFlags(unsigned fullW, unsigned fullH, int W, int H) {
  if (fullW < 2u * static_cast<unsigned>(W) ||
      fullH < 2u * static_cast<unsigned>(H))
    return 0;
  const unsigned larger = fullW > fullH ? fullW : fullH;
  return static_cast<int>((larger / 2) << 16);
}

} // namespace

unsigned myReadProc(void *buffer, unsigned size, unsigned count, void *handle) {
  return static_cast<unsigned>(
      std::fread(buffer, size, count, static_cast<FILE *>(handle)));
}

int mySeekProc(void *handle, long offset, int origin) {
  return std::fseek(static_cast<FILE *>(handle), offset, origin);
}

long myTellProc(void *handle) {
  return std::ftell(static_cast<FILE *>(handle));
}

void ShowJPEG(plat::HWND hwnd, const char *NameJPEG, int ClW, int ClH,
              const t_Skin *Skin) {
  const plat::RECT area = SkinVideoArea(Skin, ClH, ClW);
  const int W = area.right - area.left;
  const int H = area.bottom - area.top;
  if (W <= 0 || H <= 0)
    return;
  // Not through a link planted in a shared folder, nor stuck on a FIFO.
  FILE *file = plat::OpenPrivateFile(NameJPEG);
  if (file == nullptr)
    return;
  t_fileBuffer.resize(kFileBuffer);
  std::setvbuf(file, t_fileBuffer.data(), _IOFBF, t_fileBuffer.size());

  // A picture that declares more pixels than its bytes can code (or more
  // than any camera's) is not decoded: the decoder would fill the whole
  // declared area, at the cost of a huge picture, from a few bytes.
  long size = -1;
  if (std::fseek(file, 0, SEEK_END) == 0)
    size = std::ftell(file);
  t_bytes.resize(size > 0 ? static_cast<std::size_t>(size) : 0);
  t_JpegFrame declared;
  const bool sane =
      size > 0 && std::fseek(file, 0, SEEK_SET) == 0 &&
      std::fread(t_bytes.data(), 1, t_bytes.size(), file) == t_bytes.size() &&
      JpegPlausible(t_bytes.data(), t_bytes.size(), &declared);
  const unsigned fullW = declared.width, fullH = declared.height;

  // Colour pictures are decoded here, into rows kept from frame to frame;
  // the rest, and whatever libjpeg stops on, as FreeImage makes them.
  const int flags = DecodeFlags(fullW, fullH, W, H);
  const bool direct = sane && DecodeJpegBgr(t_bytes.data(), t_bytes.size(),
                                            flags != 0, t_frame);
  FIBITMAP *image = nullptr;
  if (sane && !direct && std::fseek(file, 0, SEEK_SET) == 0) {
    FreeImageIO io;
    io.read_proc = myReadProc;
    io.write_proc = nullptr;
    io.seek_proc = mySeekProc;
    io.tell_proc = myTellProc;
    image = FreeImage_LoadFromHandle(FIF_JPEG, &io, file, flags);
  }
  std::fclose(file);
  if (image != nullptr && FreeImage_GetBPP(image) != 24) {
    // Grey or otherwise unusual pictures: the rare road through a copy.
    FIBITMAP *colour = FreeImage_ConvertTo24Bits(image);
    FreeImage_Unload(image);
    image = colour;
  }
  if (!direct && image == nullptr)
    return;

  const int srcW =
      direct ? t_frame.width : static_cast<int>(FreeImage_GetWidth(image));
  const int srcH =
      direct ? t_frame.height : static_cast<int>(FreeImage_GetHeight(image));
  // A half-size decode keeps the weights of the full picture; anything else
  // is stretched as decoded.
  const bool half = static_cast<unsigned>(srcW) == (fullW + 1) / 2 &&
                    static_cast<unsigned>(srcH) == (fullH + 1) / 2 &&
                    (static_cast<unsigned>(srcW) != fullW ||
                     static_cast<unsigned>(srcH) != fullH);
  const t_TopFirstRows rows =
      direct ? t_TopFirstRows{t_frame.pixels.data(),
                              static_cast<std::ptrdiff_t>(t_frame.stride)}
             : TopFirstRows(image);
  // Stretched straight onto the window where its pixels can be written in
  // place; through a buffer of our own where not.
  plat::HDC hdc = plat::GetDC(hwnd);
  int stride = 0;
  std::uint8_t *into =
      plat::DevicePixels(hdc, area.left, area.top, W, H, &stride);
  if (into == nullptr) {
    t_pixels.resize(static_cast<std::size_t>(W) * H * 4);
    into = t_pixels.data();
    stride = W * 4;
  }
  const bool scaled =
      BsplineScale(t_scale, rows.top, srcW, srcH, static_cast<int>(rows.stride),
                   half ? static_cast<int>(fullW) : srcW,
                   half ? static_cast<int>(fullH) : srcH, into, W, H, stride);
  if (scaled && into == t_pixels.data())
    plat::DrawPixels(hdc, area.left, area.top, W, H, into, stride);
  if (scaled)
    plat::Trace(plat::TRACE_DRAWN);
  plat::ReleaseDC(hwnd, hdc);
  // Freed after the window is let go, which other painters wait for.
  if (image != nullptr)
    FreeImage_Unload(image);
}
