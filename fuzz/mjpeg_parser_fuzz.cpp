// Fuzz target for the stream parser. The input is parsed twice: once in
// blocks of the largest size and once cut at lengths drawn from its first
// two bytes. Both must yield the same calls, titles and frames, and nothing
// may be written outside the parser's buffers (the sanitizers watch that).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "video/mjpeg_parser.h"

namespace {

struct Yields {
  std::string log;     // calls, titles and frame ends, in order
  std::string picture; // bytes of the picture being received
};

void OnCall(void *context, char flag) {
  auto *y = static_cast<Yields *>(context);
  y->log += 'C';
  y->log += flag;
}

void OnTitle(void *context, const char *title) {
  auto *y = static_cast<Yields *>(context);
  std::size_t length = strnlen(title, kTitleSize);
  if (length >= kTitleSize)
    std::abort(); // the title lost its NUL
  y->log += 'T';
  y->log.append(title, length);
  y->log += '\n';
}

void OnPicture(void *context, const unsigned char *bytes, std::size_t length) {
  auto *y = static_cast<Yields *>(context);
  if (length == 0 || length > kMaxBlock)
    std::abort(); // a piece comes from one block
  y->picture.append(reinterpret_cast<const char *>(bytes), length);
}

bool OnFrame(void *context) {
  auto *y = static_cast<Yields *>(context);
  y->log += 'F';
  y->log += std::to_string(y->picture.size());
  y->log += ':';
  y->log += y->picture;
  y->picture.clear();
  return true;
}

std::string Parse(const std::uint8_t *data, std::size_t size,
                  std::uint32_t cut_seed) {
  MjpegResetParser();
  Yields yields;
  t_MjpegSink sink{&yields, OnCall, OnTitle, OnPicture, OnFrame};
  t_MjpegRun run;
  MjpegStartRun(run);
  std::uint32_t random = cut_seed;
  std::size_t at = 0;
  while (at < size) {
    std::size_t block = kMaxBlock;
    if (cut_seed != 0) {
      random = random * 1103515245u + 12345u;
      // Mostly short blocks, so that cuts fall inside headers.
      block = (random >> 16) % ((random & 1) ? 8 : kMaxBlock) + 1;
    }
    block = std::min(block, size - at);
    MjpegParseBlock(run, sink, data + at, static_cast<int>(block));
    if (strnlen(mjpeg::delkas, sizeof mjpeg::delkas) >= sizeof mjpeg::delkas &&
        mjpeg::state != DELKA)
      std::abort(); // the length text lost its NUL
    at += block;
  }
  return yields.log + "|" + yields.picture;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data,
                                      std::size_t size) {
  if (size < 2)
    return 0;
  std::uint32_t seed = (data[0] | (data[1] << 8)) + 1u;
  data += 2;
  size -= 2;
  if (Parse(data, size, 0) != Parse(data, size, seed))
    std::abort(); // the result depends on how the stream was cut
  return 0;
}
