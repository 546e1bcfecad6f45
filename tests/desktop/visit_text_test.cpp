// What the Visitors window and the tray say of visits, row by row.
#include <gtest/gtest.h>

#include <QLocale>

#include <cstdlib>
#include <ctime>

#include "desktop/visit_text.h"
#include "instance/tray.h"

namespace {

using visits::t_Visit;
using visits::VisitOutcome;

t_Visit Row(const char *how, const char *door, const char *address,
            const char *caller, VisitOutcome outcome, bool seen,
            const char *ended = "2024-05-13T10:15:30.000Z") {
  t_Visit v;
  v.how = how;
  v.door = door;
  v.address = address;
  v.caller = caller;
  v.outcome = outcome;
  v.seen = seen;
  v.ended = ended;
  return v;
}

TEST(VisitText, RowsAsListed) {
  struct Case {
    t_Visit visit;
    const char *door, *how, *outcome;
    bool marked;
  } cases[] = {
      // The door unit pads its title; a blank one leaves the address.
      {Row("stream", "Front door      ", "127.0.0.1:8080", "",
           VisitOutcome::Missed, false),
       "Front door", "Stream ring", "Missed (new)", true},
      {Row("stream", "    ", "127.0.0.1:8080", "", VisitOutcome::Missed, true),
       "127.0.0.1:8080", "Stream ring", "Missed", false},
      {Row("sip", "", "", "door@192.0.2.7", VisitOutcome::Answered, false), "",
       "SIP call from door@192.0.2.7", "Answered", false},
      {Row("sip", "", "", "", VisitOutcome::Busy, false), "", "SIP call",
       "Busy (another call was on)", false},
      {Row("sip", "", "", "192.0.2.9", VisitOutcome::Stranger, false), "",
       "SIP call from 192.0.2.9", "Unknown caller", false},
      {Row("stream", "Back", "", "", VisitOutcome::Undecided, false, ""),
       "Back", "Stream ring", "Under way", false},
      {Row("stream", "Back", "", "", VisitOutcome::Undecided, false), "Back",
       "Stream ring", "Not known", false},
      // Markup from outside is text.
      {Row("stream", "<b>Gate</b>", "", "", VisitOutcome::Declined, true),
       "<b>Gate</b>", "Stream ring", "Declined", false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.visit.door + "|" + c.visit.caller);
    EXPECT_EQ(desktop::DoorText(c.visit).toStdString(), c.door);
    EXPECT_EQ(desktop::HowText(c.visit).toStdString(), c.how);
    EXPECT_EQ(desktop::OutcomeText(c.visit).toStdString(), c.outcome);
    EXPECT_EQ(desktop::MarkedMissed(c.visit), c.marked);
  }
}

TEST(VisitText, TimesAndCounts) {
  // Stored in UTC, shown in local time.
  setenv("TZ", "Europe/Prague", 1);
  tzset();
  QLocale::setDefault(QLocale::c());
  EXPECT_EQ(desktop::LocalTimeText("2024-05-13T10:15:02.123Z").toStdString(),
            "Mon 13 May 2024 12:15:02");
  EXPECT_EQ(desktop::LocalTimeText("2024-12-31T23:30:00.000Z").toStdString(),
            "Wed 1 Jan 2025 00:30:00");
  EXPECT_EQ(desktop::LocalTimeText("yesterday").toStdString(), "yesterday");

  EXPECT_EQ(desktop::PictureTimeText(-2750).toStdString(),
            "2.75 s before the ring");
  EXPECT_EQ(desktop::PictureTimeText(0).toStdString(), "at the ring");
  EXPECT_EQ(desktop::PictureTimeText(9750).toStdString(),
            "9.75 s after the ring");

  EXPECT_EQ(MissedVisitorsText(0), "");
  EXPECT_EQ(MissedVisitorsText(1), "1 missed visitor");
  EXPECT_EQ(MissedVisitorsText(12), "12 missed visitors");
  EXPECT_EQ(TitleWithMissed("Front door", 0), "Front door");
  EXPECT_EQ(TitleWithMissed("Front door", 2), "Front door (2 missed visitors)");
}

} // namespace
