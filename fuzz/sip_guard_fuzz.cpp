// Fuzz target for the judgement of incoming SIP datagrams: any bytes, as a
// heap copy of exact length, so that a read past the datagram is caught.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

#include "sip/sip_guard.h"

namespace {

void Check(bool condition) {
  if (!condition)
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data,
                                      std::size_t size) {
  const auto copy = std::make_unique<char[]>(size);
  std::memcpy(copy.get(), data, size);
  const SipDatagramVerdict verdict = JudgeSipDatagram(copy.get(), size);
  // Every datagram not passed says why; only text without a line end is
  // dropped without a word.
  Check((verdict.fate == SipDatagramFate::kPass) == (verdict.why == nullptr));
  if (verdict.fate == SipDatagramFate::kDrop)
    Check(std::string_view(copy.get(), size).find("\r\n") ==
          std::string_view::npos);
  return 0;
}
