// What the Visitors window says of a visit, as plain text. The door's title
// and the caller come from outside: whatever they hold is shown as the very
// characters, never as markup.
#pragma once

#include <QString>

#include "visits/visit_store.h"

namespace desktop {

// The start in local time ("Tue 8 Dec 2026 07:55:42"); the stored text as
// it is when it cannot be read.
QString LocalTimeText(const std::string &utcText);
// The door's title (the address when the title is blank); empty for a SIP
// call, which has no stream of its own.
QString DoorText(const visits::t_Visit &visit);
// "Stream ring", or "SIP call from user@host".
QString HowText(const visits::t_Visit &visit);
// "Answered", "Missed", ...; a missed visit nobody had looked at before the
// window opened says so ("Missed (new)").
QString OutcomeText(const visits::t_Visit &visit);
bool MarkedMissed(const visits::t_Visit &visit);
// A picture's moment: "2.75 s before the ring", "at the ring",
// "1.25 s after the ring".
QString PictureTimeText(int atMs);

} // namespace desktop
