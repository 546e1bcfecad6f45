// What the window and drawing halves of the Qt layer share. Not for use
// outside platform/.
#pragma once

#include <QIcon>
#include <QImage>
#include <QRegion>
#include <QWidget>

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/gdi.h"
#include "platform/present_xcb.h"
#include "platform/window.h"

class QTimer;

namespace plat {

struct Icon {
  QIcon icon;
};

struct Bitmap {
  QImage image; // always Format_RGB32: blits copy, as Windows' SRCCOPY does
};

class WindowWidget;

// A window handle. Handles are never freed, so a thread still holding one
// after the window is destroyed gets failures, never a dangling pointer.
struct Window {
  WNDPROC proc = nullptr;
  QColor background;
  HICON icon = nullptr;

  std::atomic<bool> destroyed{false};
  std::atomic<bool> visible{false};
  std::atomic<bool> topmost{false};
  std::atomic<bool> paintPending{false};
  std::atomic<bool> paintQueued{false};
  // For the trace: the window was just shown and its next presenting is
  // the first one seen.
  std::atomic<bool> justShown{false};

  // What the window should look like; the window thread makes the real
  // window follow (Sync). Guarded by `stateMutex`.
  std::mutex stateMutex;
  RECT rect{};
  std::string title;
  QRegion shape;                             // empty: no shape set
  std::map<std::uintptr_t, unsigned> timers; // id -> period
  std::map<std::uintptr_t, unsigned long> timerGeneration;
  bool syncQueued = false;

  // The surface every thread draws into, and where the X server can read
  // it in place, what shows it there (null: the toolkit presents it).
  // Guarded by `surfaceMutex`.
  std::mutex surfaceMutex;
  QImage surface;
  std::unique_ptr<XcbPresenter> presenter;
  struct Watch {
    QRect area;
    std::uint64_t drawn = 0;
  };
  std::vector<Watch> watches; // see DrawnOver

  // Surface areas drawn but not yet presented. Guarded by `dirtyMutex`.
  std::mutex dirtyMutex;
  QRegion dirty;
  bool presentQueued = false;

  // Window thread only.
  WindowWidget *widget = nullptr;
  std::map<std::uintptr_t, QTimer *> liveTimers;
  std::map<std::uintptr_t, unsigned long> liveGeneration;
  bool everShown = false;
};

// Whether the window has a tray icon (shown or waiting for a tray).
bool HasTrayIcon(HWND w);

// The real window of a handle (window thread only); null once destroyed.
QWidget *WidgetOf(HWND w);

// Runs `task` on the window thread: at once when called there, otherwise
// queued behind what is already waiting.
void RunOnWindowThread(std::function<void()> task);
// Runs `task` on the window thread later, after what is already waiting;
// from any thread, the window thread included.
void QueueOnWindowThread(std::function<void()> task);
// Hands the drawn area to the window thread for presenting.
void MarkDirty(Window *w, const QRect &area);
// A surface of `width` x `height` for `w`, filled with its background.
// Called under the surface lock.
QImage NewSurface(Window *w, int width, int height);

} // namespace plat
