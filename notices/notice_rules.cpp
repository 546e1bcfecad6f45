#include "notices/notice_rules.h"

namespace notices {

bool RingWanted(View view, bool popUp) {
  switch (view) {
  case View::Hidden:
  case View::Minimized:
  case View::OtherWorkspace:
    return true;
  case View::Covered:
    // A window that pops up stays above the others: the ring shows.
    return !popUp;
  case View::InView:
    break;
  }
  return false;
}

std::string DoorName(const std::string &title) {
  const auto first = title.find_first_not_of(" \t");
  if (first == std::string::npos)
    return "The door unit";
  const auto last = title.find_last_not_of(" \t");
  return title.substr(first, last - first + 1);
}

std::string RingSummary(const std::string &door) {
  return door + " is ringing";
}

std::string MissedSummary(const std::string &door) {
  return "Missed visitor at " + door;
}

namespace {

std::string Format(const char *format, const std::tm &local) {
  char text[64];
  const std::size_t n = std::strftime(text, sizeof text, format, &local);
  return std::string(text, n);
}

std::string WithCaller(std::string body, const std::string &caller) {
  if (!caller.empty())
    body += "\nCaller: " + caller;
  return body;
}

} // namespace

std::string RingBody(const std::tm &local, const std::string &caller) {
  return WithCaller(Format("Ringing since %H:%M:%S", local), caller);
}

std::string MissedBody(const std::tm &local, const std::string &caller) {
  return WithCaller(Format("Rang at %H:%M:%S on %a %e %b", local), caller);
}

NoticeStep NoticeRule(t_Notice &n, NoticeEvent event) {
  const bool wasShown = n.shown;
  switch (event) {
  case NoticeEvent::Dismissed:
    n.shown = false;
    n.attended = true;
    if (n.phase == Phase::Missed)
      n.phase = Phase::Over;
    return NoticeStep::Nothing;
  case NoticeEvent::Expired:
  case NoticeEvent::ClosedThere:
    n.shown = false;
    if (n.phase == Phase::Missed)
      n.phase = Phase::Over;
    return NoticeStep::Nothing;
  case NoticeEvent::Acted:
    n.attended = true;
    return NoticeStep::Nothing;
  case NoticeEvent::RingEnded:
    if (n.phase != Phase::Ringing)
      return NoticeStep::Nothing;
    // One the user has seen to needs no second word; one that went
    // unseen, expired or not, comes back as the missed visitor.
    if (n.attended) {
      n.phase = Phase::Over;
      n.shown = false;
      return wasShown ? NoticeStep::Close : NoticeStep::Nothing;
    }
    n.phase = Phase::Missed;
    n.shown = true;
    return NoticeStep::ShowMissed;
  case NoticeEvent::Answered:
  case NoticeEvent::Declined:
    if (n.phase != Phase::Ringing)
      return NoticeStep::Nothing;
    n.phase = Phase::Over;
    n.shown = false;
    return wasShown ? NoticeStep::Close : NoticeStep::Nothing;
  }
  return NoticeStep::Nothing;
}

} // namespace notices
