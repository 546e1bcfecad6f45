#include "desktop/visit_text.h"

#include <QDateTime>
#include <QLocale>

#include <cstdlib>

#include "visits/visit_rules.h"

namespace desktop {

using visits::VisitOutcome;

QString LocalTimeText(const std::string &utcText) {
  const auto ms = visits::ParseUtcText(utcText);
  if (!ms)
    return QString::fromLatin1(utcText.c_str());
  const QDateTime local = QDateTime::fromMSecsSinceEpoch(*ms).toLocalTime();
  return QLocale().toString(local, QStringLiteral("ddd d MMM yyyy HH:mm:ss"));
}

QString DoorText(const visits::t_Visit &visit) {
  if (visit.how == "sip")
    return {};
  // The title as the main window shows it: 8-bit text, padded with spaces
  // by the door unit.
  const QString title = QString::fromLatin1(visit.door.c_str()).trimmed();
  if (!title.isEmpty())
    return title;
  return QString::fromLatin1(visit.address.c_str()).trimmed();
}

QString HowText(const visits::t_Visit &visit) {
  if (visit.how != "sip")
    return QStringLiteral("Stream ring");
  if (visit.caller.empty())
    return QStringLiteral("SIP call");
  return QStringLiteral("SIP call from ") +
         QString::fromUtf8(visit.caller.c_str());
}

bool MarkedMissed(const visits::t_Visit &visit) {
  return visit.outcome == VisitOutcome::Missed && !visit.seen;
}

QString OutcomeText(const visits::t_Visit &visit) {
  switch (visit.outcome) {
  case VisitOutcome::Answered:
    return QStringLiteral("Answered");
  case VisitOutcome::Missed:
    return visit.seen ? QStringLiteral("Missed")
                      : QStringLiteral("Missed (new)");
  case VisitOutcome::Declined:
    return QStringLiteral("Declined");
  case VisitOutcome::Busy:
    return QStringLiteral("Busy (another call was on)");
  case VisitOutcome::Stranger:
    return QStringLiteral("Unknown caller");
  case VisitOutcome::Undecided:
    break;
  }
  // Not decided: still under way, or the program ended before it knew.
  return visit.ended.empty() ? QStringLiteral("Under way")
                             : QStringLiteral("Not known");
}

QString PictureTimeText(int atMs) {
  if (atMs == 0)
    return QStringLiteral("at the ring");
  const QString seconds = QString::number(std::abs(atMs) / 1000.0, 'f', 2);
  return seconds + (atMs < 0 ? QStringLiteral(" s before the ring")
                             : QStringLiteral(" s after the ring"));
}

} // namespace desktop
