// One part of the door unit's /video.mjpg body, byte for byte:
//
//   --vestibell CR LF                               boundary line (lead-in)
//   Content-Type: image/jpeg CR LF
//   Content-Length: <digits>
//   CR LF X-Ring-State: <flag>                      16-byte call gap, flag
//   CR LF Title: <title>                            9-byte title gap, title
//   CR LF CR LF                                     4-byte end gap
//   <picture> CR LF                                 picture, tail
#pragma once

#include <cstddef>
#include <string>

inline constexpr char kBoundary[] = "vestibell";
inline constexpr char kStreamContentType[] =
    "multipart/x-mixed-replace; boundary=vestibell";

struct PartContent {
  char flag = '0';
  std::string title;
  const std::string *picture = nullptr;
  bool no_digits = false;      // the length line carries no digits
  bool bad_first_byte = false; // the picture's first byte is not 0xFF
};

// The bytes of the part; *picture_offset gets where the picture begins.
std::string ComposePart(const PartContent &content,
                        std::size_t *picture_offset);
