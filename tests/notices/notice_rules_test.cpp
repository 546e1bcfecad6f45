// The ring notices' rules: which rings get one, what they say, and what a
// ring's notice becomes as the ring, the user and the server go on.
#include <gtest/gtest.h>

#include <vector>

#include "notices/notice_rules.h"

using namespace notices;

namespace {

TEST(NoticeRules, ARingIsToldWhenTheWindowIsOutOfSight) {
  const struct {
    View view;
    bool popUp, popUpOff;
  } cases[] = {
      {View::Hidden, true, true},
      {View::Minimized, true, true},
      {View::OtherWorkspace, true, true},
      {View::Covered, false, true}, // a pop-up comes up above the others
      {View::InView, false, false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(static_cast<int>(c.view));
    EXPECT_EQ(RingWanted(c.view, true), c.popUp);
    EXPECT_EQ(RingWanted(c.view, false), c.popUpOff);
  }
}

TEST(NoticeRules, TextsNameTheDoorAndTheTime) {
  EXPECT_EQ(DoorName("  Front door \t"), "Front door");
  EXPECT_EQ(DoorName("   "), "The door unit");
  EXPECT_EQ(DoorName(""), "The door unit");
  EXPECT_EQ(RingSummary("Front <b>door</b>"), "Front <b>door</b> is ringing");
  EXPECT_EQ(MissedSummary("Back door"), "Missed visitor at Back door");
  std::tm t{};
  t.tm_year = 2026 - 1900;
  t.tm_mon = 11;
  t.tm_mday = 8;
  t.tm_wday = 2;
  t.tm_hour = 9;
  t.tm_min = 5;
  t.tm_sec = 7;
  EXPECT_EQ(RingBody(t, ""), "Ringing since 09:05:07");
  EXPECT_EQ(RingBody(t, "door@127.0.0.1"),
            "Ringing since 09:05:07\nCaller: door@127.0.0.1");
  EXPECT_EQ(MissedBody(t, ""), "Rang at 09:05:07 on Tue  8 Dec");
}

// A ring's notice through a sequence of events: the steps taken, and where
// it stands at the end.
TEST(NoticeRules, ARingsNoticeFollowsTheRingTheUserAndTheServer) {
  using E = NoticeEvent;
  using S = NoticeStep;
  const struct {
    const char *name;
    std::vector<E> events;
    std::vector<S> steps;
    Phase phase;
    bool shown;
  } cases[] = {
      {"unanswered", {E::RingEnded}, {S::ShowMissed}, Phase::Missed, true},
      {"unanswered, missed dismissed",
       {E::RingEnded, E::Dismissed},
       {S::ShowMissed, S::Nothing},
       Phase::Over,
       false},
      {"missed clicked stays",
       {E::RingEnded, E::Acted},
       {S::ShowMissed, S::Nothing},
       Phase::Missed,
       true},
      {"answered",
       {E::Answered, E::RingEnded},
       {S::Close, S::Nothing},
       Phase::Over,
       false},
      {"declined", {E::Declined}, {S::Close}, Phase::Over, false},
      {"shown, then the ring ends",
       {E::Acted, E::ClosedThere, E::RingEnded},
       {S::Nothing, S::Nothing, S::Nothing},
       Phase::Over,
       false},
      {"door opened, still shown",
       {E::Acted, E::RingEnded},
       {S::Nothing, S::Close},
       Phase::Over,
       false},
      {"dismissed while ringing",
       {E::Dismissed, E::RingEnded},
       {S::Nothing, S::Nothing},
       Phase::Over,
       false},
      {"expired unseen comes back missed",
       {E::Expired, E::RingEnded},
       {S::Nothing, S::ShowMissed},
       Phase::Missed,
       true},
      {"gone answered closes nothing",
       {E::ClosedThere, E::Answered},
       {S::Nothing, S::Nothing},
       Phase::Over,
       false},
      {"missed ignores the call's end",
       {E::RingEnded, E::Answered, E::Declined, E::RingEnded},
       {S::ShowMissed, S::Nothing, S::Nothing, S::Nothing},
       Phase::Missed,
       true},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    t_Notice notice;
    std::vector<S> steps;
    for (E e : c.events)
      steps.push_back(NoticeRule(notice, e));
    EXPECT_EQ(steps, c.steps);
    EXPECT_EQ(notice.phase, c.phase);
    EXPECT_EQ(notice.shown, c.shown);
  }
}

} // namespace
