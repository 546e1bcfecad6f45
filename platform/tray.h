// The notification-area (tray) icon.
#pragma once

#include "platform/window.h"

namespace plat {

constexpr UINT NIM_ADD = 0;
constexpr UINT NIM_MODIFY = 1;
constexpr UINT NIM_DELETE = 2;
constexpr UINT NIF_MESSAGE = 1;
constexpr UINT NIF_ICON = 2;
constexpr UINT NIF_TIP = 4;

struct NOTIFYICONDATA {
  unsigned cbSize;
  HWND hWnd;
  UINT uID;
  UINT uFlags;
  UINT uCallbackMessage;
  HICON hIcon;
  char szTip[64];
};

// Adds, changes or removes the icon of (hWnd, uID). A press on the icon
// posts uCallbackMessage to hWnd with wParam = uID and lParam = the mouse
// message (WM_LBUTTONDOWN and WM_LBUTTONUP for a click, WM_LBUTTONDBLCLK
// for a double click, WM_RBUTTONDOWN and WM_RBUTTONUP for the menu button).
// Callable from any thread. Where the desktop has no tray yet, the icon is
// kept and appears when a tray does.
bool Shell_NotifyIcon(UINT operation, const NOTIFYICONDATA *data);

// Whether the desktop has a tray that shows icons now. Window thread.
bool TrayAvailable();

// `base` with a red disc at its top right bearing `count` ("9+" above 9),
// the mark of things waiting for the user; made once for each count and
// kept for the life of the process. Null when `base` is; `base` itself for
// a count below 1. Window thread.
HICON MarkedIcon(HICON base, int count);

} // namespace plat
