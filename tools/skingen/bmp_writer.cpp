#include "bmp_writer.h"

#include <fstream>

namespace {

void Put16(std::vector<std::uint8_t> &out, unsigned v) {
  out.push_back(v & 0xFF);
  out.push_back((v >> 8) & 0xFF);
}

void Put32(std::vector<std::uint8_t> &out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i)
    out.push_back((v >> (8 * i)) & 0xFF);
}

int RowBytes(int width, int bitsPerPixel) {
  return ((width * bitsPerPixel + 31) / 32) * 4;
}

// BITMAPFILEHEADER and BITMAPINFOHEADER (BI_RGB, bottom-up rows).
std::vector<std::uint8_t> Headers(int width, int height, int bitsPerPixel,
                                  int paletteEntries) {
  const std::uint32_t offBits = 14 + 40 + 4 * paletteEntries;
  const std::uint32_t imageSize = RowBytes(width, bitsPerPixel) * height;
  std::vector<std::uint8_t> out;
  out.push_back('B');
  out.push_back('M');
  Put32(out, offBits + imageSize);
  Put16(out, 0);
  Put16(out, 0);
  Put32(out, offBits);
  Put32(out, 40);
  Put32(out, static_cast<std::uint32_t>(width));
  Put32(out, static_cast<std::uint32_t>(height));
  Put16(out, 1);
  Put16(out, bitsPerPixel);
  Put32(out, 0); // BI_RGB
  Put32(out, imageSize);
  Put32(out, 2835); // 72 dpi
  Put32(out, 2835);
  Put32(out, paletteEntries);
  Put32(out, 0);
  return out;
}

bool Save(const std::string &path, const std::vector<std::uint8_t> &bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char *>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(file);
}

} // namespace

bool WriteBmp(const std::string &path, const QImage &image, int bitsPerPixel) {
  if (bitsPerPixel != 24 && bitsPerPixel != 32)
    return false;
  const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
  const int w = rgb.width();
  const int h = rgb.height();
  std::vector<std::uint8_t> out = Headers(w, h, bitsPerPixel, 0);
  const int pad = RowBytes(w, bitsPerPixel) - w * bitsPerPixel / 8;
  for (int y = h - 1; y >= 0; --y) {
    const auto *line = reinterpret_cast<const QRgb *>(rgb.constScanLine(y));
    for (int x = 0; x < w; ++x) {
      out.push_back(qBlue(line[x]));
      out.push_back(qGreen(line[x]));
      out.push_back(qRed(line[x]));
      if (bitsPerPixel == 32)
        out.push_back(0xFF);
    }
    out.insert(out.end(), pad, 0);
  }
  return Save(path, out);
}

bool WriteBmp8(const std::string &path, int width, int height,
               const std::vector<std::uint8_t> &indices,
               const std::vector<std::uint32_t> &palette) {
  if (palette.size() != 256 ||
      indices.size() != static_cast<std::size_t>(width) * height)
    return false;
  std::vector<std::uint8_t> out = Headers(width, height, 8, 256);
  for (std::uint32_t c : palette) {
    out.push_back(c & 0xFF);
    out.push_back((c >> 8) & 0xFF);
    out.push_back((c >> 16) & 0xFF);
    out.push_back(0);
  }
  const int pad = RowBytes(width, 8) - width;
  for (int y = height - 1; y >= 0; --y) {
    const std::uint8_t *row =
        indices.data() + static_cast<std::size_t>(y) * width;
    out.insert(out.end(), row, row + width);
    out.insert(out.end(), pad, 0);
  }
  return Save(path, out);
}
