// The tray icon: added at start-up, its tip following the door unit's
// title, removed at shutdown.
#include "instance/tray.h"

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>

#include "instance/identity.h"
#include "platform/message_box.h"
#include "platform/tray.h"

using namespace plat;

namespace {

NOTIFYICONDATA nid;

constexpr unsigned kNidSize = 88;
constexpr UINT kIconId = 1;
constexpr UINT kNidFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;

// The record is written by the window thread (add, delete, the count)
// and the video reader (tip); one at a time. So are the title and count
// the tip is made of.
std::mutex g_nidMutex;
std::string g_tipTitle = kAppTitle;
int g_missed = 0;
HICON g_plainIcon = nullptr;
// Whether the window's title carries the count (no tray to show it).
std::atomic<bool> g_titleCounts{false};

void CopyTip(const char *text) {
  const std::string missed = MissedVisitorsText(g_missed);
  const std::string tip =
      missed.empty() ? std::string(text) : missed + "\n" + std::string(text);
  const std::size_t n = strnlen(tip.c_str(), sizeof nid.szTip - 1);
  std::memcpy(nid.szTip, tip.c_str(), n);
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
    g_plainIcon = GetClassSmallIcon(kClassName);
    nid.hIcon = MarkedIcon(g_plainIcon, g_missed);
    if (nid.hIcon == nullptr)
      return 0;
    CopyTip(g_tipTitle.c_str());
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
  g_tipTitle = text;
  CopyTip(text);
  Shell_NotifyIcon(NIM_MODIFY, &nid);
}

std::string MissedVisitorsText(int count) {
  if (count <= 0)
    return {};
  return std::to_string(count) +
         (count == 1 ? " missed visitor" : " missed visitors");
}

std::string TitleWithMissed(const char *title, int count) {
  if (count <= 0)
    return title;
  return std::string(title) + " (" + MissedVisitorsText(count) + ")";
}

void SetDoorTitle(HWND hwnd, const char *title) {
  if (g_titleCounts.load()) {
    int count;
    {
      std::lock_guard lock(g_nidMutex);
      count = g_missed;
    }
    SetWindowText(hwnd, TitleWithMissed(title, count).c_str());
  } else {
    SetWindowText(hwnd, title);
  }
  SetTrayTip(title);
}

void SetMissedVisitors(int count) {
  std::string title;
  {
    std::lock_guard lock(g_nidMutex);
    g_missed = count > 0 ? count : 0;
    title = g_tipTitle;
    CopyTip(title.c_str());
    // An icon not added yet takes the mark when it is.
    if (nid.hWnd != nullptr && g_plainIcon != nullptr) {
      nid.hIcon = MarkedIcon(g_plainIcon, g_missed);
      Shell_NotifyIcon(NIM_MODIFY, &nid);
    }
  }
  g_titleCounts = count > 0 && !TrayAvailable();
  if (g_hwndMain != nullptr)
    SetDoorTitle(g_hwndMain, title.c_str());
}
