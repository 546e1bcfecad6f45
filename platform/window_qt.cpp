// Windows on Qt Widgets: classes, handles, and the state any thread may set
// (place, size, title, shape, visibility, paints), which the window thread
// makes the real window follow.
#include <QApplication>
#include <QPainter>
#include <QPixmap>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <cmath>

#include "platform/test_hooks.h"
#include "platform/window_internal.h"
#include "platform/window_widget.h"

namespace plat {

namespace {

std::mutex g_classMutex;
std::map<std::string, WindowClass> g_classes;
std::map<std::string, std::string> g_classNames; // keeps name texts alive

QRegion RoundRectRegion(int right, int bottom, int ew, int eh) {
  // Scan lines of a rectangle whose corners are quarter ellipses of ew x eh,
  // so the shape is exact to the pixel rather than a polygon's guess.
  QRegion region;
  const double rx = std::max(ew, 1) / 2.0;
  const double ry = std::max(eh, 1) / 2.0;
  for (int y = 0; y < bottom; ++y) {
    double inset = 0;
    const double fromTop = y + 0.5;
    const double fromBottom = bottom - (y + 0.5);
    const double d = std::min(fromTop, fromBottom);
    if (d < ry) {
      const double dy = (ry - d) / ry;
      inset = rx - rx * std::sqrt(std::max(0.0, 1.0 - dy * dy));
    }
    const int left = static_cast<int>(std::lround(inset));
    const int width = right - 2 * left;
    if (width > 0)
      region += QRect(left, y, width, 1);
  }
  return region;
}

// How often, 10 ms apart, a show waits for the window manager to let a
// minimized window go before it shows the window anyway.
constexpr int kWithdrawTries = 50;

// Shows the real window; false when it must be tried again shortly.
bool ShowReal(Window *w, WindowWidget *widget, bool activate, bool minimized) {
  if (minimized && !activate) {
    // A minimized window mapped again is one the user brought back, to
    // window managers, and they give it the keyboard. It is let go instead
    // and, once the manager has let go of it, shown as a new window that
    // asks for nothing.
    if (widget->isVisible())
      widget->hide();
    if (HeldByWindowManager(widget) && ++w->withdrawWaits < kWithdrawTries)
      return false;
  }
  w->withdrawWaits = 0;
  if (!minimized || !widget->isVisible())
    PrepareShow(widget, activate);
  if (minimized)
    widget->showNormal();
  else
    widget->show();
  // The toolkit makes a new one for some changes of window flags.
  if (QWindow *window = widget->windowHandle())
    window->installEventFilter(widget);
  w->justShown = true;
  widget->raise();
  RaiseDialogsOwnedBy(w);
  return true;
}

// Makes the real window follow the state that any thread may have asked
// for. Window thread only.
void Sync(Window *w) {
  if (w->destroyed.load() || w->widget == nullptr)
    return;
  RECT rect;
  std::string title;
  QRegion shape;
  std::map<std::uintptr_t, unsigned> timers;
  std::map<std::uintptr_t, unsigned long> generation;
  bool activate;
  {
    std::lock_guard lock(w->stateMutex);
    w->syncQueued = false;
    activate = w->activateOnShow;
    rect = w->rect;
    title = w->title;
    shape = w->shape;
    timers = w->timers;
    generation = w->timerGeneration;
  }
  WindowWidget *widget = w->widget;

  const QString qtitle = QtWindowTitle(title);
  if (widget->windowTitle() != qtitle)
    widget->setWindowTitle(qtitle);

  const QRect want(rect.left, rect.top, rect.right - rect.left,
                   rect.bottom - rect.top);
  if (widget->geometry() != want && want.width() > 0 && want.height() > 0)
    widget->setGeometry(want);
  ApplySize(w, want.width(), want.height());

  if (widget->mask() != shape)
    widget->setMask(shape);

  const bool onTop = w->topmost.load();
  if (widget->windowFlags().testFlag(Qt::WindowStaysOnTopHint) != onTop) {
    // Changing a window flag hides the window in Qt; showing follows below.
    widget->setWindowFlag(Qt::WindowStaysOnTopHint, onTop);
  }

  const bool visible = w->visible.load();
  const bool minimized = widget->windowState().testFlag(Qt::WindowMinimized);
  if (visible)
    w->minimizeOnExpose = false;
  if (visible && (!widget->isVisible() || minimized)) {
    if (!ShowReal(w, widget, activate, minimized))
      QTimer::singleShot(10, widget, [w] { QueueSync(w); });
  } else if (!visible && widget->isVisible() && !minimized) {
    // Nothing left to attend to.
    SetUrgent(widget, false);
    // A hidden window comes back through its tray icon. Where the desktop
    // shows no tray, it is minimized instead, so that it can still be
    // brought back from the task bar.
    // Without a window manager nothing minimizes a window, and a request
    // to do it would leave the window on the screen while the program
    // holds it hidden (and draws nothing more into it): it is hidden then.
    // A window the window manager is still taking in (the toolkit has not
    // seen it exposed yet) would be marked for minimizing only when first
    // mapped, which has already happened: that request would be lost.
    if (HasTrayIcon(w) && !TrayAvailable() && WindowManagerRunning()) {
      QWindow *window = widget->windowHandle();
      if (window != nullptr && !window->isExposed())
        w->minimizeOnExpose = true;
      else
        widget->showMinimized();
    } else
      widget->hide();
  }

  SyncTimers(w, widget, timers, generation);
}

void DeliverPaint(Window *w) {
  w->paintQueued = false;
  if (w->destroyed.load() || !w->paintPending.load())
    return;
  // As on Windows, a hidden window gets no WM_PAINT: the paint waits until
  // it is shown (a handler that paints would otherwise show it again).
  if (!w->visible.load())
    return;
  CallProc(w, WM_PAINT, 0, 0);
  w->paintPending = false;
}

} // namespace

void QueueSync(Window *w) {
  {
    std::lock_guard lock(w->stateMutex);
    if (w->syncQueued)
      return;
    w->syncQueued = true;
  }
  // Deferred even on the window thread, so that several changes made in
  // one handler reach the real window together and in a consistent order.
  QueueOnWindowThread([w] { Sync(w); });
}

void ApplySize(Window *w, int width, int height) {
  if (width <= 0 || height <= 0 || w->destroyed.load())
    return;
  {
    std::lock_guard lock(w->surfaceMutex);
    if (w->surface.width() == width && w->surface.height() == height)
      return;
    QImage grown = NewSurface(w, width, height);
    if (!w->surface.isNull()) {
      QPainter painter(&grown);
      painter.setCompositionMode(QPainter::CompositionMode_Source);
      painter.drawImage(0, 0, w->surface);
    }
    w->surface = std::move(grown);
  }
  // Like a class with CS_HREDRAW | CS_VREDRAW: a new size repaints it all.
  CallProc(w, WM_SIZE, 0, MAKELPARAM(width, height));
  InvalidateRect(w);
}

HICON CreateIconFromImages(const IconImage *images, std::size_t count) {
  if (g_app == nullptr)
    return nullptr;
  auto *icon = new Icon;
  for (std::size_t i = 0; i < count; ++i) {
    QPixmap pixmap;
    if (pixmap.loadFromData(images[i].data, static_cast<uint>(images[i].size)))
      icon->icon.addPixmap(pixmap);
  }
  if (icon->icon.isNull()) {
    delete icon;
    return nullptr;
  }
  return icon;
}

bool RegisterClass(const WindowClass &wc) {
  if (wc.name == nullptr || wc.proc == nullptr)
    return false;
  std::lock_guard lock(g_classMutex);
  const std::string key = QString::fromLatin1(wc.name).toLower().toStdString();
  if (g_classes.count(key) != 0)
    return false;
  g_classNames[key] = wc.name;
  WindowClass stored = wc;
  stored.name = g_classNames[key].c_str();
  g_classes[key] = stored;
  return true;
}

HICON GetClassSmallIcon(const char *className) {
  std::lock_guard lock(g_classMutex);
  auto it =
      g_classes.find(QString::fromLatin1(className).toLower().toStdString());
  if (it == g_classes.end())
    return nullptr;
  return it->second.smallIcon ? it->second.smallIcon : it->second.icon;
}

HWND CreateWindow(const char *className, const char *title, std::uint32_t,
                  int x, int y, int width, int height) {
  if (!IsWindowThread())
    return nullptr;
  WindowClass wc;
  {
    std::lock_guard lock(g_classMutex);
    auto it =
        g_classes.find(QString::fromLatin1(className).toLower().toStdString());
    if (it == g_classes.end())
      return nullptr;
    wc = it->second;
  }
  auto *w = new Window;
  w->proc = wc.proc;
  w->background = QColor(wc.background & 0xFF, (wc.background >> 8) & 0xFF,
                         (wc.background >> 16) & 0xFF);
  w->rect = {x, y, x + std::max(width, 0), y + std::max(height, 0)};
  w->title = title ? title : "";
  if (QGuiApplication::platformName() == QLatin1String("xcb"))
    w->presenter = XcbPresenter::Create();
  w->widget = new WindowWidget(w);
  w->widget->setWindowTitle(QtWindowTitle(w->title));
  if (wc.icon != nullptr) {
    w->widget->setWindowIcon(wc.icon->icon);
    // The windows made in Qt itself (the Visitors window, its file dialog
    // and boxes) take the first window's icon.
    if (QGuiApplication::windowIcon().isNull())
      QGuiApplication::setWindowIcon(wc.icon->icon);
  }
  w->widget->setGeometry(x, y, std::max(width, 1), std::max(height, 1));
  {
    std::lock_guard lock(w->surfaceMutex);
    w->surface = NewSurface(w, std::max(width, 1), std::max(height, 1));
  }
  return w;
}

bool DestroyWindow(HWND w) {
  if (w == nullptr || w->destroyed.load() || !IsWindowThread())
    return false;
  CallProc(w, WM_DESTROY, 0, 0);
  LeaveSpaceOf(w);
  w->destroyed = true;
  w->visible = false;
  {
    std::lock_guard lock(w->stateMutex);
    w->timers.clear();
  }
  for (auto &[id, timer] : w->liveTimers)
    timer->stop();
  w->liveTimers.clear();
  if (w->widget != nullptr) {
    w->widget->closingByProc = true;
    w->widget->hide();
    w->widget->deleteLater();
    w->widget = nullptr;
  }
  std::lock_guard lock(w->surfaceMutex);
  w->surface = QImage();
  return true;
}

QWidget *WidgetOf(HWND w) { return w ? w->widget : nullptr; }

bool IsWindow(HWND w) {
  // Handles of other processes' windows only send and post.
  return w != nullptr && !IsSpaceTarget(w) && !w->destroyed.load();
}

LRESULT DefWindowProc(HWND w, UINT message, WPARAM, LPARAM) {
  switch (message) {
  case WM_CLOSE:
    DestroyWindow(w);
    return 0;
  case WM_NCHITTEST:
    return HTCLIENT;
  case WM_PAINT:
    if (w != nullptr)
      w->paintPending = false;
    return 0;
  default:
    return 0;
  }
}

bool ShowWindow(HWND w, int cmd) {
  if (!IsWindow(w))
    return false;
  bool wasVisible;
  {
    std::lock_guard lock(w->stateMutex);
    wasVisible = w->visible.exchange(cmd != SW_HIDE);
    if (!wasVisible && cmd != SW_HIDE)
      w->activateOnShow = cmd != SW_SHOWNOACTIVATE;
  }
  QueueSync(w);
  // What was invalidated while it was hidden is painted now.
  if (!wasVisible && cmd != SW_HIDE && w->paintPending.load())
    InvalidateRect(w);
  return wasVisible;
}

bool IsWindowVisible(HWND w) { return IsWindow(w) && w->visible.load(); }

bool SetWindowPos(HWND w, HWND insertAfter, int x, int y, int cx, int cy,
                  UINT flags) {
  if (!IsWindow(w))
    return false;
  {
    std::lock_guard lock(w->stateMutex);
    RECT r = w->rect;
    if (!(flags & SWP_NOMOVE)) {
      const int wd = r.right - r.left, ht = r.bottom - r.top;
      r = {x, y, x + wd, y + ht};
    }
    if (!(flags & SWP_NOSIZE)) {
      r.right = r.left + std::max(cx, 0);
      r.bottom = r.top + std::max(cy, 0);
    }
    w->rect = r;
  }
  if (!(flags & SWP_NOZORDER) && insertAfter == HWND_TOPMOST)
    w->topmost = true;
  if (IsWindowThread() && w->widget != nullptr) {
    // Size changes reach the window procedure (WM_SIZE) before this returns,
    // as the procedure's own WM_SIZE handling expects.
    RECT r;
    {
      std::lock_guard lock(w->stateMutex);
      r = w->rect;
    }
    const QRect want(r.left, r.top, r.right - r.left, r.bottom - r.top);
    if (want.width() > 0 && want.height() > 0 && w->widget->geometry() != want)
      w->widget->setGeometry(want);
    ApplySize(w, want.width(), want.height());
  }
  QueueSync(w);
  return true;
}

bool GetWindowRect(HWND w, RECT *rect) {
  if (!IsWindow(w) || rect == nullptr)
    return false;
  std::lock_guard lock(w->stateMutex);
  *rect = w->rect;
  return true;
}

bool SetWindowText(HWND w, const char *text) {
  if (!IsWindow(w))
    return false;
  {
    std::lock_guard lock(w->stateMutex);
    // The door unit repeats its title with every picture; only a change
    // needs the window thread.
    if (w->title == (text ? text : ""))
      return true;
    w->title = text ? text : "";
  }
  QueueSync(w);
  return true;
}

std::string GetWindowText(HWND w) {
  if (!IsWindow(w))
    return {};
  std::lock_guard lock(w->stateMutex);
  return w->title;
}

bool SetForegroundWindow(HWND w) {
  if (!IsWindow(w))
    return false;
  RunOnWindowThread([w] {
    if (w->widget != nullptr && !w->destroyed.load()) {
      w->widget->raise();
      w->widget->activateWindow();
    }
  });
  return true;
}

bool FlashWindow(HWND w, BOOL invert) {
  if (!IsWindow(w))
    return false;
  RunOnWindowThread([w, invert] {
    if (w->widget != nullptr && !w->destroyed.load())
      SetUrgent(w->widget, invert && !w->widget->isActiveWindow());
  });
  return true;
}

bool IsTopmost(HWND w) { return IsWindow(w) && w->topmost.load(); }

bool SetWindowRoundRegion(HWND w, int right, int bottom, int ew, int eh) {
  if (!IsWindow(w))
    return false;
  {
    std::lock_guard lock(w->stateMutex);
    w->shape = RoundRectRegion(right, bottom, ew, eh);
  }
  QueueSync(w);
  return true;
}

bool ShapeContains(Window *w, int x, int y) {
  if (!IsWindow(w))
    return false;
  std::lock_guard lock(w->stateMutex);
  if (w->shape.isEmpty())
    return x >= 0 && y >= 0 && x < w->rect.right - w->rect.left &&
           y < w->rect.bottom - w->rect.top;
  return w->shape.contains(QPoint(x, y));
}

bool WindowRegionContains(HWND w, int x, int y) {
  return ShapeContains(w, x, y);
}

bool InvalidateRect(HWND w) {
  if (!IsWindow(w) || g_app == nullptr)
    return false;
  w->paintPending = true;
  if (!w->paintQueued.exchange(true))
    QueueOnWindowThread([w] { DeliverPaint(w); });
  return true;
}

bool UpdateWindow(HWND w) {
  if (!IsWindow(w))
    return false;
  if (IsWindowThread()) {
    // The real window catches up first, as on Windows, where it is already
    // on the screen when this returns: start-up goes on to slow work (the
    // SIP core) before its message loop runs.
    Sync(w);
    if (w->paintPending.load()) {
      CallProc(w, WM_PAINT, 0, 0);
      w->paintPending = false;
    }
  }
  return true;
}

} // namespace plat
