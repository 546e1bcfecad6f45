// What the parts of the Qt layer share: the window handle and what the
// window, widget, presenting, drawing and tray files call across. Not for
// use outside platform/.
#pragma once

#include <QIcon>
#include <QImage>
#include <QRegion>
#include <QString>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/gdi.h"
#include "platform/present_xcb.h"
#include "platform/window.h"

class QApplication;
class QObject;
class QTimer;
class QWidget;

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
  // Non-zero for a window of another process of the message space: its
  // handle value. Such a handle only sends and posts (message_space.cpp).
  LPARAM remote = 0;
  QColor background;

  std::atomic<bool> destroyed{false};
  std::atomic<bool> visible{false};
  std::atomic<bool> topmost{false};
  std::atomic<bool> paintPending{false};
  std::atomic<bool> paintQueued{false};
  // For the trace: the window was just shown and its next presenting is
  // the first one seen.
  std::atomic<bool> justShown{false};
  // A minimize asked for before the toolkit saw the window on the screen;
  // made at its first expose. Window thread only.
  bool minimizeOnExpose = false;
  // How long a show has waited for the window manager to let the window go
  // (see ShowReal), in tries. Window thread only.
  int withdrawWaits = 0;

  // What the window should look like; the window thread makes the real
  // window follow (Sync). Guarded by `stateMutex`.
  std::mutex stateMutex;
  RECT rect{};
  std::string title;
  QRegion shape;                             // empty: no shape set
  std::map<std::uintptr_t, unsigned> timers; // id -> period
  std::map<std::uintptr_t, unsigned long> timerGeneration;
  bool syncQueued = false;
  // Whether the real window takes the keyboard when it is next shown.
  bool activateOnShow = true;

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
};

// The window procedure's answer to a message; 0 once the window is gone.
inline LRESULT CallProc(Window *w, UINT message, WPARAM wParam, LPARAM lParam) {
  if (w->destroyed.load() || w->proc == nullptr)
    return 0;
  return w->proc(w, message, wParam, lParam);
}

// The window text as Qt takes it: 8-bit text, in which "[*]" stands for
// itself rather than for the document-modified mark ("[*][*]" shows one).
inline QString QtWindowTitle(const std::string &title) {
  return QString::fromLatin1(title.c_str())
      .replace(QLatin1String("[*]"), QLatin1String("[*][*]"));
}

// The window thread (window_queue.cpp).

// The toolkit's application, made by Initialize; null before and where no
// display could be opened.
extern QApplication *g_app;
// Runs `task` on the window thread: at once when called there, otherwise
// queued behind what is already waiting.
void RunOnWindowThread(std::function<void()> task);
// Runs `task` on the window thread and waits until it has run (at once when
// called there), handling nothing meanwhile; false when it did not run: the
// loop ended, or `giveUp`, asked every 100 ms, said so. What the task writes
// must outlive an early return: it may still run later.
bool RunOnWindowThreadAndWait(std::function<void()> task,
                              const std::function<bool()> &giveUp = {});
// Runs `task` on the window thread later, after what is already waiting;
// from any thread, the window thread included.
void QueueOnWindowThread(std::function<void()> task);
// Raises the open dialogs that `owner` owns above it. Window thread.
void RaiseDialogsOwnedBy(Window *owner);
// Whether the message loop has ended: nothing queued runs any more.
bool WindowLoopEnded();
// Makes the real timers, owned by `owner`, follow `timers` (id -> period),
// restarting those whose generation changed. Window thread only, from Sync.
void SyncTimers(Window *w, QObject *owner,
                const std::map<std::uintptr_t, unsigned> &timers,
                std::map<std::uintptr_t, unsigned long> &generation);

// The message space (message_space.cpp).

// Whether `w` is a window of another process or HWND_BROADCAST.
bool IsSpaceTarget(HWND w);
// Sends or posts to such a target.
LRESULT SpaceSend(HWND w, UINT message, WPARAM wParam, LPARAM lParam);
bool SpacePost(HWND w, UINT message, WPARAM wParam, LPARAM lParam);
// The window that joined the space is going: nobody reaches it any more.
void LeaveSpaceOf(HWND w);

// The window's state (window_qt.cpp).

// Has the real window follow the state set from any thread, soon, on the
// window thread.
void QueueSync(Window *w);
// Gives the surface the new size and tells the window procedure (WM_SIZE),
// which then repaints it all. Does nothing for an unchanged or empty size.
void ApplySize(Window *w, int width, int height);
// Whether the client point (x, y) lies inside the window's shape.
bool ShapeContains(Window *w, int x, int y);

// Presenting (present.cpp).

// Hands the drawn area to the window thread for presenting.
void MarkDirty(Window *w, const QRect &area);
// A surface of `width` x `height` for `w`, filled with its background.
// Called under the surface lock.
QImage NewSurface(Window *w, int width, int height);

// The desktop (desktop.cpp, tray_qt.cpp).

// A tooltip's text as Qt should take it: what Qt would read as rich text
// (HTML, images from local files included) escaped, so that it shows as the
// very characters it holds.
QString PlainToolTip(const QString &text);

// Whether a window manager runs on the X display.
bool WindowManagerRunning();
// Whether the window has a tray icon (shown or waiting for a tray).
bool HasTrayIcon(HWND w);
// Whether the desktop shows tray icons at this moment.
bool TrayAvailable();
// Readies a top-level widget that is about to be shown (and makes its
// native window): one that stays on top is put on every workspace, and
// unless `activate` it is shown without taking the keyboard from the window
// that has it. Window thread.
void PrepareShow(QWidget *widget, bool activate);
// Sets or clears the urgency hint, with which the window manager marks a
// window that wants the user. Window thread.
void SetUrgent(QWidget *widget, bool urgent);
// Whether the window manager still holds the window: shown or minimized,
// or hidden by the program and not yet let go. Window thread.
bool HeldByWindowManager(QWidget *widget);

} // namespace plat
