// Pop-up (context) menus, as the window's right button and the tray icon's
// open them.
#pragma once

#include <cstdint>

#include "platform/window.h"

namespace plat {

struct Menu;
using HMENU = Menu *;

constexpr UINT MF_STRING = 0x0000;
constexpr UINT MF_SEPARATOR = 0x0800;

HMENU CreatePopupMenu();
// Adds an item that sends `id` (MF_STRING, `text` shown as plain text), or
// a separator line.
bool AppendMenu(HMENU menu, UINT flags, std::uintptr_t id, const char *text);
bool DestroyMenu(HMENU menu);
// Opens a copy of the menu at the screen point (x, y) and returns at once
// (unlike Windows, whose call waits): the window thread goes on serving
// the live picture and the other copies while it is open. The item chosen
// comes to `hwnd` as a posted WM_COMMAND with wParam = its id; nothing
// comes when the menu is closed without a choice. Window thread only.
bool TrackPopupMenu(HMENU menu, int x, int y, HWND hwnd);
// Where the pointer is, in screen coordinates. Window thread only.
bool GetCursorPos(POINT *point);

} // namespace plat
