#include "video/door_why.h"

#include <cstdio>
#include <string>

#include "instance/display_state.h"

using namespace plat;

namespace {

// An address from the settings as it may be shown: control bytes as '?'.
std::string Shown(const char *address) {
  std::string shown = address;
  for (char &c : shown)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
      c = '?';
  return shown;
}

} // namespace

void SetWhy(const char *address, const char *why) {
  char text[decltype(ShowData.why)::size()];
  if (why[0] == '\0' || address == nullptr)
    std::snprintf(text, sizeof text, "%s", why);
  else
    std::snprintf(text, sizeof text, "%s: %s", Shown(address).c_str(), why);
  ShowData.why.Set(text);
}

void TellWhy(const char *address, HINTERNET request) {
  if (request == nullptr) {
    switch (InternetGetLastError()) {
    case ERROR_INTERNET_OPERATION_CANCELLED:
      return;
    case ERROR_INTERNET_CANNOT_CONNECT:
      return SetWhy(address, "connection refused");
    case ERROR_INTERNET_TIMEOUT:
    case ERROR_INTERNET_CONNECTION_RESET:
      return SetWhy(address, "no answer");
    case ERROR_INTERNET_NAME_NOT_RESOLVED:
      return SetWhy(address, "name not found");
    default:
      return SetWhy(address, "cannot connect");
    }
  }
  // An error page comes as a body like any other; it is no stream.
  const unsigned status = HttpQueryStatusCode(request);
  char why[48] = "";
  if (status == 404)
    std::snprintf(why, sizeof why, "HTTP 404 (not a door unit's stream?)");
  else if (status >= 300)
    std::snprintf(why, sizeof why, "HTTP %u", status);
  SetWhy(address, why);
}

std::string TipWhenNotConnected(const char *otherwise) {
  char why[decltype(ShowData.why)::size()];
  ShowData.why.CopyTo(why, sizeof why);
  return why[0] != '\0' ? why : otherwise;
}
