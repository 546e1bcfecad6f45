#include "visits/visit_rules.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace visits {

namespace {

// Floor division: -1 ms lies in the slot that starts at -250.
std::int64_t FloorTo(std::int64_t value, std::int64_t step) {
  const std::int64_t q = value / step;
  return (value % step != 0 && value < 0) ? (q - 1) * step : q * step;
}

bool Digits(const std::string &text, std::size_t from, std::size_t count) {
  if (text.size() < from + count)
    return false;
  for (std::size_t i = from; i < from + count; ++i)
    if (text[i] < '0' || text[i] > '9')
      return false;
  return true;
}

int Number(const std::string &text, std::size_t from, std::size_t count) {
  int value = 0;
  for (std::size_t i = from; i < from + count; ++i)
    value = value * 10 + (text[i] - '0');
  return value;
}

struct t_Civil {
  int year;
  unsigned month, day, hour, minute, second, milli;
};

t_Civil CivilOf(std::int64_t ms) {
  using namespace std::chrono;
  const sys_time<milliseconds> at{milliseconds(ms)};
  const sys_days day = floor<days>(at);
  const year_month_day date{day};
  const hh_mm_ss<milliseconds> time{at - day};
  return {static_cast<int>(date.year()),
          static_cast<unsigned>(date.month()),
          static_cast<unsigned>(date.day()),
          static_cast<unsigned>(time.hours().count()),
          static_cast<unsigned>(time.minutes().count()),
          static_cast<unsigned>(time.seconds().count()),
          static_cast<unsigned>(time.subseconds().count())};
}

} // namespace

std::optional<int> SlotOf(std::int64_t offsetMs) {
  if (offsetMs < -kBeforeMs || offsetMs >= kAfterMs)
    return std::nullopt;
  return static_cast<int>(FloorTo(offsetMs, kSlotMs));
}

std::string PictureName(int slotMs) {
  char name[16];
  std::snprintf(name, sizeof name, "%c%05d.jpg", slotMs < 0 ? '-' : '+',
                std::min(std::abs(slotMs), 99999));
  return name;
}

bool IsPictureName(const std::string &name) {
  if (name.size() != 10 || (name[0] != '-' && name[0] != '+') ||
      !Digits(name, 1, 5) || name.compare(6, 4, ".jpg") != 0)
    return false;
  const int at = Number(name, 1, 5) * (name[0] == '-' ? -1 : 1);
  return SlotOf(at) == at && !(at == 0 && name[0] == '-');
}

std::vector<std::size_t> ChooseSlots(const std::vector<std::int64_t> &offsets) {
  std::vector<std::size_t> chosen;
  std::optional<int> lastSlot;
  for (std::size_t i = 0; i < offsets.size(); ++i) {
    const std::optional<int> slot = SlotOf(offsets[i]);
    if (!slot)
      continue;
    // A newer picture of the same slot takes the place of the older one.
    if (lastSlot == slot && !chosen.empty())
      chosen.back() = i;
    else
      chosen.push_back(i);
    lastSlot = slot;
  }
  return chosen;
}

Outcome StreamOutcome(const t_Ring &ring, std::int64_t now) {
  const std::int64_t windowEnd = ring.start + kAnswerWindowMs;
  if (ring.inCallAt && *ring.inCallAt >= ring.start &&
      (!ring.end || *ring.inCallAt <= std::max(*ring.end, windowEnd)))
    return Outcome::Answered;
  const std::optional<std::int64_t> by = DecidedBy(ring);
  return by && now >= *by ? Outcome::Missed : Outcome::Undecided;
}

std::optional<std::int64_t> DecidedBy(const t_Ring &ring) {
  if (!ring.end)
    return std::nullopt;
  return std::max(*ring.end, ring.start + kAnswerWindowMs);
}

std::vector<std::int64_t> ChooseRemovals(const std::vector<t_Kept> &newestFirst,
                                         const t_Limits &limits,
                                         std::int64_t nowMs) {
  constexpr std::int64_t kDayMs = 86400000;
  // What is kept is always a run of the newest: find where it ends.
  std::size_t keep = newestFirst.size();
  std::int64_t bytes = 0;
  for (std::size_t i = 0; i < newestFirst.size(); ++i) {
    bytes += newestFirst[i].bytes;
    if (i == 0)
      continue;
    const bool old = limits.days > 0 &&
                     newestFirst[i].startedMs < nowMs - limits.days * kDayMs;
    const bool many =
        limits.count > 0 && i >= static_cast<std::size_t>(limits.count);
    const bool large = limits.bytes > 0 && bytes > limits.bytes;
    if (old || many || large) {
      keep = i;
      break;
    }
  }
  std::vector<std::int64_t> removed;
  for (std::size_t i = newestFirst.size(); i > keep; --i)
    removed.push_back(newestFirst[i - 1].id);
  return removed;
}

std::string UtcText(std::int64_t ms) {
  const t_Civil c = CivilOf(ms);
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02u:%02u:%02u.%03uZ",
                c.year, c.month, c.day, c.hour, c.minute, c.second, c.milli);
  return text;
}

std::optional<std::int64_t> ParseUtcText(const std::string &text) {
  // 2024-05-13T10:15:02.123Z
  if (text.size() != 24 || !Digits(text, 0, 4) || text[4] != '-' ||
      !Digits(text, 5, 2) || text[7] != '-' || !Digits(text, 8, 2) ||
      text[10] != 'T' || !Digits(text, 11, 2) || text[13] != ':' ||
      !Digits(text, 14, 2) || text[16] != ':' || !Digits(text, 17, 2) ||
      text[19] != '.' || !Digits(text, 20, 3) || text[23] != 'Z')
    return std::nullopt;
  using namespace std::chrono;
  const year_month_day date{year(Number(text, 0, 4)),
                            month(static_cast<unsigned>(Number(text, 5, 2))),
                            day(static_cast<unsigned>(Number(text, 8, 2)))};
  const int hour = Number(text, 11, 2), minute = Number(text, 14, 2),
            second = Number(text, 17, 2);
  if (!date.ok() || hour > 23 || minute > 59 || second > 59)
    return std::nullopt;
  const milliseconds since = sys_days(date).time_since_epoch() + hours(hour) +
                             minutes(minute) + seconds(second) +
                             milliseconds(Number(text, 20, 3));
  return since.count();
}

std::string CompactUtcText(std::int64_t ms) {
  const t_Civil c = CivilOf(ms);
  char name[40];
  std::snprintf(name, sizeof name, "%04d%02u%02uT%02u%02u%02u.%03uZ", c.year,
                c.month, c.day, c.hour, c.minute, c.second, c.milli);
  return name;
}

std::string VisitFolderName(std::int64_t startedMs, int copy) {
  return CompactUtcText(startedMs) + "-" + std::to_string(copy);
}

bool IsPlainName(const std::string &name) {
  if (name.empty() || name.size() > 64 || name == "." || name == "..")
    return false;
  for (unsigned char c : name)
    if (c == '/' || c < 0x20 || c == 0x7F)
      return false;
  return true;
}

} // namespace visits
