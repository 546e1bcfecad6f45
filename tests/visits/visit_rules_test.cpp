// The record's rules and its picture buffer, without a clock or a disk.
#include <gtest/gtest.h>

#include <cstring>

#include "visits/picture_buffer.h"
#include "visits/visit_rules.h"

using namespace visits;

namespace {

TEST(VisitRules, EachPictureFallsInOneSlotNamedByItsStart) {
  const struct {
    std::int64_t offset;
    std::optional<int> slot;
    const char *name;
  } cases[] = {
      {-3001, std::nullopt, nullptr}, {-3000, -3000, "-03000.jpg"},
      {-2751, -3000, "-03000.jpg"},   {-2750, -2750, "-02750.jpg"},
      {-1, -250, "-00250.jpg"},       {0, 0, "+00000.jpg"},
      {249, 0, "+00000.jpg"},         {250, 250, "+00250.jpg"},
      {9999, 9750, "+09750.jpg"},     {10000, std::nullopt, nullptr},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.offset);
    EXPECT_EQ(SlotOf(c.offset), c.slot);
    if (c.slot) {
      EXPECT_EQ(PictureName(*c.slot), c.name);
      EXPECT_TRUE(IsPictureName(c.name));
    }
  }
  for (const char *other :
       {"-00000.jpg", "+10000.jpg", "-03250.jpg", "+00100.jpg", "+0000.jpg",
        "+00000.png", "../x0.jpg", "+00000.jpg/"})
    EXPECT_FALSE(IsPictureName(other)) << other;
}

TEST(VisitRules, TheNewestPictureOfEachSlotIsKept) {
  const struct {
    const char *what;
    std::vector<std::int64_t> offsets;
    std::vector<std::size_t> chosen;
  } cases[] = {
      {"nothing", {}, {}},
      {"outside the 13 s", {-3200, 10000, 12000}, {}},
      {"three in a slot, then one a slot",
       {-3100, -3000, -2990, -2760, -2740, -10, 0, 5, 260},
       {3, 4, 5, 7, 8}},
      {"a gap of slots", {-2000, 3000, 3100}, {0, 2}},
  };
  for (const auto &c : cases)
    EXPECT_EQ(ChooseSlots(c.offsets), c.chosen) << c.what;

  // At 25 pictures a second, four a second are kept: 52 in the 13 s.
  std::vector<std::int64_t> steady;
  for (std::int64_t t = -5000; t < 12000; t += 40)
    steady.push_back(t);
  EXPECT_EQ(ChooseSlots(steady).size(),
            static_cast<std::size_t>(kSlotsBefore + kSlotsAfter));
}

TEST(VisitRules, ARingIsAnsweredByACallDuringItOrWithin30sElseMissed) {
  const std::optional<std::int64_t> none;
  const struct {
    const char *what;
    std::optional<std::int64_t> end, inCall;
    std::int64_t now;
    Outcome outcome;
  } cases[] = {
      {"still ringing", none, none, 100000, Outcome::Undecided},
      {"ended early, 30 s not over", 5000, none, 29999, Outcome::Undecided},
      {"ended early, 30 s over", 5000, none, 30000, Outcome::Missed},
      {"rang longer than 30 s, still", 40000, none, 39999, Outcome::Undecided},
      {"rang longer than 30 s, ended", 40000, none, 40000, Outcome::Missed},
      {"a call after the ring, within 30 s", 5000, 20000, 20000,
       Outcome::Answered},
      {"a call after the 30 s", 5000, 30001, 30001, Outcome::Missed},
      {"a call late in a long ring", 40000, 35000, 35000, Outcome::Answered},
      {"a call while it still rings", none, 100000, 100000, Outcome::Answered},
      {"a call that ended before the ring", 5000, -5, 40000, Outcome::Missed},
  };
  for (const auto &c : cases) {
    const t_Ring ring{0, c.end, c.inCall};
    EXPECT_EQ(StreamOutcome(ring, c.now), c.outcome) << c.what;
  }
  EXPECT_EQ(DecidedBy({0, 5000, none}), 30000);
  EXPECT_EQ(DecidedBy({0, 40000, none}), 40000);
  EXPECT_EQ(DecidedBy({0, none, none}), none);
}

TEST(VisitRules, RetentionRemovesTheOldestBeyondEachLimit) {
  constexpr std::int64_t kDay = 86400000, kNow = 100 * kDay;
  // Newest first: a visit a day, 3 MB each.
  std::vector<t_Kept> kept;
  for (int i = 0; i < 6; ++i)
    kept.push_back({10 + i, kNow - i * kDay - 1, 3 << 20});
  const struct {
    const char *what;
    t_Limits limits;
    std::vector<std::int64_t> removed;
  } cases[] = {
      {"no limits", {0, 0, 0}, {}},
      {"within every limit", {30, 1000, 500 << 20}, {}},
      {"older than 3 days", {3, 0, 0}, {15, 14, 13}},
      {"more than 4", {0, 4, 0}, {15, 14}},
      {"more than 10 MB", {0, 0, 10 << 20}, {15, 14, 13}},
      {"the tightest limit wins", {5, 2, 100 << 20}, {15, 14, 13, 12}},
      {"the newest stays whatever the limits", {0, 0, 1}, {15, 14, 13, 12, 11}},
  };
  for (const auto &c : cases)
    EXPECT_EQ(ChooseRemovals(kept, c.limits, kNow), c.removed) << c.what;
}

TEST(VisitRules, TimesAreWrittenInUtcAndReadBack) {
  const struct {
    std::int64_t ms;
    const char *text, *folder;
  } cases[] = {
      {0, "1970-01-01T00:00:00.000Z", "19700101T000000.000Z-3"},
      {1715595302123, "2024-05-13T10:15:02.123Z", "20240513T101502.123Z-3"},
      {951782399999, "2000-02-28T23:59:59.999Z", "20000228T235959.999Z-3"},
      {951782400000, "2000-02-29T00:00:00.000Z", "20000229T000000.000Z-3"},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(UtcText(c.ms), c.text);
    EXPECT_EQ(ParseUtcText(c.text), c.ms) << c.text;
    EXPECT_EQ(VisitFolderName(c.ms, 3), c.folder);
  }
  for (const char *bad :
       {"", "2024-05-13T10:15:02Z", "2024-02-30T10:15:02.123Z",
        "2024-05-13 10:15:02.123Z", "2024-05-13T24:00:00.000Z",
        "2024-05-13T10:15:02.123+01"})
    EXPECT_EQ(ParseUtcText(bad), std::nullopt) << bad;
  for (const char *name : {"20240513T101502.123Z-1", "a b", "x.jpg"})
    EXPECT_TRUE(IsPlainName(name)) << name;
  for (const char *name : {"", ".", "..", "../etc", "a/b", "tab\there"})
    EXPECT_FALSE(IsPlainName(name)) << name;
}

// Pictures whose bytes say when they were taken.
t_PictureBytes Picture(std::int64_t at, std::size_t size = 16) {
  auto bytes = std::make_shared<std::vector<std::uint8_t>>(size);
  std::memcpy(bytes->data(), &at, sizeof at);
  return bytes;
}

std::int64_t TakenAt(const t_TimedPicture &p) {
  std::int64_t at;
  std::memcpy(&at, p.bytes->data(), sizeof at);
  return at;
}

TEST(PictureBuffer, KeepsALittleOver3sAndAtMost6MiB) {
  t_PictureBuffer buffer;
  for (std::int64_t t = 0; t <= 10000; t += 40)
    buffer.Add(t, Picture(t));
  // 3.25 s behind the newest, at 25 a second.
  EXPECT_EQ(buffer.Count(), 82u);
  const std::vector<t_TimedPicture> before = buffer.Before(10000);
  ASSERT_EQ(before.size(), static_cast<std::size_t>(kSlotsBefore));
  EXPECT_EQ(TakenAt(before.front()), 7240) << "the newest of -3000 to -2750";
  EXPECT_EQ(TakenAt(before.back()), 9960);
  for (const t_TimedPicture &p : before)
    EXPECT_EQ(p.at, TakenAt(p)) << "shared as they came";
  // A ring later than the last picture takes what is still 3 s old.
  EXPECT_EQ(buffer.Before(12500).size(), 3u);

  // Large pictures (a 1080p camera's): fewer of them are kept, every slot
  // still with one near its end, and then the bytes bound the time held.
  const struct {
    std::size_t size;
    std::size_t slots;    // of the 12 before a ring
    std::int64_t nearEnd; // how far the chosen one lies from its slot's end
  } sizes[] = {{200u << 10, 12, 125}, {900u << 10, 5, 250}};
  std::int64_t t = 20000;
  for (const auto &s : sizes) {
    SCOPED_TRACE(s.size);
    for (const std::int64_t until = t + 5000; t <= until; t += 40)
      buffer.Add(t, Picture(t, s.size));
    EXPECT_LE(buffer.Bytes(), t_PictureBuffer::kMaxBytes);
    EXPECT_EQ(buffer.Count(), t_PictureBuffer::kMaxBytes / s.size);
    const auto chosen = buffer.Before(t);
    EXPECT_GE(chosen.size(), s.slots);
    for (const t_TimedPicture &p : chosen) {
      const std::int64_t end = t + *SlotOf(p.at - t) + kSlotMs;
      EXPECT_LE(end - p.at, s.nearEnd) << p.at - t;
    }
  }
  // One larger than the whole buffer is not kept; the rest stay.
  const std::size_t held = buffer.Count();
  buffer.Add(t, Picture(t, t_PictureBuffer::kMaxBytes + 1));
  EXPECT_EQ(buffer.Count(), held);
}

} // namespace
