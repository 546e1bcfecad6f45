// Fuzz target for caller parsing and address comparison. The input is two
// texts separated by the first newline: the first is parsed as a caller's
// address, and both are compared as door-unit addresses and as streams.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "telephony/caller.h"

namespace {

void Check(bool condition) {
  if (!condition)
    std::abort();
}

// A field is terminated within its size and is a piece of the address.
void CheckField(const char (&field)[kCallerFieldSize], const char *from) {
  Check(strnlen(field, kCallerFieldSize) < kCallerFieldSize);
  Check(field[0] == '\0' || std::strstr(from, field) != nullptr);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data,
                                      std::size_t size) {
  const std::string all(reinterpret_cast<const char *>(data), size);
  const std::size_t newline = all.find('\n');
  // Heap copies of exact length, so a read past the text is caught.
  const std::string first = all.substr(0, newline);
  const std::string second =
      newline == std::string::npos ? std::string() : all.substr(newline + 1);
  char *a = strndup(first.data(), first.size());
  char *b = strndup(second.data(), second.size());

  char name[kCallerFieldSize];
  char ip[kCallerFieldSize];
  std::memset(name, 'X', sizeof name);
  std::memset(ip, 'X', sizeof ip);
  ParseCaller(a, name, ip);
  CheckField(name, a);
  CheckField(ip, a);

  const int ab = cmp_ip(a, b);
  Check(ab == 0 || ab == -1);
  Check(cmp_ip(b, a) == ab);
  Check(cmp_ip(a, a) == 0);
  Check(cmp_ip(ip, ip) == 0);
  Check(cmp_ip(ip, nullptr) == cmp_ip(ip, ""));

  // The same stream both ways; never the same when cmp_ip says otherwise.
  const bool same = SameDoorAddress(a, b);
  Check(SameDoorAddress(b, a) == same);
  Check(SameDoorAddress(a, a));
  Check(!same || ab == 0 || std::strcmp(a, b) == 0);

  // A copy's identity against the parsed caller: by address, what cmp_ip
  // says; by SIP identity, only its exact user part.
  Check(DoorIdMatches(false, b, name, ip) == (cmp_ip(b, ip) == 0));
  Check(DoorIdMatches(true, name, name, ip));
  Check(!DoorIdMatches(true, b, name, ip) || std::strcmp(b, name) == 0);

  std::free(a);
  std::free(b);
  return 0;
}
