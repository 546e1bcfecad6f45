#include "events/window_proc.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "commands/commands.h"
#include "instance/identity.h"
#include "instance/protocol.h"
#include "instance/settings.h"
#include "instance/tray.h"
#include "notices/notices.h"
#include "platform/dialog_box.h"
#include "platform/gdi.h"
#include "platform/menu.h"
#include "platform/message_space.h"
#include "platform/trace.h"
#include "resources/dialog_templates.h"
#include "skin/skin.h"
#include "telephony/caller.h"
#include "telephony/telephony.h"
#include "video/video.h"
#include "visits/visits.h"

using namespace plat;

namespace {
void (*g_closeSequence)() = nullptr;
void (*g_visitorsOpener)() = nullptr;

// The context menu's items: the window's buttons and the Visitors window.
enum : std::uintptr_t {
  kMenuShowHide = 1,
  kMenuVisitors,
  kMenuSettings,
  kMenuQuit
};

// The one context menu, for the window's right button and the tray icon's,
// at the pointer.
void ShowContextMenu(HWND hwnd) {
  POINT at;
  if (!GetCursorPos(&at))
    return;
  HMENU menu = CreatePopupMenu();
  AppendMenu(menu, MF_STRING, kMenuShowHide,
             IsWindowVisible(hwnd) ? "Hide" : "Show");
  AppendMenu(menu, MF_STRING, kMenuVisitors, "Visitors\u2026");
  AppendMenu(menu, MF_STRING, kMenuSettings, "Settings\u2026");
  AppendMenu(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenu(menu, MF_STRING, kMenuQuit, "Quit");
  TrackPopupMenu(menu, at.x, at.y, hwnd);
  DestroyMenu(menu);
}

// A choice from the menu does what the window's button or the tray's click
// does.
void RunMenuCommand(HWND hwnd, WPARAM id) {
  switch (id) {
  case kMenuShowHide:
    if (IsWindowVisible(hwnd))
      MyLButtonUp(BTN_HIDE);
    else
      PopupOnWindow(hwnd, PopupEvent::TrayClick);
    break;
  case kMenuVisitors:
    if (g_visitorsOpener != nullptr)
      g_visitorsOpener();
    break;
  case kMenuSettings:
    MyLButtonUp(BTN_SETTINGS);
    break;
  case kMenuQuit:
    MyLButtonUp(BTN_CLOSE);
    break;
  default:
    break;
  }
}

// MSG_SEND_CALL_TARGET: the address this copy wants dialled, whole.
void SendCallTarget(HWND coreOwner) {
  SendBlock(coreOwner, COPYDATA_CALL_TARGET, CallToDoorPhone,
            sizeof CallToDoorPhone);
}

// MSG_CORE_RELEASED: every copy but the one that let its core go makes one.
void TakeOverCore(HWND releaser) {
  if (releaser != g_hwndMain)
    SendCode(g_hwndMain, MSG_START_CORE, OwnHandle());
}

// The registered message's codes: what every copy does, and (in
// telephony) what only the core owner does. Code 1 and codes above 12 do
// nothing.
void HandleProtocol(WPARAM code, LPARAM lParam) {
  const HWND from = HandleFromValue(lParam);
  switch (code) {
  case MSG_REPORT_DOOR_ID:
    ReportDoorId(from);
    break;
  case MSG_SHOW_WINDOW:
    ShowMyWindow(g_hwndMain, ShowData);
    break;
  case MSG_SET_IN_CALL:
    SetLinCall(lParam != 0);
    VisitInCall(lParam != 0); // a ring that gets this far was answered
    NoticeInCall(lParam != 0);
    break;
  case MSG_HANG_UP:
    HangUpReportedCall();
    break;
  case MSG_DIAL_REQUEST:
    AskForCallTarget(from);
    break;
  case MSG_SEND_CALL_TARGET:
    SendCallTarget(from);
    break;
  case MSG_RELOAD_SIP_SETTINGS:
    ReloadIfCoreOwner();
    break;
  case MSG_CORE_RELEASED:
    TakeOverCore(from);
    break;
  case MSG_CALL_ENDED:
    SetLinCall(false);
    VisitInCall(false);
    break;
  case MSG_START_CORE:
    StartCoreOnce();
    break;
  case MSG_REG_STATE:
    AnswerRegistrationQuery(lParam);
    break;
  case MSG_CALL_PROGRESS:
    ShowCallProgress(lParam);
    break;
  default:
    break;
  }
}

// The blocks the core owner asked for, and the core owner's answer to a
// registration query.
void HandleCopyData(WPARAM wParam, const COPYDATASTRUCT *block) {
  if (block == nullptr)
    return;
  const HWND sender = HandleFromValue(static_cast<LPARAM>(wParam));
  if (block->dwData == COPYDATA_DOOR_ID)
    AnswerAndMatch(sender, *block);
  else if (block->dwData == COPYDATA_CALL_TARGET)
    PlaceCall(sender, *block);
  else if (block->dwData == COPYDATA_REG_REASON)
    KeepRegistrationReason(*block);
}

} // namespace

void SetCloseSequence(void (*close)()) { g_closeSequence = close; }

void SetVisitorsOpener(void (*open)()) { g_visitorsOpener = open; }

LRESULT WindowProcMain(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  // The registered message comes first: its number is only known at run
  // time.
  if (message == MESSAGE && MESSAGE != 0) {
    HandleProtocol(wParam, lParam);
    return DefWindowProc(hwnd, message, wParam, lParam);
  }
  switch (message) {
  case WM_DESTROY:
    PostQuitMessage(0);
    break;
  case WM_SIZE: {
    const t_ClientSize size{static_cast<int>(LOWORD(lParam)),
                            static_cast<int>(HIWORD(lParam))};
    ShowData.Size.store(size);
    // The frameless window is exactly as large as its client area.
    SetWindowPos(g_hwndMain, HWND_TOP, 0, 0, size.width, size.height,
                 SWP_NOMOVE);
    SkinBitmapPos(Skin, size.height, size.width);
    break;
  }
  case WM_PAINT: {
    // The paint context only validates here: ShowMyWindow takes its own,
    // and a surface cannot be held twice by one thread.
    HDC hdc = BeginPaint(g_hwndMain);
    EndPaint(g_hwndMain, hdc);
    ShowMyWindow(g_hwndMain, ShowData);
    break;
  }
  case WM_CLOSE:
    if (g_closeSequence != nullptr)
      g_closeSequence();
    break;
  case WM_COPYDATA:
    HandleCopyData(wParam, reinterpret_cast<const COPYDATASTRUCT *>(lParam));
    break;
  case WM_GETMINMAXINFO:
    reinterpret_cast<MINMAXINFO *>(lParam)->ptMinTrackSize =
        SkinMinTrackSize(Skin);
    break;
  case WM_NCHITTEST:
    return MyNCHitTest(hwnd, message, wParam, lParam);
  case WM_TIMER:
    if (wParam == kCallLineTimerId) {
      CallLineTick();
      break;
    }
    // Otherwise only the reader's timer, and only while the video is not
    // connected.
    if (wParam != kReaderTimerId || ShowData.Kill_TCP != 1)
      break;
    EndReaderThread(MJPEG_Thread);
    MJPEG_Thread = StartReaderThread();
    break;
  case WM_MOUSEMOVE:
    ShowData.Button = MyMouseMove(wParam, lParam);
    break;
  case WM_NOTIFY: {
    auto *tip = reinterpret_cast<NMTTDISPINFO *>(lParam);
    if (tip != nullptr && tip->hdr.code == TTN_GETDISPINFO)
      ButtonToolTip(*tip);
    break;
  }
  case WM_LBUTTONDOWN:
    MyLButtonDown(ShowData.Button);
    break;
  case WM_LBUTTONUP:
    MyLButtonUp(ShowData.Button);
    break;
  case WM_SHOWWINDOW:
    // Brought back from the task bar: the same bookkeeping as a show from
    // the tray, the paint that follows with no button lit.
    if (wParam != 0)
      PopupOnWindow(hwnd, PopupEvent::BroughtBack);
    break;
  case WM_USER:
    OnSipNotification(wParam, lParam);
    break;
  case WM_RBUTTONUP:
    ShowContextMenu(hwnd);
    break;
  case WM_COMMAND:
    RunMenuCommand(hwnd, wParam);
    break;
  case WM_DOOR_NOTICE:
    OnDoorNoticeMessage(wParam, lParam);
    break;
  case WM_TRAYICON:
    if (static_cast<UINT>(lParam) == WM_LBUTTONDOWN)
      PopupOnWindow(hwnd, PopupEvent::TrayClick);
    else if (static_cast<UINT>(lParam) == WM_RBUTTONUP)
      ShowContextMenu(hwnd);
    break;
  case WM_MISSED_VISITORS:
    SetMissedVisitors(static_cast<int>(wParam));
    break;
  default:
    break;
  }
  // Every message but the hit test also gets the default processing; for
  // WM_CLOSE that destroys the window.
  return DefWindowProc(hwnd, message, wParam, lParam);
}
