// WAVE files from disk for the sound layer: read whole, at once, from
// whatever the user (or someone else) put under the name.
#include "platform/files.h"
#include "platform/sound.h"

namespace plat {

namespace {

// A sound larger than this is refused rather than read into memory.
constexpr std::size_t kMaxFileBytes = 64u << 20;

} // namespace

bool ReadWaveFile(const char *path, std::vector<std::uint8_t> *bytes,
                  std::string *why) {
  bytes->clear();
  auto read = ReadRegularFile(path, kMaxFileBytes, why);
  if (!read)
    return false;
  WavePcm pcm;
  const char *problem = nullptr;
  if (!ParseWave(read->data(), read->size(), &pcm, &problem)) {
    *why = problem;
    return false;
  }
  *bytes = std::move(*read);
  return true;
}

} // namespace plat
