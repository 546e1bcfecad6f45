// The last pictures of the door unit's stream, as received (compressed),
// so that a visit can keep the seconds before its ring. Bounded by age (a
// little over 3 s behind the newest picture) and by bytes (6 MiB, so that
// with the allocator's share it stays within 10 MB): at a high rate of
// large pictures it first keeps fewer of them (still one close to the end
// of each slot), and only then holds less time. Not locked: its owner does
// that.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "visits/visit_rules.h"

namespace visits {

// A whole picture, the JPEG bytes exactly as received; shared, never
// copied, between the buffer, the visits that keep it and the disk.
using t_PictureBytes = std::shared_ptr<const std::vector<std::uint8_t>>;

struct t_TimedPicture {
  std::int64_t at = 0; // ms, on the ring's clock
  t_PictureBytes bytes;
};

class t_PictureBuffer {
public:
  // A slot's worth more than the 3 s a ring looks back, so that the oldest
  // slot still has its newest picture.
  static constexpr std::int64_t kKeepMs = kBeforeMs + kSlotMs;
  static constexpr std::size_t kMaxBytes = 6u << 20;

  // Adds a picture taken at `at` (never older than the last one) and lets
  // go of those that have grown too old or too many.
  void Add(std::int64_t at, t_PictureBytes picture);
  // For a ring at `ring`: the newest picture of each slot from -3000 ms to
  // 0, oldest first.
  std::vector<t_TimedPicture> Before(std::int64_t ring) const;
  std::size_t Bytes() const { return bytes_; }
  std::size_t Count() const { return pictures_.size(); }

private:
  std::deque<t_TimedPicture>::iterator Thinnable(std::int64_t next);
  void Drop(std::deque<t_TimedPicture>::iterator p);

  std::deque<t_TimedPicture> pictures_;
  std::size_t bytes_ = 0;
};

} // namespace visits
