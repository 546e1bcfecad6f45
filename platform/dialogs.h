// Message boxes.
#pragma once

#include "platform/window.h"

namespace plat {

constexpr UINT MB_ICONHAND = 0x0010;
constexpr UINT MB_TASKMODAL = 0x2000;
constexpr int IDOK = 1;

// A modal box over `owner` (window thread). Returns IDOK.
int MessageBox(HWND owner, const char *text, const char *caption, UINT type);
// The same box, shown by the window thread when it next runs its queue;
// returns at once, from any thread, so a worker never waits for the user.
void PostMessageBox(HWND owner, const char *text, const char *caption,
                    UINT type);

} // namespace plat
