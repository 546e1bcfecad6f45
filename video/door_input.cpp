#include "video/door_input.h"

#include <cstdint>

namespace {

bool Digit(char c) { return c >= '0' && c <= '9'; }
bool Letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool HexDigit(char c) {
  return Digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// A camera picture is a few megapixels at most.
constexpr unsigned kMaxPictureSide = 8192;
// A Huffman-coded picture spends at least one bit on every 8x8 block of each
// component it codes, and one of its components covers at least a quarter
// of the picture (sampling factors go up to 4): at most 64 * 4 * 8 pixels
// per byte, whatever the tables, progression or subsampling. A picture that
// declares more has no pixels behind most of its area, yet decodes in full.
constexpr std::uint64_t kMaxPixelsPerByte = 64 * 4 * 8;

} // namespace

void PlainTitle(char *title) {
  for (unsigned char *p = reinterpret_cast<unsigned char *>(title); *p; ++p)
    if (*p < 0x20 || (*p >= 0x7F && *p <= 0x9F))
      *p = '?';
}

bool DoorAddressValid(const char *address) {
  if (address == nullptr)
    return false;
  const char *p = address;
  if (*p == '[') {
    const char *start = ++p;
    bool colon = false;
    for (; *p != ']'; ++p) {
      if (!HexDigit(*p) && *p != ':' && *p != '.')
        return false; // the end of the text too
      colon = colon || *p == ':';
    }
    if (p == start || !colon)
      return false;
    ++p;
  } else {
    const char *start = p;
    for (; *p != '\0' && *p != ':'; ++p)
      if (!Letter(*p) && !Digit(*p) && *p != '-' && *p != '.')
        return false;
    if (p == start)
      return false;
  }
  if (*p == '\0')
    return true;
  if (*p != ':' || p[1] == '\0')
    return false;
  unsigned port = 0;
  for (++p; *p != '\0'; ++p) {
    if (!Digit(*p))
      return false;
    port = port * 10 + static_cast<unsigned>(*p - '0');
    if (port > 65535)
      return false;
  }
  return port >= 1;
}

bool JpegDeclaredFrame(const unsigned char *bytes, std::size_t size,
                       t_JpegFrame *frame) {
  if (bytes == nullptr || size < 4 || bytes[0] != 0xFF || bytes[1] != 0xD8)
    return false;
  std::size_t i = 2;
  while (i < size) {
    // Between segments only a marker may stand, after any fill bytes.
    if (bytes[i] != 0xFF)
      return false;
    while (i < size && bytes[i] == 0xFF)
      ++i;
    if (i >= size)
      return false;
    const unsigned marker = bytes[i++];
    if (marker == 0x01 || marker == 0xD8 || (marker >= 0xD0 && marker <= 0xD7))
      continue; // no length follows these
    if (marker == 0xD9 || marker == 0xDA || marker == 0x00)
      return false; // the end, or a scan, before any frame header
    if (size - i < 2)
      return false;
    const std::size_t length = (std::size_t{bytes[i]} << 8) | bytes[i + 1];
    if (length < 2 || length > size - i)
      return false;
    const bool sof = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 &&
                     marker != 0xC8 && marker != 0xCC;
    if (sof) {
      if (length < 8)
        return false;
      if (frame != nullptr) {
        frame->height = (unsigned{bytes[i + 3]} << 8) | bytes[i + 4];
        frame->width = (unsigned{bytes[i + 5]} << 8) | bytes[i + 6];
        frame->arithmetic = marker >= 0xC9;
      }
      return true;
    }
    i += length;
  }
  return false;
}

bool JpegPlausible(const unsigned char *bytes, std::size_t size,
                   t_JpegFrame *frame) {
  t_JpegFrame f;
  if (!JpegDeclaredFrame(bytes, size, &f))
    return false;
  if (frame != nullptr)
    *frame = f;
  // Arithmetic coding has no such floor of bits per block, and no camera
  // sends it.
  if (f.arithmetic || f.width == 0 || f.height == 0 ||
      f.width > kMaxPictureSide || f.height > kMaxPictureSide)
    return false;
  return std::uint64_t{f.width} * f.height <= size * kMaxPixelsPerByte;
}
