// What the door unit sends and what the user types, checked before it is
// used: the title, the door unit's address and a picture's declared size.
// Pure functions; no platform, no threads.
#pragma once

#include <cstddef>

// Replaces, in place, every control character of an 8-bit title (taken as
// Latin-1: C0, DEL and C1, 0x80 to 0x9F) with '?', so nothing the door unit
// sends can move, hide or restyle the text it is shown in.
void PlainTitle(char *title);

// True when `address` is host[:port] and nothing else: a host name (letters,
// digits, '-', '.'), an IPv4 literal or a bracketed IPv6 literal (hex digits,
// ':', '.'), optionally followed by ':' and a decimal port from 1 to 65535.
// Anything more would be pasted into the request's URL as a path, a query,
// credentials or a fragment.
bool DoorAddressValid(const char *address);

// What a JPEG's first frame header (SOF) declares.
struct t_JpegFrame {
  unsigned width = 0;
  unsigned height = 0;
  bool arithmetic = false; // arithmetic-coded rather than Huffman-coded
};
// Walks the JPEG's marker segments from its start and fills `frame` from the
// first frame header. False when the bytes are not a JPEG, a segment runs
// past `size`, or the scan begins before any frame header. Never reads past
// `size` bytes.
bool JpegDeclaredFrame(const unsigned char *bytes, std::size_t size,
                       t_JpegFrame *frame);
// Whether `size` bytes can hold the picture that the JPEG declares: false for
// a picture without a frame header, without pixels, larger than any camera's
// or larger than its bytes can code.
bool JpegPlausible(const unsigned char *bytes, std::size_t size,
                   t_JpegFrame *frame = nullptr);
