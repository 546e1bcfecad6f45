// The WAVE reader: every length in the file is checked against the bytes
// that are really there.
#include <cstring>

#include "platform/sound.h"

namespace plat {

namespace {

unsigned Le16(const std::uint8_t *p) { return p[0] | (p[1] << 8); }
std::uint32_t Le32(const std::uint8_t *p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t(p[3]) << 24);
}

constexpr unsigned kFormatPcm = 1;
constexpr unsigned kFormatExtensible = 0xFFFE;

} // namespace

bool ParseWave(const std::uint8_t *bytes, std::size_t size, WavePcm *out) {
  return ParseWave(bytes, size, out, nullptr);
}

bool ParseWave(const std::uint8_t *bytes, std::size_t size, WavePcm *out,
               const char **why) {
  auto refuse = [why](const char *reason) {
    if (why != nullptr)
      *why = reason;
    return false;
  };
  if (bytes == nullptr || out == nullptr || size < 12 ||
      std::memcmp(bytes, "RIFF", 4) != 0 ||
      std::memcmp(bytes + 8, "WAVE", 4) != 0)
    return refuse("is no WAVE file");
  const std::uint8_t *fmt = nullptr;
  std::size_t fmtSize = 0;
  const std::uint8_t *data = nullptr;
  std::size_t dataSize = 0;
  // The RIFF size is not trusted: the chunks are walked up to the real end.
  std::size_t at = 12;
  while (size - at >= 8) {
    const std::uint8_t *chunk = bytes + at;
    const std::uint64_t declared = Le32(chunk + 4);
    const std::size_t present = size - at - 8;
    const std::size_t body =
        declared < present ? static_cast<std::size_t>(declared) : present;
    if (std::memcmp(chunk, "fmt ", 4) == 0 && fmt == nullptr) {
      fmt = chunk + 8;
      fmtSize = body;
    } else if (std::memcmp(chunk, "data", 4) == 0 && data == nullptr) {
      data = chunk + 8;
      dataSize = body;
    }
    // Chunks are padded to even sizes.
    const std::uint64_t next = at + 8 + declared + (declared & 1);
    if (next > size)
      break;
    at = static_cast<std::size_t>(next);
  }
  if (fmt == nullptr || fmtSize < 16)
    return refuse("has no format (cut short?)");
  if (data == nullptr)
    return refuse("has no sound data (cut short?)");
  unsigned tag = Le16(fmt);
  if (tag == kFormatExtensible) {
    // The sub-format GUID starts with the plain format tag.
    if (fmtSize < 40)
      return refuse("has no format (cut short?)");
    tag = Le16(fmt + 24);
  }
  const unsigned channels = Le16(fmt + 2);
  const std::uint32_t rate = Le32(fmt + 4);
  const unsigned blockAlign = Le16(fmt + 12);
  const unsigned bits = Le16(fmt + 14);
  if (tag != kFormatPcm)
    return refuse("is not plain PCM (compressed or floating point)");
  if (channels < 1 || channels > 8)
    return refuse("has no channels or more than 8");
  if (rate < 1000 || rate > 192000)
    return refuse("has a sample rate outside 1 to 192 kHz");
  if ((bits != 8 && bits != 16 && bits != 24 && bits != 32) ||
      blockAlign != channels * bits / 8)
    return refuse("has a sample size other than 8, 16, 24 or 32 bits");
  const std::size_t frames = dataSize / blockAlign;
  if (frames == 0)
    return refuse("has no sound data (cut short?)");
  out->channels = channels;
  out->sampleRate = rate;
  out->bitsPerSample = bits;
  out->data = data;
  out->size = frames * blockAlign;
  return true;
}

} // namespace plat
