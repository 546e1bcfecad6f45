// Module notices: rings told by desktop notifications while the user
// cannot see the door's window. A ring of the door unit's stream, or a SIP
// call ringing in the core owner, gets "<door> is ringing" with buttons to
// bring the window up, open the door and, for a SIP call, answer or decline
// it; answered or declined, the notice goes; unanswered, it becomes
// "Missed visitor at <door>" and stays until dismissed. The rules are in
// notice_rules.h.
//
// Threads: NoticeRingComing, NoticeRing and NoticePicture on the reader
// thread (they take a small lock and post); everything else on the window
// thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/window.h"
#include "telephony/telephony.h"

// The reader's news reaches the window thread as this message (WM_APP +
// 0x24); wParam says which.
inline constexpr plat::UINT WM_DOOR_NOTICE = 0x8024;

// Start-up, once the main window is made; closing, before the window goes.
void StartDoorNotices();
void StopDoorNotices();

// The reader's hooks: a ring is coming (`shown`: the window was shown
// before the ring acted on it), the ring began with the part's title or
// ended, a whole picture.
void NoticeRingComing(bool shown);
void NoticeRing(bool ringing, const char *title);
void NoticePicture(std::shared_ptr<const std::vector<std::uint8_t>> picture);

// WM_DOOR_NOTICE.
void OnDoorNoticeMessage(plat::WPARAM wParam, plat::LPARAM lParam);
// This copy's door unit got into a call, or out of it.
void NoticeInCall(bool inCall);
// The core owner's received calls (a busy one, on the SIP thread, is let
// be), and OK or Cancel pressed in the Accept dialog of `call`.
void NoticeReceivedCall(const t_ReceivedCall &call);
void NoticeAcceptPressed(SipCallId call);

// The visit a missed visitor's notice was for, as the visitors' record
// keeps it: when it began (ms since 1970, UTC; within a second of the
// record's time), and for a SIP call its caller.
struct t_VisitorsAt {
  std::int64_t startedMs = 0;
  bool sip = false;
  std::string caller;
};
// Set by start-up to open the Visitors window at a visit; without it, a
// click on a missed visitor's notice brings the main window up.
void SetOpenVisitorsHook(void (*hook)(const t_VisitorsAt &visit));
