// Whether one UDP datagram may reach the SIP library. Plain bytes in, no
// library.
#pragma once

#include <cstddef>

// Longest start line, and longest address (one entry of From, To, Contact
// and the other headers that carry addresses), let through. The library
// writes an address out again into 1024 bytes and then reads that text
// back; cut short, it no longer reads, and the library dereferences the
// null address it got (liblinphone 5.1). Half of that leaves room for what
// the library adds as it writes (quotes, brackets, a tag, a port, escapes),
// and is still far above what door units and registrars send.
constexpr std::size_t kSipAddressLimit = 500;
// Longest header of any kind, folded lines included.
constexpr std::size_t kSipHeaderLimit = 4096;

enum class SipDatagramFate {
  kPass,   // the library may read it as it is
  kDrop,   // no SIP message, but text the library would keep: dropped quietly
  kRefuse, // a SIP message the library must not read: dropped and said
};

struct SipDatagramVerdict {
  SipDatagramFate fate;
  const char *why; // for kDrop and kRefuse, a few words for the log
};

// What to do with one UDP datagram of `size` bytes, any content, before the
// library reads it. Never reads past it.
SipDatagramVerdict JudgeSipDatagram(const char *datagram, std::size_t size);
