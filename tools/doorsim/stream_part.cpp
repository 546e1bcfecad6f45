#include "stream_part.h"

namespace {

const char kPartHeader[] = "Content-Type: image/jpeg\r\nContent-Length: ";
// The gaps a reader counts without reading: CR LF and a label.
const char kCallGap[] = "\r\nX-Ring-State: ";
const char kTitleGap[] = "\r\nTitle: ";
const char kEndGap[] = "\r\n\r\n";

static_assert(sizeof kPartHeader - 1 == 42);
static_assert(sizeof kCallGap - 1 == 16);
static_assert(sizeof kTitleGap - 1 == 9);
static_assert(sizeof kEndGap - 1 == 4);

} // namespace

std::string ComposePart(const PartContent &content,
                        std::size_t *picture_offset) {
  std::string picture = content.picture ? *content.picture : std::string();
  if (content.bad_first_byte && !picture.empty())
    picture[0] = '\0';
  std::string part;
  part.reserve(picture.size() + 160 + content.title.size());
  part += "--";
  part += kBoundary;
  part += "\r\n";
  part += kPartHeader;
  if (!content.no_digits)
    part += std::to_string(picture.size());
  part += kCallGap;
  part += content.flag;
  part += kTitleGap;
  part += content.title;
  part += kEndGap;
  if (picture_offset != nullptr)
    *picture_offset = part.size();
  part += picture;
  part += "\r\n";
  return part;
}
