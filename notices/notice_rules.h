// The rules of the ring notices, with no thread, clock or bus in them:
// when a ring is told by a desktop notification, what it says, and what
// becomes of it as the ring goes on.
#pragma once

#include <ctime>
#include <string>

namespace notices {

// How the user could see the door's window when the ring came (before the
// ring popped it up).
enum class View { Hidden, Minimized, OtherWorkspace, Covered, InView };

// Whether a ring gets a notice: the window was not in view on the user's
// workspace, or was covered while no pop-up brings it up.
bool RingWanted(View view, bool popUp);

// The door as the notices name it: its title without the blanks around
// it, or a name for one that has no title.
std::string DoorName(const std::string &title);
// "<door> is ringing", "Missed visitor at <door>".
std::string RingSummary(const std::string &door);
std::string MissedSummary(const std::string &door);
// The ring's moment, local time: "Ringing since 14:05:07" (and the
// caller's line for a SIP call); the missed visitor's "Rang at 14:05:07 on
// Tue 8 Dec".
std::string RingBody(const std::tm &local, const std::string &caller);
std::string MissedBody(const std::tm &local, const std::string &caller);

// A ring's notice through its life.
enum class Phase {
  Ringing, // says "... is ringing"
  Missed,  // says "Missed visitor at ..."
  Over,    // nothing more to say
};
struct t_Notice {
  Phase phase = Phase::Ringing;
  bool shown = true;     // the server still shows it
  bool attended = false; // the user pressed it or dismissed it
};
enum class NoticeEvent {
  RingEnded,  // the ring ended and nobody answered
  Answered,   // taken: by this program or, as far as it knows, elsewhere
  Declined,   // turned down
  Acted,      // the user pressed one of its actions
  Dismissed,  // the user closed it
  Expired,    // the server let it go
  ClosedThere // closed by the program or by the server for its own reasons
};
enum class NoticeStep { Nothing, ShowMissed, Close };
// Moves `notice` on by `event` and says what to do with it.
NoticeStep NoticeRule(t_Notice &notice, NoticeEvent event);

} // namespace notices
