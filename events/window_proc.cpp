#include "events/window_proc.h"

#include "shell/main.h"

using namespace plat;

LRESULT WindowProcMain(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
  case WM_DESTROY:
    PostQuitMessage(0);
    break;
  case WM_SIZE:
    ShowData.ClientWidth = static_cast<int>(LOWORD(lParam));
    ShowData.ClientHeight = static_cast<int>(HIWORD(lParam));
    // The frameless window is exactly as large as its client area.
    SetWindowPos(g_hwndMain, HWND_TOP, 0, 0, ShowData.ClientWidth,
                 ShowData.ClientHeight, SWP_NOMOVE);
    break;
  default:
    break;
  }
  // Every message but the hit test also gets the default processing; for
  // WM_CLOSE that destroys the window.
  return DefWindowProc(hwnd, message, wParam, lParam);
}
