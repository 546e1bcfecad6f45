// Colour bars that scroll, a square that bounces and the frame number in
// large digits: enough to see at a glance that frames flow, in order, and
// how the picture is scaled.
#include "test_picture.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <jpeglib.h>

namespace {

// 5x7 digits, one row per byte, bit 4 the leftmost column.
const unsigned char kDigits[10][7] = {
    {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}, // 0
    {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}, // 1
    {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}, // 2
    {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}, // 3
    {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}, // 4
    {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}, // 5
    {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}, // 6
    {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}, // 7
    {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}, // 8
    {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}, // 9
};

const unsigned char kBars[8][3] = {
    {235, 235, 235}, {235, 235, 16}, {16, 235, 235}, {16, 235, 16},
    {235, 16, 235},  {235, 16, 16},  {16, 16, 235},  {40, 40, 40},
};

struct Canvas {
  int width, height;
  std::vector<unsigned char> rgb;

  void Fill(int x0, int y0, int w, int h, const unsigned char *colour) {
    int x1 = std::min(width, x0 + w), y1 = std::min(height, y0 + h);
    for (int y = std::max(0, y0); y < y1; ++y)
      for (int x = std::max(0, x0); x < x1; ++x)
        std::copy(colour, colour + 3, &rgb[(y * width + x) * 3]);
  }
};

// Position of a point that bounces between 0 and `range`.
int Bounce(unsigned long step, int range) {
  if (range <= 0)
    return 0;
  long period = 2L * range;
  long at = static_cast<long>(step % static_cast<unsigned long>(period));
  return static_cast<int>(at <= range ? at : period - at);
}

std::string Encode(const Canvas &canvas, int quality) {
  jpeg_compress_struct cinfo;
  jpeg_error_mgr error;
  cinfo.err = jpeg_std_error(&error);
  jpeg_create_compress(&cinfo);
  unsigned char *out = nullptr;
  unsigned long out_size = 0;
  jpeg_mem_dest(&cinfo, &out, &out_size);
  cinfo.image_width = canvas.width;
  cinfo.image_height = canvas.height;
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, quality, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(
        &canvas.rgb[cinfo.next_scanline * canvas.width * 3]);
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  std::string jpeg(reinterpret_cast<char *>(out), out_size);
  jpeg_destroy_compress(&cinfo);
  std::free(out);
  return jpeg;
}

} // namespace

std::string MakeSolidPicture(int colour, TestPictureSize size, int quality) {
  Canvas canvas{size.width, size.height,
                std::vector<unsigned char>(size.width * size.height * 3)};
  const unsigned char rgb[3] = {static_cast<unsigned char>(colour >> 16),
                                static_cast<unsigned char>(colour >> 8),
                                static_cast<unsigned char>(colour)};
  canvas.Fill(0, 0, size.width, size.height, rgb);
  return Encode(canvas, quality);
}

std::string MakeTestPicture(unsigned long number, TestPictureSize size,
                            int quality) {
  Canvas canvas{size.width, size.height,
                std::vector<unsigned char>(size.width * size.height * 3)};

  int bar = std::max(1, size.width / 8);
  int shift = static_cast<int>((number * 4) % (bar * 8));
  for (int x = 0; x < size.width; ++x)
    canvas.Fill(x, 0, 1, size.height, kBars[((x + shift) / bar) % 8]);

  const unsigned char white[3] = {255, 255, 255}, black[3] = {0, 0, 0};
  int square = std::max(4, size.height / 5);
  canvas.Fill(Bounce(number * 5, size.width - square),
              Bounce(number * 3, size.height - square), square, square, white);

  char text[24];
  int digits = std::snprintf(text, sizeof text, "%lu", number);
  int scale = std::max(1, size.height / 40);
  int cell = 6 * scale;
  canvas.Fill(0, 0, digits * cell + 2 * scale, 9 * scale, black);
  for (int i = 0; i < digits; ++i)
    for (int row = 0; row < 7; ++row)
      for (int col = 0; col < 5; ++col)
        if (kDigits[text[i] - '0'][row] & (0x10 >> col))
          canvas.Fill(scale + i * cell + col * scale, scale + row * scale,
                      scale, scale, white);

  return Encode(canvas, quality);
}
