// The core owner's side of a call, on the window thread: what it does with
// the SIP thread's notifications and with the other instances' requests.
// Every dialog, reply and hang-up is tied to the one call it was made for.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "instance/identity.h"
#include "instance/protocol.h"
#include "instance/settings.h"
#include "platform/dialog_box.h"
#include "platform/message_space.h"
#include "platform/trace.h"
#include "resources/dialog_templates.h"
#include "sip/sip_core.h"
#include "telephony/caller.h"
#include "telephony/telephony.h"

using namespace plat;

t_CallRefs CallRefs{};

namespace {

std::mutex g_busyMutex; // guards g_busy
std::deque<t_BusyCaller> g_busy;

// Set by start-up; read on the window thread and the SIP thread.
std::atomic<void (*)(const t_ReceivedCall &)> g_receivedHook{nullptr};

// The calls received that are not over yet, and what became of them so far.
// Window thread only. A call whose end never came is given up as missed
// when this many are waiting.
struct t_Received {
  SipCallId call;
  std::string caller;
  bool dialog = false;  // its Accept dialog opened
  bool taken = false;   // a reply to the user's OK answered it
  bool matched = false; // a copy's door unit is the caller
};
std::vector<t_Received> g_received;
constexpr std::size_t kReceivedKept = 8;

std::int64_t WallMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// "user@host", or the host alone for a caller without a user part.
std::string CallerText(const char *name, const char *ip) {
  return name[0] != '\0' ? std::string(name) + "@" + ip : std::string(ip);
}

void Tell(SipCallId call, const std::string &caller,
          ReceivedCallOutcome outcome, std::int64_t when) {
  if (auto hook = g_receivedHook.load())
    hook({call, caller.c_str(), when, outcome});
}

t_Received *Received(SipCallId call) {
  for (t_Received &r : g_received)
    if (r.call == call)
      return &r;
  return nullptr;
}

void CallReceived(SipCallId call) {
  char name[kCallerFieldSize];
  char ip[kCallerFieldSize];
  Name_call.CopyTo(name, sizeof name);
  IP_call.CopyTo(ip, sizeof ip);
  if (g_received.size() >= kReceivedKept) {
    Tell(g_received.front().call, g_received.front().caller,
         ReceivedCallOutcome::Missed, WallMs());
    g_received.erase(g_received.begin());
  }
  g_received.push_back({call, CallerText(name, ip)});
  Tell(call, g_received.back().caller, ReceivedCallOutcome::Ringing, WallMs());
}

// What became of a received call, judged before CallGone forgets which
// dialog and answer were its.
void CallOver(SipCallId call) {
  const t_Received *r = Received(call);
  if (r == nullptr)
    return; // one this side placed
  ReceivedCallOutcome outcome = ReceivedCallOutcome::Missed;
  if (r->matched)
    outcome = ReceivedCallOutcome::Answered;
  else if (r->taken || CallRefs.answered == call)
    outcome = ReceivedCallOutcome::Stranger;
  else if (r->dialog && CallRefs.accept == call && !IsWindow(hWnd_Accept))
    outcome = ReceivedCallOutcome::Declined; // closed by its Cancel
  Tell(call, r->caller, outcome, WallMs());
  std::erase_if(g_received,
                [call](const t_Received &x) { return x.call == call; });
}

// The call placed for a copy, and that copy's window: it hears how the
// call goes. Window thread only.
struct t_Dialled {
  SipCallId call = 0;
  HWND window = nullptr;
};
t_Dialled g_dialled;

// What the dialling copy is told of a placed call's outcome.
LPARAM ProgressOf(SipOutcome outcome) {
  switch (outcome) {
  case SipOutcome::kAnswered:
    return CALL_ANSWERED;
  case SipOutcome::kNoAnswer:
    return CALL_NO_ANSWER;
  case SipOutcome::kBusy:
    return CALL_BUSY;
  case SipOutcome::kDeclined:
    return CALL_DECLINED;
  case SipOutcome::kNotFound:
    return CALL_NOT_FOUND;
  case SipOutcome::kNoConnection:
    return CALL_NO_CONNECTION;
  case SipOutcome::kFailed:
    break;
  }
  return CALL_FAILED;
}

// Why no call can be placed to `target` now (0: it can). Through an account
// every call goes to its registrar, so an account that is not registered
// takes none; a target without a scheme is a name at the registrar, which
// needs an account.
LPARAM Refusal(SipCore *core, const char *target) {
  if (SipCoreCurrentCall(core) != 0)
    return CALL_REFUSED_IN_CALL;
  if (cfg != nullptr ? SipProxyConfigIsRegistered(cfg) == 0
                     : std::strncmp(target, "sip:", 4) != 0)
    return CALL_REFUSED_UNREGISTERED;
  return 0;
}

// Forgets `call` wherever it is still named, and closes what was open for
// it; the ring stops with the Accept dialog it rang for (or when none is
// open, as a ring left over has nothing left to ring for).
void CallGone(SipCallId call) {
  if (CallRefs.accept == call || !IsWindow(hWnd_Accept)) {
    EndDialog(hWnd_Accept, 0);
    StopRing();
  }
  if (CallRefs.terminate == call)
    EndDialog(hWnd_Terminate, 0);
  for (SipCallId *ref : {&CallRefs.accept, &CallRefs.answered,
                         &CallRefs.terminate, &CallRefs.reported})
    if (*ref == call)
      *ref = 0;
  if (g_dialled.call == call)
    g_dialled = {};
}

// A placed call was answered or failed: the copy that dialled hears it
// (a failure before the call's end reaches it).
void TellDialler(LPARAM lParam) {
  const SipCallId call = CallOfParam(lParam);
  if (call != 0 && call == g_dialled.call)
    SendCode(g_dialled.window, MSG_CALL_PROGRESS,
             ProgressOf(OutcomeOfParam(lParam)));
}

void IncomingCall(SipCallId call) {
  SipCore *core = the_core;
  // Gone before this thread came to it: nothing rings for a dead call.
  if (core == nullptr || call == 0 || SipCoreCurrentCall(core) != call)
    return;
  // An Accept dialog still open belongs to a call that is over.
  EndDialog(hWnd_Accept, 0);
  CallRefs.accept = call;
  hWnd_Accept = CreateDialogParam(res::ProgramModule(), res::kDialogAccept,
                                  g_hwndMain, DialogProcAccept, 0);
}

// Every instance leaves the in-call state: the call is over. The end of a
// call that was hung up already may come after the next call was shown in
// its place, and must not take that one's hang-up key away.
void BroadcastCallEnded(SipCallId call) {
  if (CallRefs.reported == 0 || CallRefs.reported == call)
    SendCode(HWND_BROADCAST, MSG_CALL_ENDED, 0);
}

} // namespace

void SetReceivedCallHook(void (*hook)(const t_ReceivedCall &call)) {
  g_receivedHook = hook;
}

void RecordBusyCaller(const char *from, std::int64_t when) {
  {
    std::lock_guard lock(g_busyMutex);
    g_busy.push_back({from ? from : "", when});
    while (g_busy.size() > kBusyCallersKept)
      g_busy.pop_front();
  }
  char name[kCallerFieldSize];
  char ip[kCallerFieldSize];
  ParseCaller(from ? from : "", name, ip);
  Tell(0, CallerText(name, ip), ReceivedCallOutcome::Busy, when * 1000);
}

std::vector<t_BusyCaller> BusyCallers() {
  std::lock_guard lock(g_busyMutex);
  return {g_busy.begin(), g_busy.end()};
}

void OnSipNotification(WPARAM code, LPARAM lParam) {
  switch (code) {
  case APP_INCOMING_CALL: {
    const auto call = static_cast<SipCallId>(lParam);
    CallReceived(call);
    IncomingCall(call);
    if (t_Received *r = Received(call))
      r->dialog = CallRefs.accept == call && IsWindow(hWnd_Accept);
    break;
  }
  case APP_AUTH_ENTERED:
    if (lParam != 0)
      if (SipCore *core = the_core)
        SipCoreAddAuthInfo(core, reinterpret_cast<SipAuthInfo *>(lParam));
    break;
  case APP_CALL_OUTCOME:
    TellDialler(lParam);
    break;
  case APP_CALL_ENDED:
    CallOver(static_cast<SipCallId>(lParam));
    BroadcastCallEnded(static_cast<SipCallId>(lParam));
    CallGone(static_cast<SipCallId>(lParam));
    break;
  case APP_CALL_FAILED: {
    std::unique_ptr<t_CallFailure> failure(
        reinterpret_cast<t_CallFailure *>(lParam));
    if (!failure)
      break;
    CallOver(failure->call);
    BroadcastCallEnded(failure->call);
    CallGone(failure->call);
    // Shown by this thread without waiting for the user, so that a call
    // arriving meanwhile rings at once beside the box.
    PostMessageBox(g_hwndMain, failure->text, "Error",
                   MB_ICONINFORMATION | MB_TASKMODAL);
    break;
  }
  default:
    break;
  }
}

// Every reply answers the call whose OK the user pressed (the first one
// takes it), and the instance whose door unit is the caller takes the call
// over from the Terminate dialog. A reply for a call that is over, or that
// nobody answered, does nothing: it must not answer a later caller.
void AnswerAndMatch(HWND replier, const COPYDATASTRUCT &block) {
  SipCore *core = the_core;
  if (core == nullptr)
    return;
  char identity[kCallerFieldSize];
  BlockText(block, identity);
  const SipCallId call = CallRefs.answered;
  if (call == 0 || SipCoreCurrentCall(core) != call)
    return;
  SipCoreAcceptCall(core, call);
  Trace(TRACE_ANSWERED);
  t_Received *received = Received(call);
  if (received != nullptr)
    received->taken = true;
  char name[kCallerFieldSize];
  char ip[kCallerFieldSize];
  Name_call.CopyTo(name, sizeof name);
  IP_call.CopyTo(ip, sizeof ip);
  if (!DoorIdMatches(UseSIP != 0, identity, name, ip))
    return;
  if (received != nullptr)
    received->matched = true;
  EndDialog(hWnd_Terminate, 0);
  SendCode(replier, MSG_SHOW_WINDOW, 0);
  if (SipCoreCurrentCall(core) == call) {
    CallRefs.reported = call;
    SendCode(replier, MSG_SET_IN_CALL, 1);
  }
}

void PlaceCall(HWND dialler, const COPYDATASTRUCT &block) {
  SipCore *core = the_core;
  if (core == nullptr)
    return;
  // The block holds 128 bytes; the core takes what a SIP address needs.
  char target[100];
  BlockText(block, target);
  // A call that cannot be placed leaves the dialling instance idle, told
  // why; so does another call that is on (the core places none beside it).
  LPARAM refusal = Refusal(core, target);
  if (refusal == 0 && SipCoreInvite(core, target) != 0)
    refusal = CALL_REFUSED_TARGET;
  if (refusal != 0) {
    SendCode(dialler, MSG_CALL_PROGRESS, refusal);
    return;
  }
  Trace(TRACE_INVITED);
  CallRefs.reported = SipCoreCurrentCall(core);
  g_dialled = {CallRefs.reported, dialler};
  SendCode(dialler, MSG_CALL_PROGRESS, CALL_RINGING);
  SendCode(dialler, MSG_SET_IN_CALL, 1);
}

void HangUpReportedCall() {
  SipCore *core = the_core;
  if (core == nullptr)
    return;
  const SipCallId call = CallRefs.reported;
  if (call != 0)
    SipCoreTerminateCall(core, call);
  // The hang-up key goes once the call it showed is over, whatever else
  // rings meanwhile.
  if (call == 0 || SipCoreCurrentCall(core) != call)
    SendCode(HWND_BROADCAST, MSG_SET_IN_CALL, 0);
}

void AskForCallTarget(HWND dialler) {
  if (the_core.load() != nullptr)
    SendCode(dialler, MSG_SEND_CALL_TARGET, OwnHandle());
}

void AnswerRegistrationQuery(LPARAM lParam) {
  // A reply is 0 or 1; the query itself carries a window's handle value,
  // which is never 0 or 1.
  const bool reply = lParam == 0 || lParam == 1;
  if (the_core.load() != nullptr) {
    QueryRegistration();
    if (!reply) {
      const HWND asker = HandleFromValue(lParam);
      char reason[kRegReasonSize] = {};
      if (SIP_reg == 0)
        std::snprintf(reason, sizeof reason, "%s",
                      RegistrationFailureText().c_str());
      SendBlock(asker, COPYDATA_REG_REASON, reason, sizeof reason);
      SendCode(asker, MSG_REG_STATE, SIP_reg.load());
    }
  } else if (reply) {
    // The query's own handle value would otherwise overwrite the core
    // owner's answer in the requester, depending on the broadcast's order.
    SIP_reg = static_cast<int>(lParam);
    // A core owner answered, with words or without: the SIP side runs.
    if (!SIP_reg_reason)
      SIP_reg_reason.emplace();
  }
}

void KeepRegistrationReason(const COPYDATASTRUCT &block) {
  char reason[kRegReasonSize];
  BlockText(block, reason);
  SIP_reg_reason = reason;
}

void StartCoreOnce() {
  // One core per instance: with three or more instances a hand-over reaches
  // core owners too, and a second core would keep the first one running
  // unreachable on the same port.
  if (the_core.load() == nullptr)
    StartCore();
}

void ReloadIfCoreOwner() {
  if (the_core.load() != nullptr)
    ReloadSipSettings();
}
