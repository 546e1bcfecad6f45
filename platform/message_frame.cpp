#include "platform/message_frame.h"

#include <cstring>

namespace plat {

namespace {

constexpr unsigned char kMagic[4] = {'V', 'B', 'M', 'F'};
constexpr unsigned char kVersion = 1;
constexpr unsigned char kFlagCopyData = 0x01;

template <typename T> void Put(unsigned char *at, T value) {
  std::memcpy(at, &value, sizeof value);
}
template <typename T> T Get(const unsigned char *at) {
  T value;
  std::memcpy(&value, at, sizeof value);
  return value;
}

} // namespace

std::vector<unsigned char> EncodeFrame(const MessageFrame &frame) {
  if (frame.block.size() > kMaxFrameBlock)
    return {};
  std::vector<unsigned char> bytes(kFrameHeaderSize + frame.block.size());
  unsigned char *h = bytes.data();
  std::memcpy(h, kMagic, 4);
  h[4] = kVersion;
  h[5] = static_cast<unsigned char>(frame.kind);
  h[6] = frame.copyData ? kFlagCopyData : 0;
  h[7] = 0;
  Put(h + 8, frame.message);
  Put(h + 12, frame.wParam);
  Put(h + 20, frame.lParam);
  Put(h + 28, frame.dwData);
  Put(h + 36, static_cast<std::uint32_t>(frame.block.size()));
  if (!frame.block.empty())
    std::memcpy(h + kFrameHeaderSize, frame.block.data(), frame.block.size());
  return bytes;
}

FrameResult DecodeFrame(const unsigned char *data, std::size_t size,
                        MessageFrame *frame, std::size_t *used) {
  if (size == 0) {
    *used = kFrameHeaderSize;
    return FrameResult::NeedMore;
  }
  // What is there of the fixed part must already be right.
  const std::size_t seen = size < 4 ? size : 4;
  if (std::memcmp(data, kMagic, seen) != 0)
    return FrameResult::Malformed;
  if (size > 4 && data[4] != kVersion)
    return FrameResult::Malformed;
  if (size > 5 && (data[5] < 1 || data[5] > 3))
    return FrameResult::Malformed;
  if (size > 6 && (data[6] & ~kFlagCopyData) != 0)
    return FrameResult::Malformed;
  if (size > 7 && data[7] != 0)
    return FrameResult::Malformed;
  if (size < kFrameHeaderSize) {
    *used = kFrameHeaderSize;
    return FrameResult::NeedMore;
  }
  const auto kind = static_cast<FrameKind>(data[5]);
  const bool copyData = (data[6] & kFlagCopyData) != 0;
  const auto blockSize = Get<std::uint32_t>(data + 36);
  // Only a sent copy-data has a block; a reply or a post never does.
  if (blockSize > kMaxFrameBlock || (blockSize != 0 && !copyData) ||
      (copyData && kind != FrameKind::Send))
    return FrameResult::Malformed;
  const std::size_t total = kFrameHeaderSize + blockSize;
  if (size < total) {
    *used = total;
    return FrameResult::NeedMore;
  }
  frame->kind = kind;
  frame->copyData = copyData;
  frame->message = Get<std::uint32_t>(data + 8);
  frame->wParam = Get<std::uint64_t>(data + 12);
  frame->lParam = Get<std::int64_t>(data + 20);
  frame->dwData = Get<std::uint64_t>(data + 28);
  frame->block.assign(data + kFrameHeaderSize, data + total);
  *used = total;
  return FrameResult::Complete;
}

} // namespace plat
