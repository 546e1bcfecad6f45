// What tests read of the platform layer beyond what the program itself
// uses: the real widget, what the window shows, and state that Windows
// keeps to itself. Defined in platform/; for tests only.
#pragma once

#include <QWidget>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/dialog_box.h"
#include "platform/gdi.h"
#include "platform/window.h"

namespace plat {

// What the program never does itself: fill a rectangle with a colour, and
// dialog units to pixels for a dialog's font (MapDialogRect).
void FillRect(HDC hdc, const RECT &rect, COLORREF color);
bool MapDialogRect(HDLG dlg, RECT *rect);

// The real window of a handle (window thread only); null once destroyed.
QWidget *WidgetOf(HWND w);

// A copy of the window's surface as 0x00RRGGBB values, row by row; what the
// window shows. Empty when the window is gone.
struct SurfaceCopy {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> pixels;
  std::uint32_t at(int x, int y) const {
    return pixels[static_cast<std::size_t>(y) * width + x];
  }
};
SurfaceCopy CopySurface(HWND hwnd);

// Whether the timer `id` of the window runs (set and not killed).
bool IsTimerSet(HWND hwnd, std::uintptr_t id);
// Whether the window was put on top of all others (HWND_TOPMOST).
bool IsTopmost(HWND hwnd);
// Whether the client point (x, y) lies inside the window's shape.
bool WindowRegionContains(HWND hwnd, int x, int y);

// How many beeps this process has made.
unsigned BeepCount();

// The tip the icon shows now, or empty when there is no such icon.
std::string TrayTip(HWND hwnd, UINT id);
// The text the icon's tooltip shows now, as a viewer renders it (UTF-8;
// an image shows as U+FFFC); empty when the icon is not made yet. Window
// thread.
std::string TrayTipShown(HWND hwnd, UINT id);

// The text of the tooltip that shows now, as it reads on the screen; empty
// when none shows. Window thread.
std::string ToolTipShown();

// The real dialog, and its controls in template order (window thread);
// null once the dialog is closed.
QWidget *DialogWidgetOf(HDLG dlg);
QWidget *DialogControlAt(HDLG dlg, std::size_t index);

// How many sounds are still playing or closing their stream.
int SoundThreadsRunning();

} // namespace plat
