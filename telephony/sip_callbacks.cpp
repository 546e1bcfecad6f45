// What the core reports, on the SIP thread: an incoming call, a request for
// credentials, the end of a call, a failed one and a caller turned away.
// Nothing here waits for the window thread or the user: each report is
// posted to the own window, whose thread acts on it (core_owner.cpp), so
// the SIP thread keeps iterating while a box or a dialog is open.
#include <atomic>
#include <cstring>
#include <memory>
#include <thread>

#include "instance/identity.h"
#include "instance/settings.h"
#include "platform/dialog_box.h"
#include "platform/trace.h"
#include "resources/dialog_templates.h"
#include "sip/sip_core.h"
#include "telephony/caller.h"
#include "telephony/telephony.h"

SharedText<64> Name_call;
SharedText<64> IP_call;

namespace {

constexpr const char kCallTerminated[] = "Call terminated.";

// Whether a thread of its own holds the Authentication dialog open (its
// procedure runs there), so that neither the SIP thread nor the window
// thread waits for the user. One request at a time: the library asks again
// after every challenge, and the open dialog answers them all. The thread
// is not joined: at closing the dialog is ended instead (its procedure
// ends one that opens after the core is gone), and the thread then ends.
std::atomic<bool> g_asking{false};

void AskForCredentials(SipAuthInfo *record) {
  const plat::INT_PTR result = plat::DialogBoxParam(
      res::ProgramModule(), res::kDialogAuthentication, g_hwndMain,
      DialogProcPass, reinterpret_cast<plat::LPARAM>(record));
  // The typed values travel with their own record: a later request may
  // already have made another one.
  plat::PostMessage(g_hwndMain, plat::WM_USER, APP_AUTH_ENTERED,
                    result == 1 ? reinterpret_cast<plat::LPARAM>(record) : 0);
  g_asking = false;
}

} // namespace

void my_inv_recv(SipCore *, SipCallId call, const char *from) {
  plat::Trace(plat::TRACE_INVITE);
  char name[kCallerFieldSize];
  char ip[kCallerFieldSize];
  ParseCaller(from, name, ip);
  Name_call.Set(name);
  IP_call.Set(ip);
  plat::PostMessage(g_hwndMain, plat::WM_USER, APP_INCOMING_CALL, call);
}

void my_auth_info_requested(SipCore *, const char *realm,
                            const char *username) {
  WriteSipRealm(realm);
  if (g_asking.exchange(true))
    return;
  SipAuthInfo *record = NewAuthRecord(username, nullptr, realm);
  // Without a record there is nothing the typed values could go into.
  if (record == nullptr) {
    g_asking = false;
    return;
  }
  info = record;
  std::thread(AskForCredentials, record).detach();
}

void my_display_status(SipCore *, SipCallId call, const char *status) {
  if (status == nullptr || std::strcmp(status, kCallTerminated) != 0)
    return;
  plat::PostMessage(g_hwndMain, plat::WM_USER, APP_CALL_ENDED, call);
}

void my_display_message(SipCore *, SipCallId call, const char *msg) {
  auto failure = std::make_unique<t_CallFailure>();
  failure->call = call;
  std::snprintf(failure->text, sizeof failure->text, "%s", msg ? msg : "");
  if (plat::PostMessage(g_hwndMain, plat::WM_USER, APP_CALL_FAILED,
                        reinterpret_cast<plat::LPARAM>(failure.get())))
    failure.release(); // the window thread owns it now
}

void my_busy_recv(SipCore *, const char *from, std::int64_t when) {
  RecordBusyCaller(from, when);
}

void my_call_outcome(SipCore *, SipCallId call, SipOutcome outcome) {
  plat::PostMessage(g_hwndMain, plat::WM_USER, APP_CALL_OUTCOME,
                    CallOutcomeParam(call, outcome));
}
