// The message space that instances of one version share: registered
// messages and WM_COPYDATA sent or posted between processes, to one window
// or to all of them.
//
// A window joins a space by name; from then on it can be reached from every
// process of the same user that joined the same name. Handles travel in
// message parameters as handle values, the same number in every process.
// SendMessage and PostMessage (window.h) accept HWND_BROADCAST and the
// handles that HandleFromValue gives for windows of other processes.
//
// A send to another process waits for its answer; a window thread that waits
// still handles what is sent to its own window meanwhile, so exchanges nest
// across processes. A peer that does not answer within kSendTimeoutMs is
// given up (the send returns 0), so one stopped copy cannot freeze the rest.
//
// The transport: one Unix-domain socket per joined window in a folder of
// the user's private runtime folder named after the space; only processes
// of the same user are heard, and a frame that is malformed, too long or
// not a registered message or copy-data is dropped, as is a connection
// whose frame is not whole within a second. A peer that connects never
// makes the window thread wait.
#pragma once

#include <cstdint>

#include "platform/window.h"

namespace plat {

constexpr UINT WM_COPYDATA = 0x004A;

// Every window of the space, the sender's included.
inline const HWND HWND_BROADCAST = reinterpret_cast<HWND>(0xFFFF);

// The byte block of WM_COPYDATA (lParam points to it). Its bytes are the
// sender's; a receiver reads at most cbData of them, during the handler.
struct COPYDATASTRUCT {
  std::uintptr_t dwData;
  std::uint32_t cbData;
  const void *lpData;
};

// The longest byte block that travels between processes.
constexpr std::uint32_t kMaxCopyData = 4096;
constexpr int kSendTimeoutMs = 3000;

// Joins `window` (a window of this process, window thread) to the space
// `name`. Only one window per process joins; false when the private
// runtime folder or the window's socket cannot be made, and the process
// then runs alone: its broadcasts still reach `window`, nothing else.
bool JoinMessageSpace(HWND window, const char *name);
// Leaves the space: other processes no longer reach this process. Done at
// exit in any case.
void LeaveMessageSpace();

// The value that stands for `window` in a message parameter, the same in
// every process; 0 for null. Never 0, 1 or 0xFFFF for a window.
LPARAM HandleValue(HWND window);
// The window a handle value names: a window of this process, a handle for
// a window of another process of the space, or null.
HWND HandleFromValue(LPARAM value);

} // namespace plat
