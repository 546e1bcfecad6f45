// Closing: stop the window's activity, remove the icon, hand the SIP core
// over, free the skin and save the window's place and size.

#include "commands/settings_dialog.h"
#include "desktop/visitors_window.h"
#include "instance/identity.h"
#include "instance/protocol.h"
#include "instance/settings.h"
#include "instance/tray.h"
#include "notices/notices.h"
#include "platform/gdi.h"
#include "platform/message_space.h"
#include "shell/main.h"
#include "skin/skin.h"
#include "telephony/telephony.h"
#include "video/video.h"
#include "visits/visits.h"

using namespace plat;

namespace {

// How long closing waits for relay requests still on their way.
constexpr unsigned kRelayWaitMs = 2000;

} // namespace

void MyClose() {
  KillTimer(g_hwndMain, kReaderTimerId);
  ShowData.Kill_TCP = 1;
  ShowWindow(g_hwndMain, SW_HIDE);
  desktop::CloseVisitorsWindow();
  DeleteNotifyIcon();
  EndVolumeControl();
  // The account, a call still up, the SIP thread and the core; then the
  // other instances build their own, before this one goes on.
  if (TeardownCore())
    SendCode(HWND_BROADCAST, MSG_CORE_RELEASED, OwnHandle());

  // The reader and the relay threads paint with the skin's bitmaps: they
  // end (promptly, as they are told to stop) before the bitmaps go.
  EndReaderThread(MJPEG_Thread);
  if (StopRelayThreads(kRelayWaitMs))
    FreeSkin(Skin);
  // Nothing hands the record anything now: it writes what it holds.
  StopVisits();
  // A ring still told is over with the program; missed visitors stay.
  StopDoorNotices();

  RECT info;
  GetWindowRect(g_hwndMain, &info);
  WriteWindowPlace(info.left, info.top, ShowData.Size.load());
}
