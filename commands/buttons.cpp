// What the buttons do when the left mouse button is released over them.
#include "commands/commands.h"

#include <cstdio>
#include <cstring>

#include "commands/settings_dialog.h"
#include "instance/identity.h"
#include "instance/protocol.h"
#include "instance/settings.h"
#include "platform/dialog_box.h"
#include "platform/gdi.h"
#include "platform/message_space.h"
#include "platform/trace.h"
#include "platform/window.h"
#include "resources/dialog_templates.h"
#include "skin/skin.h"
#include "telephony/caller.h"
#include "telephony/telephony.h"
#include "video/video.h"

using namespace plat;

char CallToDoorPhone[kCallTargetSize];

namespace {

// Draws the bitmap of element `face` at the place of element `place`,
// straight onto the window.
void DrawFaceAt(int face, int place) {
  const t_Skin &f = Skin[face];
  const t_Skin &p = Skin[place];
  if (f.ShBitmap == nullptr)
    return;
  HDC hdc = GetDC(g_hwndMain);
  BitBlt(hdc, p.PosY, p.PosX, BitmapWidth(f.ShBitmap), BitmapHeight(f.ShBitmap),
         f.ShBitmap, 0, 0);
  ReleaseDC(g_hwndMain, hdc);
}

// The door unit's address for the core owner to dial: with a SIP server
// the prefix and the door unit's SIP identity as they are, else the door
// unit's own host (a port in IP_addr is its web server's).
void FillCallTarget() {
  static_assert(sizeof CallToDoorPhone == kSipIdentitySize);
  if (UseSIP) {
    FormSipDoorId(CallToDoorPhone);
  } else {
    std::memset(CallToDoorPhone, ' ', sizeof CallToDoorPhone);
    char ip[64];
    IP_addr.CopyTo(ip, sizeof ip);
    char host[kCallerFieldSize];
    DoorHost(ip, host);
    std::snprintf(CallToDoorPhone, sizeof CallToDoorPhone, "sip:%s", host);
  }
}

// The call key: the core owner places the call and says how it goes; a
// call that cannot be placed says why at once.
void Dial() {
  if (UseSIP && SIP_id_doorphone[0] == '\0') {
    ShowCallNote("Temp. identity is empty");
    return;
  }
  FillCallTarget();
  ShowCalling();
  // The core owner asks back for the target and places the call, or says
  // why not, before this send returns.
  SendCode(HWND_BROADCAST, MSG_DIAL_REQUEST, OwnHandle());
  if (CallProgressHeard())
    return;
  // Nobody answered: no copy holds a SIP core.
  char note[48];
  if (const int port = TakenSipPort())
    std::snprintf(note, sizeof note, "SIP port %d is taken", port);
  else
    std::snprintf(note, sizeof note, "SIP did not start");
  ShowCallNote(note);
}

} // namespace

void MyLButtonUp(int But) {
  switch (But) {
  case BTN_RELAY1:
    StartRelayThread(1);
    DrawFaceAt(SKIN_B1_OVER, SKIN_B1_UP);
    break;
  case BTN_RELAY2:
    StartRelayThread(2);
    DrawFaceAt(SKIN_B2_OVER, SKIN_B2_UP);
    break;
  case BTN_SETTINGS:
    DialogBoxParam(res::ProgramModule(), res::kDialogSettings, g_hwndMain,
                   DialogProc, 0);
    // OK or Cancel alike: the window shows the new state, and the reader's
    // timer, stopped while the dialog was open, runs again.
    ShowMyWindow(g_hwndMain, ShowData);
    SetTimer(g_hwndMain, kReaderTimerId, kReaderTimerMs);
    break;
  case BTN_HIDE:
    // Hidden during a ring: no pop-up again until this ring ends.
    PopupOnWindow(g_hwndMain, PopupEvent::HideButton);
    break;
  case BTN_CLOSE:
    SendMessage(g_hwndMain, WM_CLOSE, 0, 0);
    break;
  case BTN_CALL:
    Trace(TRACE_DIAL);
    Dial();
    break;
  case BTN_HANGUP:
    if (ShowData.lin_call)
      SendCode(HWND_BROADCAST, MSG_HANG_UP, OwnHandle());
    DrawFaceAt(SKIN_B4_OVER, SKIN_B4_OVER);
    ShowMyWindow(g_hwndMain, ShowData);
    break;
  default:
    break;
  }
}
