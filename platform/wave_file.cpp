// WAVE files from disk for the sound layer: read whole, at once, from
// whatever the user (or someone else) put under the name.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/sound.h"

namespace plat {

namespace {

// A sound larger than this is refused rather than read into memory.
constexpr off_t kMaxFileBytes = 64 << 20;

} // namespace

bool ReadWaveFile(const char *path, std::vector<std::uint8_t> *bytes,
                  std::string *why) {
  why->clear();
  bytes->clear();
  // Non-blocking: opening a FIFO for reading would wait for a writer, for
  // good; a folder or a device opens at once and is refused below.
  const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    if (errno != ENOENT)
      *why = std::string("cannot be opened (") + std::strerror(errno) + ")";
    return false;
  }
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
    *why = "is not a regular file";
  else if (st.st_size > kMaxFileBytes)
    *why = "is larger than 64 MiB";
  if (why->empty()) {
    bytes->resize(static_cast<std::size_t>(st.st_size));
    std::size_t got = 0;
    while (got < bytes->size()) {
      const ssize_t n = read(fd, bytes->data() + got, bytes->size() - got);
      if (n < 0 && errno == EINTR)
        continue;
      if (n <= 0)
        break;
      got += static_cast<std::size_t>(n);
    }
    bytes->resize(got); // a file that shrank meanwhile is what is there
  }
  close(fd);
  WavePcm pcm;
  const char *problem = nullptr;
  if (why->empty() && !ParseWave(bytes->data(), bytes->size(), &pcm, &problem))
    *why = problem;
  if (!why->empty())
    bytes->clear();
  return why->empty();
}

} // namespace plat
