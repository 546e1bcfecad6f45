// Windows, messages, timers and the message loop: the few window-system
// operations the program is written against, with the effects it relies on.
//
// Every function here may be called from any thread unless it says
// otherwise. Only the window thread (the thread that called Initialize)
// touches the real window; calls from other threads are handed to it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace plat {

struct Window;
using HWND = Window *;
using UINT = std::uint32_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;
using BOOL = int;
using WNDPROC = LRESULT (*)(HWND, UINT, WPARAM, LPARAM);

// Message numbers keep their Windows values so that handlers, tests and
// traces read the same everywhere.
constexpr UINT WM_DESTROY = 0x0002;
constexpr UINT WM_SIZE = 0x0005;
constexpr UINT WM_PAINT = 0x000F;
constexpr UINT WM_CLOSE = 0x0010;
// Sent (wParam 1) when the desktop shows a window that the program had
// hidden, such as one minimized for want of a tray and brought back from the
// task bar; the window is visible again and a WM_PAINT follows. Not sent for
// the program's own ShowWindow.
constexpr UINT WM_SHOWWINDOW = 0x0018;
constexpr UINT WM_GETMINMAXINFO = 0x0024;
// Asks the window procedure for a tooltip's text (lParam an NMTTDISPINFO,
// code TTN_GETDISPINFO): when the pointer has rested on the client area
// for the desktop's tooltip delay, and again as it moves while the tooltip
// shows. The procedure writes plain text into szText, or leaves it empty
// for no tooltip there; a tooltip whose text changes shows the new one, or
// goes.
constexpr UINT WM_NOTIFY = 0x004E;
constexpr UINT WM_NCHITTEST = 0x0084;
constexpr UINT WM_TIMER = 0x0113;
constexpr UINT WM_MOUSEMOVE = 0x0200;
constexpr UINT WM_LBUTTONDOWN = 0x0201;
constexpr UINT WM_LBUTTONUP = 0x0202;
constexpr UINT WM_LBUTTONDBLCLK = 0x0203;
constexpr UINT WM_RBUTTONDOWN = 0x0204;
constexpr UINT WM_RBUTTONUP = 0x0205;
constexpr UINT WM_USER = 0x0400;
constexpr UINT WM_APP = 0x8000;

// Answers to WM_NCHITTEST.
constexpr LRESULT HTNOWHERE = 0;
constexpr LRESULT HTCLIENT = 1;
constexpr LRESULT HTCAPTION = 2;
constexpr LRESULT HTBOTTOMRIGHT = 17;

// ShowWindow commands. SW_SHOWNOACTIVATE shows the window (restored when
// minimized) without taking the keyboard from the window that has it, as
// for something the user did not ask for; a click gives it the keyboard.
constexpr int SW_HIDE = 0;
constexpr int SW_SHOWNOACTIVATE = 4;
constexpr int SW_SHOW = 5;
constexpr int SW_RESTORE = 9;

// SetWindowPos flags and z-order targets.
constexpr UINT SWP_NOSIZE = 0x0001;
constexpr UINT SWP_NOMOVE = 0x0002;
constexpr UINT SWP_NOZORDER = 0x0004;
inline const HWND HWND_TOP = nullptr;
inline const HWND HWND_TOPMOST = reinterpret_cast<HWND>(-1);

// Window styles: the program only makes borderless pop-up windows.
constexpr std::uint32_t WS_POPUP = 0x80000000u;

struct POINT {
  int x;
  int y;
};

// WM_NOTIFY's header and the tooltip's request.
struct NMHDR {
  HWND hwndFrom;
  UINT code;
};
constexpr UINT TTN_GETDISPINFO = static_cast<UINT>(-520);
struct NMTTDISPINFO {
  NMHDR hdr;
  char szText[80];
};

struct RECT {
  int left;
  int top;
  int right;
  int bottom;
};

struct MINMAXINFO {
  POINT ptReserved;
  POINT ptMaxSize;
  POINT ptMaxPosition;
  POINT ptMinTrackSize;
  POINT ptMaxTrackSize;
};

inline LPARAM MAKELPARAM(int low, int high) {
  return static_cast<LPARAM>(static_cast<std::uint32_t>(
      (static_cast<std::uint32_t>(low) & 0xFFFFu) |
      ((static_cast<std::uint32_t>(high) & 0xFFFFu) << 16)));
}
inline unsigned LOWORD(std::uintptr_t v) { return v & 0xFFFFu; }
inline unsigned HIWORD(std::uintptr_t v) { return (v >> 16) & 0xFFFFu; }
// Pointer coordinates are signed: screen positions left of or above the
// primary screen are negative.
inline int GET_X_LPARAM(LPARAM lp) {
  return static_cast<std::int16_t>(LOWORD(static_cast<std::uintptr_t>(lp)));
}
inline int GET_Y_LPARAM(LPARAM lp) {
  return static_cast<std::int16_t>(HIWORD(static_cast<std::uintptr_t>(lp)));
}

struct Icon;
using HICON = Icon *;
// An icon made of images of several sizes (PNG or BMP bytes each).
struct IconImage {
  const unsigned char *data;
  std::size_t size;
};
HICON CreateIconFromImages(const IconImage *images, std::size_t count);

struct WindowClass {
  const char *name = nullptr;
  UINT style = 0;
  WNDPROC proc = nullptr;
  HICON icon = nullptr;
  HICON smallIcon = nullptr;
  std::uint32_t background = 0x000000; // COLORREF of the background brush
};

// Starts the window system on the calling thread, which becomes the window
// thread. Returns false where no display can be opened; windows cannot be
// created then.
bool Initialize();
bool IsWindowThread();

bool RegisterClass(const WindowClass &wc);
// The small icon of a registered class, or null (the tray takes it).
HICON GetClassSmallIcon(const char *className);
// Window thread only. Null when the class is unknown or no window can be
// made.
HWND CreateWindow(const char *className, const char *title, std::uint32_t style,
                  int x, int y, int width, int height);
bool DestroyWindow(HWND hwnd);
bool IsWindow(HWND hwnd);

LRESULT DefWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
// Synchronous: from another thread it waits until the window thread has
// handled the message. Returns 0 once the window or the loop is gone.
LRESULT SendMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
// Queued behind the messages already posted to the window thread.
bool PostMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
UINT RegisterWindowMessage(const char *name);
// Runs `task` on the window thread, queued behind what is waiting there
// (also when called on it). What a worker hands to a window goes this way.
void PostToWindowThread(std::function<void()> task);

// Window thread only. Runs until PostQuitMessage; returns its code.
int RunMessageLoop();
void PostQuitMessage(int exitCode);

// WM_TIMER with wParam = id every `ms` milliseconds until killed. Setting a
// running timer again restarts it.
bool SetTimer(HWND hwnd, std::uintptr_t id, unsigned ms);
bool KillTimer(HWND hwnd, std::uintptr_t id);

// The visible state changes at once for every thread; the real window
// follows on the window thread. Whether it takes the keyboard is settled by
// the command that shows a hidden window; a show of a shown window changes
// nothing. A window that stays on top (HWND_TOPMOST) is shown on every
// workspace of the desktop.
bool ShowWindow(HWND hwnd, int cmd);
bool IsWindowVisible(HWND hwnd);
bool SetWindowPos(HWND hwnd, HWND insertAfter, int x, int y, int cx, int cy,
                  UINT flags);
bool GetWindowRect(HWND hwnd, RECT *rect);
bool SetWindowText(HWND hwnd, const char *text);
std::string GetWindowText(HWND hwnd);
bool SetForegroundWindow(HWND hwnd);
// Asks the desktop to draw the user's attention to the window (its urgency
// mark, a flashing task bar entry) until the user activates it or it is
// hidden; with `invert` false, no longer.
bool FlashWindow(HWND hwnd, BOOL invert);
// The window's shape: a rectangle from (0,0) to (right,bottom) with corners
// rounded by ellipses of the given size.
bool SetWindowRoundRegion(HWND hwnd, int right, int bottom, int ellipseWidth,
                          int ellipseHeight);
// Asks for a WM_PAINT, handled on the window thread when it is idle.
bool InvalidateRect(HWND hwnd);
// A tooltip of the window that shows asks for its text again at once
// (TTM_UPDATE): what lies under the pointer changed without a move.
void UpdateToolTip(HWND hwnd);
// Brings the real window up to date and handles a pending WM_PAINT now
// (window thread), or soon (other threads).
bool UpdateWindow(HWND hwnd);

// How the user can see the window now: not shown, minimized, on another
// workspace than the current one, more than half covered by other
// programs' windows above it, or in view. Window thread.
enum class WindowView { Hidden, Minimized, OtherWorkspace, Covered, InView };
WindowView ViewOfWindow(HWND hwnd);

// The area that windows may use on every screen (the whole screen less
// panels and docks), the primary screen first; empty without a display.
// Window thread only.
std::vector<RECT> ScreenWorkAreas();

void Beep(unsigned frequency, unsigned milliseconds);

// A termination request from the system (SIGTERM, SIGINT, SIGHUP) becomes a
// WM_CLOSE posted to this window.
void CloseOnTerminationSignals(HWND hwnd);

} // namespace plat
