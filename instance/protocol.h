// The instances' protocol: the registered message and its codes, the blocks
// that travel with WM_COPYDATA, and the calls every sender uses. Every copy
// of one version speaks it through its main window; the handlers are the
// window procedure's (events/) and, for what only the core owner does,
// telephony's. Window thread: a send waits until every receiver has
// handled it (still handling what is sent to this window meanwhile), a post
// does not wait.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/message_space.h"
#include "platform/window.h"

// The registered message "Vestibell_1.39"; the code travels in wParam.
extern plat::UINT MESSAGE;
enum : plat::WPARAM {
  // post, broadcast, lParam the core owner's window: every copy answers
  // with COPYDATA_DOOR_ID.
  MSG_REPORT_DOOR_ID = 0,
  // send, core owner to the copy whose door unit called: show the window.
  MSG_SHOW_WINDOW = 2,
  // send; lParam 1: this copy's door unit is in a call, 0: no longer.
  MSG_SET_IN_CALL = 3,
  // send, broadcast by the hang-up key: the core owner ends the call.
  MSG_HANG_UP = 4,
  // send, broadcast by the call key, lParam the dialling window: the core
  // owner asks back with MSG_SEND_CALL_TARGET.
  MSG_DIAL_REQUEST = 5,
  // send, core owner to the dialling copy: answer COPYDATA_CALL_TARGET.
  MSG_SEND_CALL_TARGET = 6,
  // post, broadcast by the settings dialog: the core owner re-reads them.
  MSG_RELOAD_SIP_SETTINGS = 7,
  // send, broadcast by a closing core owner: the others make cores.
  MSG_CORE_RELEASED = 8,
  // send, broadcast by the core owner: the call is over everywhere.
  MSG_CALL_ENDED = 9,
  // send, to the own window: make the SIP core.
  MSG_START_CORE = 10,
  // send; a window's handle: a query the core owner answers to it; 0 or 1:
  // the answer (registered or not). The answer 0 follows a
  // COPYDATA_REG_REASON block.
  MSG_REG_STATE = 11,
  // send, core owner to the copy that dialled, lParam a CALL_ value: how
  // its call goes. CALL_RINGING comes before that copy's MSG_SET_IN_CALL 1,
  // a failure before the MSG_CALL_ENDED of its end.
  MSG_CALL_PROGRESS = 12,
};

// MSG_CALL_PROGRESS's lParam. A copy ignores a value it does not know.
enum : plat::LPARAM {
  CALL_RINGING = 1,  // placed: the door unit is being called
  CALL_ANSWERED = 2, // the door unit answered
  // Failed: the door unit did not answer, was busy, declined; nobody of
  // that name; no SIP answer at all; otherwise (the core owner's "Error"
  // box gives the library's words).
  CALL_NO_ANSWER = 3,
  CALL_BUSY = 4,
  CALL_DECLINED = 5,
  CALL_NOT_FOUND = 6,
  CALL_NO_CONNECTION = 7,
  CALL_FAILED = 8,
  // Not placed: another call is on (the core takes one at a time), the
  // registrar account is not registered, no SIP address is made of the
  // target.
  CALL_REFUSED_IN_CALL = 9,
  CALL_REFUSED_UNREGISTERED = 10,
  CALL_REFUSED_TARGET = 11,
};

// The blocks of WM_COPYDATA, in dwData, and their sizes. The text of a
// block ends at its first NUL; spaces may follow it.
inline constexpr std::uintptr_t COPYDATA_DOOR_ID = 0;
inline constexpr std::uintptr_t COPYDATA_CALL_TARGET = 6;
// Core owner to the copy that asked MSG_REG_STATE: why the account is not
// registered, in words for the settings dialog (empty: not known).
inline constexpr std::uintptr_t COPYDATA_REG_REASON = 11;
inline constexpr std::uint32_t kRegReasonSize = 128;
inline constexpr std::uint32_t kSipIdentitySize = 128; // UseSIP set
inline constexpr std::uint32_t kIpIdentitySize = 64;   // UseSIP clear
inline constexpr std::uint32_t kCallTargetSize = 128;

// This window's handle as a request carries it (lParam, or wParam of a
// block).
plat::LPARAM OwnHandle();
// A code to a window or HWND_BROADCAST, waiting until it was handled.
plat::LRESULT SendCode(plat::HWND to, plat::WPARAM code, plat::LPARAM lParam);
// The same, queued: returns at once.
bool PostCode(plat::HWND to, plat::WPARAM code, plat::LPARAM lParam);
// A block of `kind` from this window, waiting until it was handled.
void SendBlock(plat::HWND to, std::uintptr_t kind, const void *data,
               std::uint32_t size);

// The text at the start of a received block, up to its first NUL, never
// past the block (a sender's block need not hold one), cut to fit `out`.
void BlockText(const plat::COPYDATASTRUCT &block, char *out, std::size_t size);
template <std::size_t N>
void BlockText(const plat::COPYDATASTRUCT &block, char (&out)[N]) {
  BlockText(block, out, N);
}

// The door unit's SIP identity, by which the core owner knows its calls
// and dials it through a server: the call prefix and the door unit's SIP
// id, at the start of a buffer filled with spaces.
void FormSipDoorId(char (&out)[kSipIdentitySize]);
// Code 0's answer: this copy's door-unit identity (with UseSIP its SIP
// identity, else IP_addr), to the core owner.
void ReportDoorId(plat::HWND coreOwner);
