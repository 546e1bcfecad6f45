#include "sip/sip_guard.h"

#include <algorithm>
#include <array>
#include <string_view>

// What the SIP library (belle-sip 5.1) does with a UDP datagram decides
// what must be judged here, not what SIP says a datagram is:
// - it keeps what it could not finish from one sender and puts the next
//   datagram of that sender after it: a head without its end, a body
//   shorter than its Content-Length, text without a line end. Judged one at
//   a time, the pieces of a long header would each look harmless;
// - it looks for a message start ("SIP/2.0" or "HTTP/1." in a start line)
//   anywhere in what it holds, skipping what comes before, and takes the
//   head to the first empty line; then the body by its Content-Length, and
//   what is left over as more text from the same sender;
// - text in which it finds no message start but a line end, it drops.
// So a datagram passes when the library ends it holding nothing: either no
// message start and a line end, or exactly one whole message whose head is
// judged line by line and whose body the library either takes by its
// length or, if it could not read the head, drops.

namespace {

using std::string_view;

char Lower(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

bool SameNoCase(string_view a, string_view b) {
  if (a.size() != b.size())
    return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i]))
      return false;
  return true;
}

bool ContainsNoCase(string_view text, string_view part) {
  for (std::size_t i = 0; i + part.size() <= text.size(); ++i)
    if (SameNoCase(text.substr(i, part.size()), part))
      return true;
  return false;
}

// What the library may take for the start of a message, in any case (more
// than it takes, so nothing it takes is missed).
bool MayHoldMessageStart(string_view text) {
  return ContainsNoCase(text, "SIP/2.0") || ContainsNoCase(text, "HTTP/1.");
}

bool IsTokenChar(char c) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
      (c >= '0' && c <= '9'))
    return true;
  return string_view("-.!%*_+`'~").find(c) != string_view::npos;
}

bool IsSpace(char c) { return c == ' ' || c == '\t'; }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// "SIP/2.0 200 OK" or "INVITE sip:door@host SIP/2.0".
bool IsStartLine(string_view line) {
  constexpr string_view kVersion = "SIP/2.0";
  if (line.substr(0, kVersion.size() + 1) == "SIP/2.0 ") {
    const string_view code = line.substr(kVersion.size() + 1);
    return code.size() >= 3 && IsDigit(code[0]) && IsDigit(code[1]) &&
           IsDigit(code[2]) && (code.size() == 3 || code[3] == ' ');
  }
  std::size_t method = 0;
  while (method < line.size() && IsTokenChar(line[method]))
    ++method;
  if (method == 0 || method == line.size() || line[method] != ' ')
    return false;
  const string_view rest = line.substr(method + 1);
  if (rest.size() <= kVersion.size() + 1 ||
      rest.substr(rest.size() - kVersion.size() - 1) != " SIP/2.0")
    return false;
  const string_view uri = rest.substr(0, rest.size() - kVersion.size() - 1);
  for (char c : uri)
    if (IsSpace(c))
      return false;
  return true;
}

// The headers whose values the library or the SIP stack turn into
// addresses, full and compact names.
bool CarriesAddresses(string_view name) {
  static constexpr std::array<string_view, 22> kNames = {
      "from",
      "f",
      "to",
      "t",
      "contact",
      "m",
      "route",
      "record-route",
      "service-route",
      "path",
      "referred-by",
      "b",
      "refer-to",
      "r",
      "diversion",
      "d",
      "reply-to",
      "history-info",
      "remote-party-id",
      "p-asserted-identity",
      "p-preferred-identity",
      "p-called-party-id",
  };
  for (string_view known : kNames)
    if (SameNoCase(name, known))
      return true;
  return false;
}

// The longest address in a header value that may list several. An entry
// ends at a comma outside quotes and angle brackets, and only once it had
// its address in brackets: a bare address may hold commas itself, so a
// comma after one does not end it here.
std::size_t LongestAddress(string_view value) {
  std::size_t longest = 0, start = 0;
  bool quoted = false, escaped = false, bracketed = false;
  int depth = 0;
  for (std::size_t i = 0; i < value.size(); ++i) {
    const char c = value[i];
    if (quoted) {
      if (escaped)
        escaped = false;
      else if (c == '\\')
        escaped = true;
      else if (c == '"')
        quoted = false;
    } else if (depth > 0) {
      if (c == '<')
        ++depth;
      else if (c == '>' && --depth == 0)
        bracketed = true;
    } else if (c == '"') {
      quoted = true;
    } else if (c == '<') {
      ++depth;
    } else if (c == ',' && bracketed) {
      longest = std::max(longest, i - start);
      start = i + 1;
      bracketed = false;
    }
  }
  return std::max(longest, value.size() - start);
}

// The number in a Content-Length value, or -1 when it is not a plain one.
long ContentLength(string_view value) {
  while (!value.empty() && IsSpace(value.front()))
    value.remove_prefix(1);
  while (!value.empty() && IsSpace(value.back()))
    value.remove_suffix(1);
  if (value.empty() || value.size() > 9)
    return -1;
  long number = 0;
  for (char c : value) {
    if (!IsDigit(c))
      return -1;
    number = number * 10 + (c - '0');
  }
  return number;
}

} // namespace

SipDatagramVerdict JudgeSipDatagram(const char *datagram, std::size_t size) {
  constexpr SipDatagramVerdict kPassed{SipDatagramFate::kPass, nullptr};
  const auto refuse = [](const char *why) {
    return SipDatagramVerdict{SipDatagramFate::kRefuse, why};
  };
  const string_view all(datagram, size);
  if (!MayHoldMessageStart(all)) {
    // Keep-alives and stray text: dropped whole by the library, unless it
    // has no line end, when the library would keep it for the next
    // datagram (where "SIP/" and "2.0" might meet).
    if (size == 0 || all.find("\r\n") != string_view::npos)
      return kPassed;
    return {SipDatagramFate::kDrop, "text without a line end"};
  }

  std::size_t at = 0;
  while (all.substr(at, 2) == "\r\n")
    at += 2;
  const std::size_t blank = all.find("\r\n\r\n", at);
  if (blank == string_view::npos)
    return refuse("a message without the end of its head");
  // The head's lines, each with its line end; the body after the blank line.
  const string_view head = all.substr(at, blank + 2 - at);
  const string_view body = all.substr(blank + 4);
  // The library looks for the head's end as in a C string.
  if (head.find('\0') != string_view::npos)
    return refuse("a zero byte in the head");

  std::size_t eol = head.find("\r\n");
  const string_view start = head.substr(0, eol);
  if (!IsStartLine(start))
    return refuse("no SIP start line");
  if (start.size() > kSipAddressLimit)
    return refuse("a start line too long");

  int lengths = 0;
  long length = -1;
  std::size_t line = eol + 2;
  while (line < head.size()) {
    if (IsSpace(head[line]))
      return refuse("a folded line without a header");
    // One header: its line and the folded lines after it.
    std::size_t end = head.find("\r\n", line);
    while (end + 2 < head.size() && IsSpace(head[end + 2]))
      end = head.find("\r\n", end + 2);
    const string_view header = head.substr(line, end - line);
    line = end + 2;
    if (header.size() > kSipHeaderLimit)
      return refuse("a header too long");
    std::size_t colon = 0;
    while (colon < header.size() && IsTokenChar(header[colon]))
      ++colon;
    const string_view name = header.substr(0, colon);
    while (colon < header.size() && IsSpace(header[colon]))
      ++colon;
    if (name.empty() || colon == header.size() || header[colon] != ':')
      return refuse("a line that is no header");
    const string_view value = header.substr(colon + 1);
    if (CarriesAddresses(name) && LongestAddress(value) > kSipAddressLimit)
      return refuse("an address too long");
    if (SameNoCase(name, "content-length") || SameNoCase(name, "l")) {
      ++lengths;
      length = ContentLength(value);
    }
  }

  if (lengths > 1 || (lengths == 1 && length < 0))
    return refuse("an unclear Content-Length");
  if (lengths == 1 && static_cast<std::size_t>(length) != body.size())
    return refuse("a body unlike its Content-Length");
  // Should the library fail to read the head, the body is left to it as
  // text: it must be text it drops.
  if (!body.empty() &&
      (body.find("\r\n") == string_view::npos || MayHoldMessageStart(body)))
    return refuse("a body that could pass for another message");
  return kPassed;
}
