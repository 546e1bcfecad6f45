// The ring notices carried out: the reader's and the core owner's news,
// the window's view of the user, the notices shown, replaced and closed,
// and what the user's presses on them do.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <deque>
#include <map>
#include <mutex>

#include "instance/display_state.h"
#include "instance/identity.h"
#include "instance/protocol.h"
#include "instance/settings.h"
#include "notices/notice_rules.h"
#include "notices/notices.h"
#include "platform/message_box.h"
#include "platform/notify.h"
#include "resources/resources.h"
#include "telephony/caller.h"
#include "video/mjpeg_parser.h"
#include "video/video.h"

using namespace notices;

namespace {

constexpr plat::WPARAM kStreamNews = 1;
constexpr plat::WPARAM kRingComing = 2; // lParam: the window was shown
// A ring that starts again this soon after the last one began is the same
// visitor pressing again: its notice goes on.
constexpr auto kSameVisit = std::chrono::seconds(10);
constexpr unsigned kStopWaitMs = 1000;

// --- from the reader
// ----------------------------------------------------------
struct t_StreamNews {
  bool ringing = false;
  std::string title;
  std::shared_ptr<const std::vector<std::uint8_t>> picture;
};
std::mutex g_newsMutex; // guards what follows
std::deque<t_StreamNews> g_news;
std::shared_ptr<const std::vector<std::uint8_t>> g_latestPicture;

// --- window thread
// --------------------------------------------------------------
struct t_Ring {
  t_Notice notice;
  bool sip = false;
  SipCallId call = 0;
  std::string door;
  std::string caller;
  bool openDoor = false; // the ringing door unit is this copy's
  std::int64_t startedMs = 0;
  std::tm local{};
  std::chrono::steady_clock::time_point began;
  std::shared_ptr<const std::vector<std::uint8_t>> picture;
};
bool g_started = false;
std::map<unsigned, t_Ring> g_rings; // by notice number
unsigned g_streamRing = 0;          // the stream's ring notice, or 0
std::chrono::steady_clock::time_point g_streamBegan;
std::map<SipCallId, unsigned> g_sipRings;
void (*g_openVisitors)(const t_VisitorsAt &) = nullptr;
// How the user could see the window as the last ring came.
View g_viewAtRing = View::Hidden;

plat::Notice RingNotice(const t_Ring &r) {
  plat::Notice n;
  n.summary = RingSummary(r.door);
  n.body = RingBody(r.local, r.caller);
  n.picture = r.picture;
  n.urgency = plat::NoticeUrgency::Critical;
  n.actions = {{"default", "Show"}, {"show", "Show"}};
  if (r.openDoor)
    n.actions.push_back({"open", "Open door"});
  if (r.sip) {
    n.actions.push_back({"answer", "Answer"});
    n.actions.push_back({"decline", "Decline"});
  }
  n.expireMs = 0; // closed or replaced as the ring ends
  return n;
}

plat::Notice MissedNotice(const t_Ring &r) {
  plat::Notice n;
  n.summary = MissedSummary(r.door);
  n.body = MissedBody(r.local, r.caller);
  n.picture = r.picture;
  n.urgency = plat::NoticeUrgency::Normal;
  n.actions = {{"default", "Show visitors"}};
  n.resident = true;
  n.expireMs = 0;
  return n;
}

void Stamp(t_Ring &r) {
  const auto now = std::chrono::system_clock::now();
  r.startedMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                    now.time_since_epoch())
                    .count();
  const std::time_t t = std::chrono::system_clock::to_time_t(now);
  if (const std::tm *local = std::localtime(&t))
    r.local = *local;
  r.began = std::chrono::steady_clock::now();
}

// The notice goes as the rules say; one with nothing more to say is
// forgotten.
void Apply(unsigned number, NoticeEvent event) {
  const auto found = g_rings.find(number);
  if (found == g_rings.end())
    return;
  t_Ring &r = found->second;
  switch (NoticeRule(r.notice, event)) {
  case NoticeStep::ShowMissed:
    plat::ReplaceNotice(number, MissedNotice(r));
    break;
  case NoticeStep::Close:
    plat::CloseNotice(number);
    break;
  case NoticeStep::Nothing:
    break;
  }
  if (r.notice.phase == Phase::Over) {
    if (r.sip)
      g_sipRings.erase(r.call);
    g_rings.erase(found);
  }
}

View CurrentView(bool shownBefore) {
  if (!shownBefore)
    return View::Hidden;
  switch (plat::ViewOfWindow(g_hwndMain)) {
  case plat::WindowView::Hidden:
    return View::Hidden;
  case plat::WindowView::Minimized:
    return View::Minimized;
  case plat::WindowView::OtherWorkspace:
    return View::OtherWorkspace;
  case plat::WindowView::Covered:
    return View::Covered;
  case plat::WindowView::InView:
    break;
  }
  return View::InView;
}

// As a show from the tray while hidden; otherwise restored and brought to
// the front.
void BringWindowUp() {
  if (!plat::IsWindowVisible(g_hwndMain)) {
    PopupOnWindow(g_hwndMain, PopupEvent::TrayClick);
    return;
  }
  plat::ShowWindow(g_hwndMain, plat::SW_RESTORE);
  plat::SetForegroundWindow(g_hwndMain);
}

// OK or Cancel of the Accept dialog, pressed for the user: only while it
// rings for that very call.
void PressAccept(SipCallId call, int button) {
  const plat::HDLG dialog = hWnd_Accept;
  if (call == 0 || CallRefs.accept != call || !plat::IsWindow(dialog))
    return;
  DialogProcAccept(dialog, plat::WM_COMMAND, static_cast<plat::WPARAM>(button),
                   0);
}

void OnAction(unsigned number, const std::string &key) {
  const auto found = g_rings.find(number);
  if (found == g_rings.end())
    return;
  t_Ring &r = found->second;
  if (r.notice.phase == Phase::Missed) {
    if (key != "default")
      return;
    if (g_openVisitors != nullptr)
      g_openVisitors({r.startedMs, r.sip, r.caller});
    else
      BringWindowUp();
    return;
  }
  if (r.notice.phase != Phase::Ringing)
    return;
  const SipCallId call = r.call;
  if (key == "default" || key == "show") {
    Apply(number, NoticeEvent::Acted);
    BringWindowUp();
  } else if (key == "open" && r.openDoor) {
    Apply(number, NoticeEvent::Acted);
    StartRelayThread(1);
  } else if (key == "answer" && r.sip) {
    PressAccept(call, plat::IDOK);
  } else if (key == "decline" && r.sip) {
    PressAccept(call, plat::IDCANCEL);
  }
}

void OnGone(unsigned number, plat::NoticeGone why) {
  switch (why) {
  case plat::NoticeGone::Dismissed:
    Apply(number, NoticeEvent::Dismissed);
    break;
  case plat::NoticeGone::Expired:
    Apply(number, NoticeEvent::Expired);
    break;
  case plat::NoticeGone::Closed:
  case plat::NoticeGone::Other:
    Apply(number, NoticeEvent::ClosedThere);
    break;
  }
}

void StreamRingBegan(const t_StreamNews &news) {
  const auto now = std::chrono::steady_clock::now();
  // The same visitor again: the visit's notice rings again.
  if (g_streamRing != 0 && now - g_streamBegan < kSameVisit) {
    const auto found = g_rings.find(g_streamRing);
    if (found != g_rings.end()) {
      found->second.notice = t_Notice{};
      plat::ReplaceNotice(g_streamRing, RingNotice(found->second));
      return;
    }
  }
  g_streamRing = 0;
  if (!RingWanted(g_viewAtRing, PopUp != 0))
    return;
  t_Ring r;
  r.door = DoorName(news.title);
  r.openDoor = true;
  r.picture = news.picture;
  Stamp(r);
  g_streamBegan = r.began;
  g_streamRing = plat::ShowNotice(RingNotice(r));
  g_rings[g_streamRing] = std::move(r);
}

void StreamRingEnded() {
  if (g_streamRing != 0)
    Apply(g_streamRing,
          ShowData.lin_call ? NoticeEvent::Answered : NoticeEvent::RingEnded);
}

// Whether this copy's door unit is the caller of the last call received.
bool OwnDoorCalls() {
  char identity[kSipIdentitySize] = {};
  if (UseSIP) {
    FormSipDoorId(identity);
  } else {
    IP_addr.CopyTo(identity, kIpIdentitySize);
  }
  char name[kCallerFieldSize];
  char ip[kCallerFieldSize];
  Name_call.CopyTo(name, sizeof name);
  IP_call.CopyTo(ip, sizeof ip);
  return DoorIdMatches(UseSIP != 0, identity, name, ip);
}

void SipRingBegan(const t_ReceivedCall &call) {
  if (!RingWanted(CurrentView(true), PopUp != 0))
    return;
  t_Ring r;
  r.sip = true;
  r.call = call.call;
  r.caller = call.caller;
  if (OwnDoorCalls()) {
    char title[kTitleSize];
    ShowData.title.CopyTo(title, sizeof title);
    r.door = DoorName(title);
    r.openDoor = true;
    std::lock_guard lock(g_newsMutex);
    r.picture = g_latestPicture;
  } else {
    // Named as the Accept dialog names it: the user part, or the host.
    char name[kCallerFieldSize];
    Name_call.CopyTo(name, sizeof name);
    if (name[0] == '\0')
      IP_call.CopyTo(name, sizeof name);
    r.door = DoorName(name);
  }
  Stamp(r);
  const unsigned number = plat::ShowNotice(RingNotice(r));
  g_sipRings[call.call] = number;
  g_rings[number] = std::move(r);
}

} // namespace

void StartDoorNotices() {
  if (g_started)
    return;
  g_started = true;
  const res::ResourceData icon = res::FindResource(res::kIconId, 48);
  plat::NoticeHandlers handlers;
  handlers.action = OnAction;
  handlers.gone = OnGone;
  plat::StartNotices("Vestibell", handlers, icon.data, icon.size);
}

void StopDoorNotices() {
  if (!g_started)
    return;
  std::vector<unsigned> ringing;
  for (const auto &[number, r] : g_rings)
    if (r.notice.phase == Phase::Ringing && r.notice.shown)
      ringing.push_back(number);
  plat::StopNotices(ringing, kStopWaitMs);
  g_rings.clear();
  g_sipRings.clear();
  g_started = false;
}

// Posted before the pop-up acts, so the window thread sees the window as
// it was: what the pop-up asks of it is queued behind.
void NoticeRingComing(bool shown) {
  plat::PostMessage(g_hwndMain, WM_DOOR_NOTICE, kRingComing, shown ? 1 : 0);
}

void NoticeRing(bool ringing, const char *title) {
  {
    std::lock_guard lock(g_newsMutex);
    t_StreamNews news;
    news.ringing = ringing;
    if (ringing) {
      news.title = title != nullptr ? title : "";
      news.picture = g_latestPicture;
    }
    g_news.push_back(std::move(news));
  }
  plat::PostMessage(g_hwndMain, WM_DOOR_NOTICE, kStreamNews, 0);
}

void NoticePicture(std::shared_ptr<const std::vector<std::uint8_t>> picture) {
  std::lock_guard lock(g_newsMutex);
  g_latestPicture = std::move(picture);
}

void OnDoorNoticeMessage(plat::WPARAM wParam, plat::LPARAM lParam) {
  if (wParam == kRingComing) {
    if (g_started)
      g_viewAtRing = CurrentView(lParam != 0);
    return;
  }
  if (wParam != kStreamNews)
    return;
  std::deque<t_StreamNews> news;
  {
    std::lock_guard lock(g_newsMutex);
    news.swap(g_news);
  }
  if (!g_started)
    return;
  for (const t_StreamNews &n : news) {
    if (n.ringing)
      StreamRingBegan(n);
    else
      StreamRingEnded();
  }
}

void NoticeInCall(bool inCall) {
  if (inCall && g_streamRing != 0)
    Apply(g_streamRing, NoticeEvent::Answered);
}

void NoticeReceivedCall(const t_ReceivedCall &call) {
  // A caller turned away busy (call 0) is told on the SIP thread, and is
  // no ring of its own.
  if (call.call == 0 || !g_started)
    return;
  if (call.outcome == ReceivedCallOutcome::Ringing) {
    SipRingBegan(call);
    return;
  }
  const auto found = g_sipRings.find(call.call);
  if (found == g_sipRings.end())
    return;
  const unsigned number = found->second;
  switch (call.outcome) {
  case ReceivedCallOutcome::Missed:
    Apply(number, NoticeEvent::RingEnded);
    break;
  case ReceivedCallOutcome::Declined:
    Apply(number, NoticeEvent::Declined);
    break;
  default:
    Apply(number, NoticeEvent::Answered);
    break;
  }
  // The call is over: its missed visitor's notice stays, for the user.
  g_sipRings.erase(call.call);
}

void NoticeAcceptPressed(SipCallId call) {
  const auto found = g_sipRings.find(call);
  if (found != g_sipRings.end())
    Apply(found->second, NoticeEvent::Answered);
}

void SetOpenVisitorsHook(void (*hook)(const t_VisitorsAt &visit)) {
  g_openVisitors = hook;
}
