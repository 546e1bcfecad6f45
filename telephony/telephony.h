// Module telephony: the SIP core that the core owner holds, the callbacks
// through which it reports, and the dialogs that carry the user's answers.
//
// Threads: the core is made, reconfigured, queried and taken down on the
// window thread; the SIP thread iterates it and runs the callbacks. Calls
// into the core are serialised by the adapter, and no callback runs while
// its lock is held, so the window thread may call in while a callback waits
// for the window thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "instance/display_state.h"
#include "platform/dialog_box.h"
#include "platform/message_space.h"
#include "platform/window.h"

// The SIP adapter's handles, by name only: the adapter itself is this
// folder's own business (sip/, linked privately).
struct SipCore;
struct SipAuthInfo;
struct SipProxyConfig;
using SipCallId = std::uint32_t;
enum class SipOutcome;

// SIP-thread notifications to the own main window (WM_USER, in wParam).
// lParam: the call's number (APP_INCOMING_CALL, APP_CALL_ENDED); the
// completed SipAuthInfo, or 0 when the user cancelled (APP_AUTH_ENTERED);
// a t_CallFailure that the window thread then owns (APP_CALL_FAILED); the
// call's number and how it went, CallOutcomeParam (APP_CALL_OUTCOME).
inline constexpr plat::WPARAM APP_INCOMING_CALL = 0;
inline constexpr plat::WPARAM APP_AUTH_ENTERED = 1;
inline constexpr plat::WPARAM APP_CALL_ENDED = 2;
inline constexpr plat::WPARAM APP_CALL_FAILED = 3;
inline constexpr plat::WPARAM APP_CALL_OUTCOME = 4;

static_assert(sizeof(plat::LPARAM) >= 8, "a call and its outcome in one");
inline plat::LPARAM CallOutcomeParam(SipCallId call, SipOutcome outcome) {
  return static_cast<plat::LPARAM>(static_cast<std::uint64_t>(outcome) << 32 |
                                   call);
}
inline SipCallId CallOfParam(plat::LPARAM lParam) {
  return static_cast<SipCallId>(static_cast<std::uint64_t>(lParam));
}
inline SipOutcome OutcomeOfParam(plat::LPARAM lParam) {
  return static_cast<SipOutcome>(static_cast<std::uint64_t>(lParam) >> 32);
}

struct t_CallFailure {
  SipCallId call;
  char text[50]; // the library's reason, cut to what the box shows
};

// --- the core (core set-up and registration) ---------------------------------
// The core; null in every instance that is not the core owner. Written by
// the window thread, read by the SIP thread's dialogs.
extern std::atomic<SipCore *> the_core;
// The current registrar account, or null. Window thread only.
extern SipProxyConfig *cfg;
// The authentication record being completed or last added. Written by the
// window thread (set-up) and the SIP thread (credentials request).
extern std::atomic<SipAuthInfo *> info;
// Last registration state obtained (0 or 1): the core owner's own, or the
// answer its query got. Window thread (set while a query's send returns);
// atomic for the tests' reading.
extern std::atomic<int> SIP_reg;
// With it, why the account is not registered, in words: the core owner's
// answer to the last query (empty: not known), or nothing when no core
// owner answered. Window thread.
extern std::optional<std::string> SIP_reg_reason;

// A new authentication record; this module keeps it until the core is
// gone, as the core may still refer to a record that `info` no longer
// names. Any thread.
SipAuthInfo *NewAuthRecord(const char *username, const char *passwd,
                           const char *realm);

// Creates the core and its thread, selects the sound devices and sets up
// the registrar account when UseSIP is set. A core that cannot be made
// leaves the_core null: the instance then runs without SIP.
void StartCore();
// Re-reads the SIP and sound settings and rebuilds the registrar account.
// Core owner only.
void ReloadSipSettings();
// The sound cards any core of this process would list now, by the names
// the settings keep. Takes a moment (the cards are probed). Any thread.
std::vector<std::string> SoundDevices();
// Updates SIP_reg from the account, when there is one.
void QueryRegistration();
// Why the core owner's account is not registered, in words ("wrong name or
// password (401/403)", "no answer from <SIP_addr>"); empty while it is, or
// when there is none. Core owner.
std::string RegistrationFailureText();
// The SIP port of this copy's settings when another program holds it, else
// 0: why no core could be made, as far as a copy without one can tell.
int TakenSipPort();
// The core's part of closing: the account, a call in progress, the SIP
// thread and the core itself, in that order. Returns whether there was a
// core (the caller then hands it over).
bool TeardownCore();

// --- event callbacks ---------------------------------------------------------
// The caller of the last incoming call: the user part of its address (empty
// when it has none) and the host part. Written by the SIP thread.
extern SharedText<64> Name_call;
extern SharedText<64> IP_call;

void my_inv_recv(SipCore *lc, SipCallId call, const char *from);
void my_auth_info_requested(SipCore *lc, const char *realm,
                            const char *username);
void my_display_status(SipCore *lc, SipCallId call, const char *status);
void my_display_message(SipCore *lc, SipCallId call, const char *msg);
void my_busy_recv(SipCore *lc, const char *from, std::int64_t when);
void my_call_outcome(SipCore *lc, SipCallId call, SipOutcome outcome);

// The callers turned away while another call was on, oldest first: who and
// when (seconds since 1970), the last kBusyCallersKept of them. Any thread.
struct t_BusyCaller {
  std::string from;
  std::int64_t when;
};
inline constexpr std::size_t kBusyCallersKept = 32;
void RecordBusyCaller(const char *from, std::int64_t when);
std::vector<t_BusyCaller> BusyCallers();

// --- what the core owner hands on (core_owner.cpp) ---------------------------
// Every SIP call the core received, for whoever keeps a record of them (this
// folder cannot see it): once as it comes in (Ringing) and once as it ends; a
// caller turned away while another call was on, once (Busy, call 0).
// Answered: the door unit of a copy took it; Stranger: answered, but no
// copy's door unit is the caller; Declined: Cancel in the Accept dialog;
// Missed: it ended before anybody answered.
enum class ReceivedCallOutcome {
  Ringing,
  Answered,
  Declined,
  Missed,
  Stranger,
  Busy
};
struct t_ReceivedCall {
  SipCallId call = 0;
  const char *caller = ""; // "user@host", or "host"
  std::int64_t whenMs = 0; // since 1970, UTC
  ReceivedCallOutcome outcome = ReceivedCallOutcome::Ringing;
};
// Set once by start-up. Called on the window thread, and for Busy on the
// SIP thread; it must return at once.
void SetReceivedCallHook(void (*hook)(const t_ReceivedCall &call));
// Set once by start-up: OK or Cancel was pressed in the Accept dialog of
// `call`. Window thread.
void SetAcceptPressedHook(void (*hook)(SipCallId call));

// --- the core owner's side of a call (core_owner.cpp) ------------------------
// Which call each of the core owner's dialogs and answers concerns, by its
// number (0: none), so that a dialog, a late reply or a hang-up never
// reaches another call. Window thread only.
struct t_CallRefs {
  SipCallId accept;    // the Accept dialog rings for it
  SipCallId answered;  // its OK was pressed: replies to code 0 answer it
  SipCallId terminate; // the Terminate dialog ends it
  SipCallId reported;  // an instance shows it with its hang-up button
};
extern t_CallRefs CallRefs;

// The notifications of the SIP thread (WM_USER). Window thread.
void OnSipNotification(plat::WPARAM code, plat::LPARAM lParam);

// What the core owner does with the other copies' requests; in any other
// copy each does nothing. Window thread.
//
// COPYDATA_DOOR_ID: answers the call whose OK the user pressed, and hands
// it to the replier when its door unit is the caller.
void AnswerAndMatch(plat::HWND replier, const plat::COPYDATASTRUCT &block);
// MSG_DIAL_REQUEST: asks the dialling copy for its call target.
void AskForCallTarget(plat::HWND dialler);
// COPYDATA_CALL_TARGET: places the call.
void PlaceCall(plat::HWND dialler, const plat::COPYDATASTRUCT &block);
// MSG_HANG_UP: ends the call a copy shows with its hang-up key.
void HangUpReportedCall();
// MSG_RELOAD_SIP_SETTINGS.
void ReloadIfCoreOwner();
// MSG_REG_STATE: the core owner answers the query; any other copy keeps
// the answer it gets.
void AnswerRegistrationQuery(plat::LPARAM lParam);
// COPYDATA_REG_REASON: the copy that asked keeps the words.
void KeepRegistrationReason(const plat::COPYDATASTRUCT &block);
// MSG_START_CORE: makes the core unless this copy holds one already.
void StartCoreOnce();

// --- call dialogs ------------------------------------------------------------
// The modeless dialogs of the current call. Opened, closed and read by the
// window thread (the SIP thread only posts); a closed one no longer counts
// as a live dialog.
extern std::atomic<plat::HDLG> hWnd_Accept;
extern std::atomic<plat::HDLG> hWnd_Terminate;

plat::INT_PTR DialogProcAccept(plat::HDLG hwndDlg, plat::UINT uMsg,
                               plat::WPARAM wParam, plat::LPARAM lParam);
plat::INT_PTR DialogProcTerm(plat::HDLG hwndDlg, plat::UINT uMsg,
                             plat::WPARAM wParam, plat::LPARAM lParam);
// Runs on the thread that holds the Authentication dialog open; lParam of
// WM_INITDIALOG is the SipAuthInfo the typed values go into.
plat::INT_PTR DialogProcPass(plat::HDLG hwndDlg, plat::UINT uMsg,
                             plat::WPARAM wParam, plat::LPARAM lParam);
// Stops the ring (and any other sound of the program).
void StopRing();
// Ends an open Authentication dialog as cancelled (closing). Any thread.
void CloseAuthenticationDialog();
