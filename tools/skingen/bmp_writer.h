// Writes uncompressed Windows BMP files at an exact depth: 24 and 32 bits
// per pixel straight from an image, 8 bits with a grey palette from a table
// of indices. QImage's own writer picks the depth itself, which the built-in
// skin cannot accept.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <QImage>

// 24 or 32 bits per pixel; the fourth byte of a 32-bit pixel is 0xFF.
bool WriteBmp(const std::string &path, const QImage &image, int bitsPerPixel);

// 8 bits per pixel: `indices` holds width * height palette indices, top row
// first; `palette` holds 256 colours as 0x00RRGGBB.
bool WriteBmp8(const std::string &path, int width, int height,
               const std::vector<std::uint8_t> &indices,
               const std::vector<std::uint32_t> &palette);
