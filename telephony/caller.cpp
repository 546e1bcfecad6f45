#include "telephony/caller.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

// How far the scheme's ':' and the user part's '@' are looked for.
constexpr std::size_t kScanLimit = 64;

// Copies at most size-1 characters of [text, text+length) and terminates.
template <std::size_t N>
void CopyField(char (&field)[N], const char *text, std::size_t length) {
  if (length > N - 1)
    length = N - 1;
  std::memcpy(field, text, length);
  field[length] = '\0';
}

} // namespace

// A `from` without ':' among its first 64 characters is no SIP address the
// door unit would send: both fields stay empty, so no door unit matches it.
void ParseCaller(const char *from, char (&name)[kCallerFieldSize],
                 char (&ip)[kCallerFieldSize]) {
  name[0] = '\0';
  ip[0] = '\0';
  if (!from)
    return;
  const std::size_t length = std::strlen(from);
  const void *colon = std::memchr(from, ':', std::min(length, kScanLimit));
  if (!colon)
    return;
  const std::size_t c = static_cast<const char *>(colon) - from;
  const char *after = from + c + 1;
  const std::size_t rest = length - c - 1;
  const void *at = std::memchr(after, '@', std::min(rest, kScanLimit));
  const char *host = after;
  if (at) {
    const auto *a = static_cast<const char *>(at);
    CopyField(name, after, static_cast<std::size_t>(a - after));
    host = a + 1;
  }
  CopyField(ip, host, std::strcspn(host, ">:;"));
}

// The port that may follow is the door unit's web server's, never its SIP
// port.
void DoorHost(const char *address, char (&host)[kCallerFieldSize]) {
  host[0] = '\0';
  if (!address)
    return;
  const std::size_t length =
      address[0] == '['
          ? std::strcspn(address, "]") + (std::strchr(address, ']') ? 1 : 0)
          : std::strcspn(address, ":");
  CopyField(host, address, length);
}

// Each of the four fields counts by its first three characters (the rest
// of a longer field is skipped up to the next '.'), as the door-unit
// addresses of the settings hold at most three digits a field; a missing
// field is empty and so 0. So "127.0.0.1:8080" equals "127.0.0.1", and
// "10.0.0" equals "10.0.0.0". Never reads past either text.
int cmp_ip(const char *ip1, const char *ip2) {
  const char *p[2] = {ip1 ? ip1 : "", ip2 ? ip2 : ""};
  for (int field = 0; field < 4; ++field) {
    int value[2];
    for (int i = 0; i < 2; ++i) {
      char buffer[4] = {};
      const std::size_t span = std::strcspn(p[i], ".");
      std::memcpy(buffer, p[i], std::min<std::size_t>(span, 3));
      value[i] = std::atoi(buffer);
      p[i] += span;
      if (*p[i] == '.')
        ++p[i];
    }
    if (value[0] != value[1])
      return -1;
  }
  return 0;
}

namespace {

// Four fields of one to three digits, nothing else.
bool IsBareIPv4(const char *text) {
  int fields = 0;
  const char *p = text;
  for (;;) {
    int digits = 0;
    while (*p >= '0' && *p <= '9' && digits <= 3) {
      ++p;
      ++digits;
    }
    if (digits == 0 || digits > 3)
      return false;
    ++fields;
    if (*p == '\0')
      return fields == 4;
    if (*p != '.' || fields == 4)
      return false;
    ++p;
  }
}

} // namespace

bool SameDoorAddress(const char *a, const char *b) {
  a = a ? a : "";
  b = b ? b : "";
  if (std::strcmp(a, b) == 0)
    return true;
  return IsBareIPv4(a) && IsBareIPv4(b) && cmp_ip(a, b) == 0;
}

bool DoorIdMatches(bool useSip, const char *identity, const char *name,
                   const char *ip) {
  identity = identity ? identity : "";
  if (useSip)
    return std::strcmp(identity, name ? name : "") == 0;
  return cmp_ip(identity, ip) == 0;
}
