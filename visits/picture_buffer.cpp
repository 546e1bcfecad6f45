#include "visits/picture_buffer.h"

#include <iterator>

namespace visits {

void t_PictureBuffer::Add(std::int64_t at, t_PictureBytes picture) {
  if (!picture || picture->empty() || picture->size() > kMaxBytes)
    return;
  while (!pictures_.empty() && pictures_.front().at < at - kKeepMs)
    Drop(pictures_.begin());
  while (!pictures_.empty() && bytes_ + picture->size() > kMaxBytes)
    Drop(Thinnable(at));
  bytes_ += picture->size();
  pictures_.push_back({at, std::move(picture)});
}

// A ring keeps one picture a slot: before the time held shrinks, the
// oldest picture goes whose neighbours lie close enough that every slot
// still has one near its end (half a slot apart, then a whole slot).
std::deque<t_TimedPicture>::iterator
t_PictureBuffer::Thinnable(std::int64_t next) {
  for (const std::int64_t gap : {kSlotMs / 2, kSlotMs})
    for (auto p = pictures_.begin(); p != pictures_.end(); ++p) {
      if (p == pictures_.begin())
        continue;
      const std::int64_t after =
          std::next(p) == pictures_.end() ? next : std::next(p)->at;
      if (after - std::prev(p)->at <= gap)
        return p;
    }
  return pictures_.begin();
}

void t_PictureBuffer::Drop(std::deque<t_TimedPicture>::iterator p) {
  bytes_ -= p->bytes->size();
  pictures_.erase(p);
}

std::vector<t_TimedPicture> t_PictureBuffer::Before(std::int64_t ring) const {
  std::vector<std::int64_t> offsets;
  std::vector<const t_TimedPicture *> candidates;
  for (const t_TimedPicture &p : pictures_)
    if (p.at < ring) {
      offsets.push_back(p.at - ring);
      candidates.push_back(&p);
    }
  std::vector<t_TimedPicture> chosen;
  for (std::size_t i : ChooseSlots(offsets))
    chosen.push_back(*candidates[i]);
  return chosen;
}

} // namespace visits
