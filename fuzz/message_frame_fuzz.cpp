// Fuzz target for the inter-instance frame decoder: any bytes either make
// no frame or a frame that encodes back to exactly the bytes it came from.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/message_frame.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data,
                                      std::size_t size) {
  // A heap copy of exact length, so a read past the input is caught.
  std::vector<unsigned char> bytes(data, data + size);
  plat::MessageFrame frame;
  std::size_t used = 0;
  const plat::FrameResult r =
      plat::DecodeFrame(bytes.data(), bytes.size(), &frame, &used);
  if (r == plat::FrameResult::NeedMore &&
      (used <= size || used > plat::kFrameHeaderSize + plat::kMaxFrameBlock))
    std::abort();
  if (r == plat::FrameResult::Complete) {
    const auto again = plat::EncodeFrame(frame);
    if (used > size || again.size() != used ||
        std::memcmp(again.data(), bytes.data(), used) != 0)
      std::abort();
  }
  return 0;
}
