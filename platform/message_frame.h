// The frame that carries one message between instances over a local socket.
// A pure codec: no sockets, no Qt, so the fuzz target and the tests drive it
// alone.
//
// A frame is a fixed 40-byte header and, for copy-data, its byte block:
//   "VBMF" | version 1 | kind | flags | 0 | message u32 | wParam u64 |
//   lParam i64 | dwData u64 | cbData u32 | block[cbData]
// in the machine's byte order (both ends are processes of one machine).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace plat {

enum class FrameKind : std::uint8_t {
  Send = 1,  // the sender waits for a Reply on the same connection
  Post = 2,  // nobody waits
  Reply = 3, // lParam holds the handler's result
};

struct MessageFrame {
  FrameKind kind = FrameKind::Send;
  bool copyData = false; // the block and dwData are a WM_COPYDATA payload
  std::uint32_t message = 0;
  std::uint64_t wParam = 0;
  std::int64_t lParam = 0;
  std::uint64_t dwData = 0;
  std::vector<unsigned char> block;
};

constexpr std::size_t kFrameHeaderSize = 40;
// Longer blocks are refused by both ends.
constexpr std::uint32_t kMaxFrameBlock = 4096;

// The bytes of `frame`; empty when its block is too long.
std::vector<unsigned char> EncodeFrame(const MessageFrame &frame);

enum class FrameResult {
  Complete,  // `frame` is filled; `used` bytes made it
  NeedMore,  // a valid beginning; `used` is the total length needed, once
             // the header is in, else kFrameHeaderSize
  Malformed, // never a frame, whatever follows
};

// Decodes the frame at the start of `data`. Never reads past `size`.
FrameResult DecodeFrame(const unsigned char *data, std::size_t size,
                        MessageFrame *frame, std::size_t *used);

} // namespace plat
