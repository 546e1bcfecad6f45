// What the core reports, on the SIP thread: an incoming call, a request for
// credentials, the end of a call and a failed one.
#include <cstring>

#include "instance/identity.h"
#include "instance/settings.h"
#include "platform/dialogs.h"
#include "platform/message_space.h"
#include "platform/profile.h"
#include "platform/trace.h"
#include "resources/dialog_templates.h"
#include "telephony/caller.h"
#include "telephony/telephony.h"

SharedText<64> Name_call;
SharedText<64> IP_call;

namespace {

constexpr const char kCallTerminated[] = "Call terminated.";

// Every instance leaves the in-call state.
void BroadcastCallEnded() {
  plat::SendMessage(plat::HWND_BROADCAST, MESSAGE, MSG_CALL_ENDED, 0);
}

} // namespace

void my_inv_recv(SipCore *, const char *from) {
  plat::Trace(plat::TRACE_INVITE);
  char name[kCallerFieldSize];
  char ip[kCallerFieldSize];
  ParseCaller(from, name, ip);
  Name_call.Set(name);
  IP_call.Set(ip);
  plat::PostMessage(g_hwndMain, plat::WM_USER, APP_INCOMING_CALL, 0);
}

void my_auth_info_requested(SipCore *, const char *realm,
                            const char *username) {
  {
    std::lock_guard lock(SipAccountMutex);
    std::snprintf(SIP_realm, sizeof SIP_realm, "%s", realm ? realm : "");
    plat::WritePrivateProfileString("SIP", "SIP_realm", SIP_realm, ini_file);
  }
  info = NewAuthRecord(username, nullptr, realm);
  // The SIP thread, and all SIP traffic with it, waits for the user.
  const plat::INT_PTR result =
      plat::DialogBoxParam(res::ProgramModule(), res::kDialogAuthentication,
                           g_hwndMain, DialogProcPass, 0);
  plat::PostMessage(g_hwndMain, plat::WM_USER, APP_AUTH_ENTERED,
                    result == 1 ? 1 : 0);
}

void my_display_status(SipCore *, const char *status) {
  if (status == nullptr || std::strcmp(status, kCallTerminated) != 0)
    return;
  BroadcastCallEnded();
  plat::EndDialog(hWnd_Terminate, 0);
  plat::EndDialog(hWnd_Accept, 0);
  StopRing();
}

void my_display_message(SipCore *, const char *msg) {
  char text[50];
  std::snprintf(text, sizeof text, "%s", msg ? msg : "");
  plat::MessageBox(g_hwndMain, text, "Error",
                   plat::MB_ICONINFORMATION | plat::MB_TASKMODAL);
  BroadcastCallEnded();
}
