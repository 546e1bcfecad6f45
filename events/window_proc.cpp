#include "events/window_proc.h"

#include "commands/commands.h"
#include "instance/identity.h"
#include "platform/gdi.h"
#include "resources/dialog_templates.h"
#include "skin/skin.h"
#include "telephony/telephony.h"
#include "video/video.h"

using namespace plat;

namespace {
void (*g_closeSequence)() = nullptr;
} // namespace

void SetCloseSequence(void (*close)()) { g_closeSequence = close; }

LRESULT WindowProcMain(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  // The registered message comes first: its number is only known at run
  // time. (Only the codes about this instance's own core are handled yet.)
  if (message == MESSAGE && MESSAGE != 0) {
    switch (wParam) {
    case MSG_CALL_ENDED:
      ShowData.lin_call = 0;
      if (IsWindowVisible(g_hwndMain))
        ShowMyWindow(g_hwndMain, ShowData);
      break;
    case MSG_START_CORE:
      StartCore();
      break;
    default:
      break;
    }
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
  case WM_GETMINMAXINFO:
    reinterpret_cast<MINMAXINFO *>(lParam)->ptMinTrackSize =
        SkinMinTrackSize(Skin);
    break;
  case WM_NCHITTEST:
    return MyNCHitTest(hwnd, message, wParam, lParam);
  case WM_TIMER:
    // Only the reader's timer, and only while the video is not connected.
    if (wParam != kReaderTimerId || ShowData.Kill_TCP != 1)
      break;
    EndReaderThread(MJPEG_Thread);
    MJPEG_Thread = StartReaderThread();
    break;
  case WM_MOUSEMOVE:
    ShowData.Button = MyMouseMove(wParam, lParam);
    break;
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
    if (wParam == APP_INCOMING_CALL) {
      hWnd_Accept = CreateDialogParam(res::ProgramModule(), res::kDialogAccept,
                                      g_hwndMain, DialogProcAccept, 0);
    } else if (wParam == APP_AUTH_ENTERED && lParam != 0) {
      if (SipCore *core = the_core)
        SipCoreAddAuthInfo(core, info);
    }
    break;
  case WM_TRAYICON:
    if (static_cast<UINT>(lParam) == WM_LBUTTONDOWN)
      PopupOnWindow(hwnd, PopupEvent::TrayClick);
    break;
  default:
    break;
  }
  // Every message but the hit test also gets the default processing; for
  // WM_CLOSE that destroys the window.
  return DefWindowProc(hwnd, message, wParam, lParam);
}
