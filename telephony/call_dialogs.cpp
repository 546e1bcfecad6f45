// The call dialogs: Accept rings until the user answers or declines,
// Terminate ends an answered call, Authentication asks for credentials.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "instance/identity.h"
#include "instance/protocol.h"
#include "instance/settings.h"
#include "platform/message_space.h"
#include "platform/report.h"
#include "platform/sound.h"
#include "platform/trace.h"
#include "resources/dialog_templates.h"
#include "resources/resources.h"
#include "sip/sip_core.h"
#include "telephony/telephony.h"

using namespace plat;

std::atomic<HDLG> hWnd_Accept{nullptr};
std::atomic<HDLG> hWnd_Terminate{nullptr};

namespace {

constexpr int kRingId = 103;
constexpr const char kRingFile[] = "ring.wav";

// The Authentication dialog while it is open, and the record it completes.
// Its procedure runs on the thread that holds it open.
std::atomic<HDLG> g_authDialog{nullptr};
SipAuthInfo *g_authRecord = nullptr;

void (*g_acceptPressed)(SipCallId) = nullptr;

void TellAcceptPressed(SipCallId call) {
  if (g_acceptPressed != nullptr)
    g_acceptPressed(call);
}

void SetIcon(HDLG dlg) { SetDialogClassIcon(dlg, res::ProgramIcon()); }

// The caller: its user part, or its address when it has none.
void SetCallerTitle(HDLG dlg) {
  char title[64];
  Name_call.CopyTo(title, sizeof title);
  if (title[0] == '\0')
    IP_call.CopyTo(title, sizeof title);
  SetWindowText(dlg, title);
}

// ring.wav is read here, whole and once a ring, without waiting on it: a
// FIFO under its name held the window thread for good. One that cannot be
// played rings the built-in ring instead of nothing.
void StartRing() {
  std::vector<std::uint8_t> ring;
  std::string why;
  if (ReadWaveFile(kRingFile, &ring, &why)) {
    PlaySoundBytes(ring.data(), ring.size(), SND_LOOP | SND_ASYNC);
    return;
  }
  if (!why.empty())
    Report("%s %s: using the built-in ring", kRingFile, why.c_str());
  PlaySound(MAKEINTRESOURCE(kRingId), res::ProgramModule(),
            SND_RESOURCE | SND_LOOP | SND_ASYNC);
}

} // namespace

void StopRing() { PlaySound(nullptr, nullptr, 0); }

void SetAcceptPressedHook(void (*hook)(SipCallId call)) {
  g_acceptPressed = hook;
}

INT_PTR DialogProcAccept(HDLG hwndDlg, UINT uMsg, WPARAM wParam, LPARAM) {
  SipCore *core = the_core;
  switch (uMsg) {
  case WM_INITDIALOG:
    SetIcon(hwndDlg);
    SetCallerTitle(hwndDlg);
    StartRing();
    // Shown now, without the keyboard: the next Return in whatever the user
    // is typing in would answer the door, the next Escape decline it.
    ShowWindow(hwndDlg, SW_SHOWNOACTIVATE);
    FlashWindow(hwndDlg, true);
    Trace(TRACE_RINGING);
    break;
  case WM_COMMAND:
    if (LOWORD(wParam) == IDOK) {
      Trace(TRACE_ACCEPTED);
      StopRing();
      // The call is answered when the first instance reports its door unit;
      // the replies answer this call and no other.
      CallRefs.answered = CallRefs.accept;
      PostCode(HWND_BROADCAST, MSG_REPORT_DOOR_ID, OwnHandle());
      EndDialog(hWnd_Terminate, 0); // left from a call that is over
      CallRefs.terminate = CallRefs.accept;
      hWnd_Terminate =
          CreateDialogParam(res::ProgramModule(), res::kDialogTerminate,
                            g_hwndMain, DialogProcTerm, 0);
      EndDialog(hwndDlg, 1);
      TellAcceptPressed(CallRefs.accept);
    } else if (LOWORD(wParam) == IDCANCEL) {
      // Declined: taken and ended at once, so the door unit does not ring on.
      Trace(TRACE_HANGUP);
      if (core != nullptr)
        SipCoreAcceptCall(core, CallRefs.accept);
      StopRing();
      if (core != nullptr)
        SipCoreTerminateCall(core, CallRefs.accept);
      Trace(TRACE_HUNG_UP);
      EndDialog(hwndDlg, 2);
      TellAcceptPressed(CallRefs.accept);
    }
    break;
  default:
    break;
  }
  return 0;
}

INT_PTR DialogProcTerm(HDLG hwndDlg, UINT uMsg, WPARAM wParam, LPARAM) {
  switch (uMsg) {
  case WM_INITDIALOG:
    SetIcon(hwndDlg);
    SetCallerTitle(hwndDlg);
    break;
  case WM_COMMAND:
    // No Cancel: closing the box or Escape leaves the call up.
    if (LOWORD(wParam) == IDOK) {
      Trace(TRACE_HANGUP);
      if (SipCore *core = the_core)
        SipCoreTerminateCall(core, CallRefs.terminate);
      Trace(TRACE_HUNG_UP);
      EndDialog(hwndDlg, 1);
    }
    break;
  default:
    break;
  }
  return 0;
}

INT_PTR DialogProcPass(HDLG hwndDlg, UINT uMsg, WPARAM wParam, LPARAM lParam) {
  switch (uMsg) {
  case WM_INITDIALOG: {
    g_authDialog = hwndDlg;
    g_authRecord = reinterpret_cast<SipAuthInfo *>(lParam);
    // Asked for by a core that closed before the dialog could open.
    if (the_core.load() == nullptr) {
      g_authDialog = nullptr;
      EndDialog(hwndDlg, 2);
      break;
    }
    SetIcon(hwndDlg);
    char id[64];
    char pass[64];
    {
      std::lock_guard lock(SipAccountMutex);
      std::snprintf(id, sizeof id, "%s", SIP_id);
      std::snprintf(pass, sizeof pass, "%s", SIP_pass);
    }
    SendDlgItemMessage(hwndDlg, res::kFieldUserName, EM_REPLACESEL, 0,
                       reinterpret_cast<LPARAM>(id));
    SendDlgItemMessage(hwndDlg, res::kFieldPassword, EM_REPLACESEL, 0,
                       reinterpret_cast<LPARAM>(pass));
    break;
  }
  case WM_COMMAND:
    if (LOWORD(wParam) == IDOK) {
      char text[64];
      GetDlgItemText(hwndDlg, res::kFieldPassword, text, sizeof text);
      SipAuthInfoSetPasswd(g_authRecord, text);
      GetDlgItemText(hwndDlg, res::kFieldUserName, text, sizeof text);
      SipAuthInfoSetUsername(g_authRecord, text);
      g_authDialog = nullptr;
      EndDialog(hwndDlg, 1);
    } else if (LOWORD(wParam) == IDCANCEL) {
      if (SipCore *core = the_core)
        SipCoreAbortAuthentication(core, g_authRecord);
      g_authDialog = nullptr;
      EndDialog(hwndDlg, 2);
    }
    break;
  default:
    break;
  }
  return 0;
}

void CloseAuthenticationDialog() {
  if (HDLG dlg = g_authDialog.exchange(nullptr))
    EndDialog(dlg, 2);
}
