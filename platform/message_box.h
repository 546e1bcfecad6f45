// Message boxes.
#pragma once

#include "platform/window.h"

namespace plat {

constexpr UINT MB_ICONHAND = 0x0010; // also MB_ICONERROR, MB_ICONSTOP
constexpr UINT MB_ICONQUESTION = 0x0020;
constexpr UINT MB_ICONEXCLAMATION = 0x0030; // also MB_ICONWARNING
constexpr UINT MB_ICONINFORMATION = 0x0040; // also MB_ICONASTERISK
constexpr UINT MB_ICONMASK = 0x00F0;
constexpr UINT MB_TASKMODAL = 0x2000;
constexpr int IDOK = 1;

// A modal box over `owner`, shown by the window thread; from another thread
// the caller waits until the user has closed it. Returns IDOK.
int MessageBox(HWND owner, const char *text, const char *caption, UINT type);
// The same box, shown by the window thread when it next runs its queue;
// returns at once, from any thread, so a worker never waits for the user.
void PostMessageBox(HWND owner, const char *text, const char *caption,
                    UINT type);

} // namespace plat
