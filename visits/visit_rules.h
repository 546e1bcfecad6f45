// The visitors' record's rules, with nothing of a thread, a clock or a
// file in them: which pictures a visit keeps and under which names, when a
// visit counts as answered or missed, which visits retention removes, and
// how times are written. Times are milliseconds: from the ring for the
// pictures, on one monotonic clock for a visit's ring, since 1970 (UTC) for
// what is stored.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace visits {

// A visit keeps the newest picture of each 250 ms slot from 3 s before the
// ring to 10 s after it: at most 4 a second, 52 in all.
inline constexpr int kSlotMs = 250;
inline constexpr int kBeforeMs = 3000;
inline constexpr int kAfterMs = 10000;
inline constexpr int kSlotsBefore = kBeforeMs / kSlotMs;
inline constexpr int kSlotsAfter = kAfterMs / kSlotMs;
// A ring is answered when this copy's door unit gets into a call while it
// rings or within this long of its start.
inline constexpr int kAnswerWindowMs = 30000;
// A ring that starts again this soon after the last one ended continues
// that visit: the stream renewed itself while it rang (the flag falls with
// the connection and rises with the next), or the visitor pressed again.
inline constexpr int kSameVisitMs = 5000;

// The start of the slot a picture taken `offsetMs` after the ring (before
// it when negative) falls in, or nullopt outside -3000 to +10000.
std::optional<int> SlotOf(std::int64_t offsetMs);
// The file name of the slot starting at `slotMs`: its sign and five digits
// ("-03000.jpg", "+00000.jpg", "+09750.jpg").
std::string PictureName(int slotMs);
// Whether `name` is one PictureName could have made.
bool IsPictureName(const std::string &name);
// Of pictures taken at `offsets` (ms from the ring, oldest first), the
// newest of each slot: their indices, oldest first.
std::vector<std::size_t> ChooseSlots(const std::vector<std::int64_t> &offsets);

// What a visit's ring comes to.
enum class Outcome { Undecided, Answered, Missed };
struct t_Ring {
  std::int64_t start = 0;
  std::optional<std::int64_t> end;      // the ring ended (the flag fell)
  std::optional<std::int64_t> inCallAt; // this copy's door unit got into a call
};
// Answered once the door unit got into a call during the ring or within
// 30 s of its start; missed once the ring has ended without that and those
// 30 s are over; undecided until then.
Outcome StreamOutcome(const t_Ring &ring, std::int64_t now);
// When a ring that has ended is decided at the latest; nullopt while it
// rings.
std::optional<std::int64_t> DecidedBy(const t_Ring &ring);

// Retention. The visits as kept, newest first; `limits` of 0 set no limit
// of that kind. Returns the ids to remove, oldest first: every visit older
// than `days` days, beyond `count` visits, or beyond `bytes` of pictures
// counted from the newest. The newest visit always stays.
struct t_Kept {
  std::int64_t id = 0;
  std::int64_t startedMs = 0;
  std::int64_t bytes = 0;
};
struct t_Limits {
  int days = 0;
  int count = 0;
  std::int64_t bytes = 0;
};
std::vector<std::int64_t> ChooseRemovals(const std::vector<t_Kept> &newestFirst,
                                         const t_Limits &limits,
                                         std::int64_t nowMs);

// A time since 1970 as stored: UTC, ISO 8601 with milliseconds and "Z"
// ("2024-05-13T10:15:02.123Z").
std::string UtcText(std::int64_t ms);
// The same read back; nullopt for any other text.
std::optional<std::int64_t> ParseUtcText(const std::string &text);
// The same for a file name ("20240513T101502.123Z"): sorts by time and
// means the same on any file system.
std::string CompactUtcText(std::int64_t ms);
// A visit's folder, from its start and the copy that recorded it
// ("20240513T101502.123Z-1"), so that two copies never make the same one.
std::string VisitFolderName(std::int64_t startedMs, int copy);
// Whether `name` is a single harmless folder or file name (no separator,
// not "." or "..", nothing unprintable): names read back from the database
// go into paths only then.
bool IsPlainName(const std::string &name);

} // namespace visits
