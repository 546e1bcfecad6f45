#include "visits/picture_buffer.h"

namespace visits {

void t_PictureBuffer::Add(std::int64_t at, t_PictureBytes picture) {
  if (!picture || picture->empty() || picture->size() > kMaxBytes)
    return;
  while (!pictures_.empty() && (pictures_.front().at < at - kKeepMs ||
                                bytes_ + picture->size() > kMaxBytes)) {
    bytes_ -= pictures_.front().bytes->size();
    pictures_.pop_front();
  }
  bytes_ += picture->size();
  pictures_.push_back({at, std::move(picture)});
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
