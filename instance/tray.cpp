// The tray icon: added at start-up, its tip following the door unit's
// title, removed at shutdown.
#include "instance/tray.h"

#include <cstring>
#include <mutex>

#include "instance/identity.h"
#include "platform/message_box.h"
#include "platform/tray.h"

using namespace plat;

namespace {

NOTIFYICONDATA nid;

constexpr unsigned kNidSize = 88;
constexpr UINT kIconId = 1;
constexpr UINT kNidFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;

// The record is written by the window thread (add, delete) and the video
// reader (tip); one at a time.
std::mutex g_nidMutex;

void CopyTip(const char *text) {
  const std::size_t n = strnlen(text, sizeof nid.szTip - 1);
  std::memcpy(nid.szTip, text, n);
  nid.szTip[n] = '\0';
}

} // namespace

int AddNotifyIcon() {
  bool added;
  {
    std::lock_guard lock(g_nidMutex);
    std::memset(&nid, 0, sizeof nid);
    nid.cbSize = kNidSize;
    nid.hWnd = g_hwndMain;
    nid.hIcon = GetClassSmallIcon(kClassName);
    if (nid.hIcon == nullptr)
      return 0;
    CopyTip(kAppTitle);
    nid.uID = kIconId;
    nid.uCallbackMessage = WM_TRAYICON;
    nid.uFlags = kNidFlags;
    added = Shell_NotifyIcon(NIM_ADD, &nid);
  }
  if (!added) {
    MessageBox(g_hwndMain, "Try icon load error", "Error",
               MB_ICONHAND | MB_TASKMODAL);
    return 0;
  }
  return 1;
}

int DeleteNotifyIcon() {
  bool deleted;
  {
    std::lock_guard lock(g_nidMutex);
    std::memset(&nid, 0, sizeof nid);
    nid.cbSize = kNidSize;
    nid.hWnd = g_hwndMain;
    nid.uID = kIconId;
    deleted = Shell_NotifyIcon(NIM_DELETE, &nid);
  }
  if (!deleted) {
    MessageBox(g_hwndMain, "Try icon unload error", "Error",
               MB_ICONHAND | MB_TASKMODAL);
    return 0;
  }
  return 1;
}

void SetTrayTip(const char *text) {
  std::lock_guard lock(g_nidMutex);
  CopyTip(text);
  Shell_NotifyIcon(NIM_MODIFY, &nid);
}
