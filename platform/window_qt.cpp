// Windows, messages, timers and the message loop on Qt Widgets.
#include <QApplication>
#include <QCursor>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>
#include <QWindow>
#include <QtGui/qguiapplication_platform.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <memory>
#include <sys/eventfd.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include "platform/trace.h"
#include "platform/tray.h"
#include "platform/window_internal.h"

namespace plat {

namespace {

// The window text as Qt takes it: 8-bit text, in which "[*]" stands for
// itself rather than for the document-modified mark ("[*][*]" shows one).
QString QtWindowTitle(const std::string &title) {
  return QString::fromLatin1(title.c_str())
      .replace(QLatin1String("[*]"), QLatin1String("[*][*]"));
}

QApplication *g_app = nullptr;
std::atomic<bool> g_loopEnded{false};

// Work handed to the window thread, in the order it was handed over. The
// queue is ours rather than the toolkit's so that every hand-over is a
// plain lock that thread checkers can see; an eventfd wakes the loop.
std::mutex g_taskMutex;
std::deque<std::function<void()>> g_tasks;
int g_wakeFd = -1;

void RunQueuedTasks() {
  std::uint64_t count;
  [[maybe_unused]] ssize_t n = read(g_wakeFd, &count, sizeof count);
  for (;;) {
    std::function<void()> task;
    {
      std::lock_guard lock(g_taskMutex);
      if (g_tasks.empty())
        return;
      task = std::move(g_tasks.front());
      g_tasks.pop_front();
    }
    task();
  }
}
std::atomic<unsigned> g_beeps{0};

std::mutex g_classMutex;
std::map<std::string, WindowClass> g_classes;
std::map<std::string, std::string> g_classNames; // keeps name texts alive

std::mutex g_messageMutex;
std::map<std::string, UINT> g_registeredMessages;

LRESULT CallProc(Window *w, UINT message, WPARAM wParam, LPARAM lParam) {
  if (w->destroyed.load() || w->proc == nullptr)
    return 0;
  return w->proc(w, message, wParam, lParam);
}

void ApplySize(Window *w, int width, int height);
void QueueSync(Window *w);

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

// Whether a window manager runs on the X display: one names its check
// window on the root window, and that window names itself. Elsewhere (no X,
// the offscreen platform) there is none to minimize a window.
bool WindowManagerRunning() {
  auto *x11 = g_app
                  ? g_app->nativeInterface<QNativeInterface::QX11Application>()
                  : nullptr;
  xcb_connection_t *c = x11 ? x11->connection() : nullptr;
  if (c == nullptr)
    return false;
  static const char kName[] = "_NET_SUPPORTING_WM_CHECK";
  xcb_intern_atom_reply_t *atom = xcb_intern_atom_reply(
      c, xcb_intern_atom(c, 1, sizeof kName - 1, kName), nullptr);
  if (atom == nullptr)
    return false;
  const xcb_atom_t name = atom->atom;
  std::free(atom);
  if (name == XCB_ATOM_NONE)
    return false;
  auto checkOf = [&](xcb_window_t window) -> xcb_window_t {
    xcb_get_property_reply_t *reply = xcb_get_property_reply(
        c, xcb_get_property(c, 0, window, name, XCB_ATOM_WINDOW, 0, 1),
        nullptr);
    xcb_window_t found = XCB_WINDOW_NONE;
    if (reply != nullptr && reply->format == 32 &&
        xcb_get_property_value_length(reply) >= 4)
      found = *static_cast<xcb_window_t *>(xcb_get_property_value(reply));
    std::free(reply);
    return found;
  };
  const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
  if (screen == nullptr)
    return false;
  // A manager that ended leaves the root's property naming a window that
  // is gone (or someone else's).
  const xcb_window_t check = checkOf(screen->root);
  return check != XCB_WINDOW_NONE && checkOf(check) == check;
}

MINMAXINFO AskMinMax(Window *w) {
  MINMAXINFO info{};
  info.ptMinTrackSize = {1, 1};
  info.ptMaxTrackSize = {32767, 32767};
  CallProc(w, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
  return info;
}

} // namespace

// The real window of a handle: presents the surface and turns pointer and
// close requests into the window procedure's messages.
class WindowWidget : public QWidget {
public:
  WindowWidget(Window *w, bool direct)
      : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint), w_(w),
        direct_(direct) {
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    // Shown straight from the surface: the toolkit keeps no copy of it.
    setAttribute(Qt::WA_PaintOnScreen, direct_);
  }

  bool closingByProc = false;

  QPaintEngine *paintEngine() const override {
    return direct_ ? nullptr : QWidget::paintEngine();
  }

protected:
  void paintEvent(QPaintEvent *event) override {
    if (direct_)
      PresentDirect(event->region());
    else
      PresentThroughToolkit(event->region());
    if (w_->justShown.exchange(false))
      Trace(TRACE_SHOWN);
    Trace(TRACE_PRESENTED);
  }

  void resizeEvent(QResizeEvent *) override {
    // The window manager resized us (or a resize we asked for landed).
    {
      std::lock_guard lock(w_->stateMutex);
      w_->rect.right = w_->rect.left + width();
      w_->rect.bottom = w_->rect.top + height();
    }
    ApplySize(w_, width(), height());
  }

  void moveEvent(QMoveEvent *) override {
    std::lock_guard lock(w_->stateMutex);
    const QPoint at = geometry().topLeft();
    const int wd = w_->rect.right - w_->rect.left;
    const int ht = w_->rect.bottom - w_->rect.top;
    w_->rect = {at.x(), at.y(), at.x() + wd, at.y() + ht};
  }

  void closeEvent(QCloseEvent *event) override {
    if (closingByProc) {
      event->accept();
      return;
    }
    // A close asked by the desktop takes the same road as the close button.
    event->ignore();
    CallProc(w_, WM_CLOSE, 0, 0);
  }

  void changeEvent(QEvent *event) override {
    QWidget::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange)
      return;
    const auto *change = static_cast<QWindowStateChangeEvent *>(event);
    // Minimized while hidden, and now back: the desktop (a task bar, the
    // window manager) brought it back, not the program, which asks for it
    // through ShowWindow and is visible by then.
    if (!change->oldState().testFlag(Qt::WindowMinimized) ||
        windowState().testFlag(Qt::WindowMinimized) || !isVisible() ||
        w_->visible.load() || w_->destroyed.load())
      return;
    BroughtBack();
  }

  // Watches the real window (see Sync) for a map that the toolkit did not
  // make: a bare X server's way to bring a window back (a window manager's
  // restore lands in changeEvent).
  bool eventFilter(QObject *watched, QEvent *event) override {
    if (event->type() == QEvent::Expose && watched == windowHandle() &&
        !isVisible() && !w_->visible.load() && !w_->destroyed.load() &&
        StillMapped())
      BroughtBack();
    return QWidget::eventFilter(watched, event);
  }

  void mousePressEvent(QMouseEvent *event) override { Press(event); }
  void mouseDoubleClickEvent(QMouseEvent *event) override {
    // Without double-click messages the second click is a plain press.
    Press(event);
  }

  void mouseMoveEvent(QMouseEvent *event) override {
    const QPoint global = event->globalPosition().toPoint();
    if (drag_ == Drag::Move) {
      const QPoint to = start_.topLeft() + (global - pressGlobal_);
      SetWindowPos(w_, nullptr, to.x(), to.y(), 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER);
      return;
    }
    if (drag_ == Drag::Resize) {
      const MINMAXINFO mm = AskMinMax(w_);
      const QPoint d = global - pressGlobal_;
      const int cx =
          std::clamp(start_.width() + d.x(), mm.ptMinTrackSize.x,
                     std::max(mm.ptMinTrackSize.x, mm.ptMaxTrackSize.x));
      const int cy =
          std::clamp(start_.height() + d.y(), mm.ptMinTrackSize.y,
                     std::max(mm.ptMinTrackSize.y, mm.ptMaxTrackSize.y));
      SetWindowPos(w_, nullptr, 0, 0, cx, cy, SWP_NOMOVE | SWP_NOZORDER);
      return;
    }
    const QPoint at = event->position().toPoint();
    const LRESULT hit = Where(global, at);
    setCursor(hit == HTBOTTOMRIGHT ? Qt::SizeFDiagCursor : Qt::ArrowCursor);
    if (hit == HTCLIENT) {
      const WPARAM keys = (event->buttons() & Qt::LeftButton) ? 0x0001 : 0;
      CallProc(w_, WM_MOUSEMOVE, keys, MAKELPARAM(at.x(), at.y()));
    }
  }

  void mouseReleaseEvent(QMouseEvent *event) override {
    if (drag_ != Drag::None) {
      drag_ = Drag::None;
      return;
    }
    // The toolkit hands us the release wherever the pointer is, as it holds
    // the pointer from the press on. The program holds no such capture: a
    // release off the window, or over the strip or grip, is not its own.
    const QPoint at = event->position().toPoint();
    if (Where(event->globalPosition().toPoint(), at) != HTCLIENT)
      return;
    // The button under the pointer now is the one let go over.
    CallProc(w_, WM_MOUSEMOVE, 0, MAKELPARAM(at.x(), at.y()));
    if (event->button() == Qt::LeftButton)
      CallProc(w_, WM_LBUTTONUP, 0, MAKELPARAM(at.x(), at.y()));
    else if (event->button() == Qt::RightButton)
      CallProc(w_, WM_RBUTTONUP, 0, MAKELPARAM(at.x(), at.y()));
  }

private:
  enum class Drag { None, Move, Resize };

  // The program holds the window hidden, yet it is on the screen: it is
  // visible again, and the program is told and paints it.
  void BroughtBack() {
    w_->visible = true;
    w_->justShown = true;
    QueueSync(w_);
    CallProc(w_, WM_SHOWWINDOW, 1, 0);
    InvalidateRect(w_);
  }

  // Whether the X window is mapped now. The toolkit's own unmap of a window
  // it was asked to hide, if any, goes ahead of the question on the same
  // connection: a map that the toolkit undid already answers no.
  bool StillMapped() {
    auto *x11 = g_app->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t *c = x11 ? x11->connection() : nullptr;
    if (c == nullptr)
      return false;
    xcb_get_window_attributes_reply_t *reply = xcb_get_window_attributes_reply(
        c, xcb_get_window_attributes(c, static_cast<xcb_window_t>(winId())),
        nullptr);
    const bool mapped =
        reply != nullptr && reply->map_state != XCB_MAP_STATE_UNMAPPED;
    std::free(reply);
    return mapped;
  }

  LRESULT HitTest(const QPoint &global) {
    return CallProc(w_, WM_NCHITTEST, 0, MAKELPARAM(global.x(), global.y()));
  }

  // What the window is at a pointer position: nothing outside its shape
  // (the point belongs to whatever lies below), else the hit test's answer.
  LRESULT Where(const QPoint &global, const QPoint &local) {
    if (!WindowRegionContains(w_, local.x(), local.y()))
      return HTNOWHERE;
    return HitTest(global);
  }

  void Press(QMouseEvent *event) {
    const QPoint global = event->globalPosition().toPoint();
    const QPoint at = event->position().toPoint();
    if (event->button() == Qt::RightButton) {
      CallProc(w_, WM_RBUTTONDOWN, 0x0002, MAKELPARAM(at.x(), at.y()));
      return;
    }
    if (event->button() != Qt::LeftButton)
      return;
    const LRESULT hit = HitTest(global);
    if (hit == HTCAPTION) {
      // A window manager moves the window itself where it can; on a bare X
      // server we follow the pointer.
      if (windowHandle() && windowHandle()->startSystemMove())
        return;
      BeginDrag(Drag::Move, global);
    } else if (hit == HTBOTTOMRIGHT) {
      const MINMAXINFO mm = AskMinMax(w_);
      setMinimumSize(mm.ptMinTrackSize.x, mm.ptMinTrackSize.y);
      if (windowHandle() &&
          windowHandle()->startSystemResize(Qt::BottomEdge | Qt::RightEdge))
        return;
      BeginDrag(Drag::Resize, global);
    } else {
      CallProc(w_, WM_LBUTTONDOWN, 0x0001, MAKELPARAM(at.x(), at.y()));
    }
  }

  void BeginDrag(Drag kind, const QPoint &global) {
    drag_ = kind;
    pressGlobal_ = global;
    start_ = geometry();
  }

  void PresentDirect(const QRegion &region) {
    std::lock_guard lock(w_->surfaceMutex);
    if (w_->surface.isNull())
      return;
    XcbPresenter *presenter = w_->presenter.get();
    // A desktop that scales windows wants the surface enlarged, which only
    // the toolkit does.
    if (devicePixelRatio() != 1.0)
      presenter = nullptr;
    // The toolkit may have made a new X window for us (some changes of
    // window flags do); the id is checked on every paint.
    const std::uint32_t id = static_cast<std::uint32_t>(winId());
    if (presenter != nullptr && id != target_) {
      target_ = id;
      if (!presenter->SetTarget(id))
        presenter = nullptr;
    }
    if (presenter != nullptr && presenter->Present(w_->surface, region))
      return;
    // Pixels of another kind than the surface's, or scaled: the toolkit
    // presents from now on.
    w_->presenter.reset();
    direct_ = false;
    setAttribute(Qt::WA_PaintOnScreen, false);
    update();
  }

  void PresentThroughToolkit(const QRegion &region) {
    QPainter painter(this);
    std::lock_guard lock(w_->surfaceMutex);
    // Rectangle by rectangle: under a clip of several rectangles the
    // toolkit blends through its general path (and its thread pool); under
    // one rectangle a picture of the surface's kind is a plain copy.
    for (const QRect &area : region) {
      painter.setClipRect(area);
      // Only what the surface does not cover gets the background: filling
      // under the picture as well doubled the cost of presenting a frame.
      const QRegion bare = QRegion(area).subtracted(w_->surface.rect());
      for (const QRect &r : bare)
        painter.fillRect(r, w_->background);
      if (!w_->surface.isNull())
        painter.drawImage(area.topLeft(), w_->surface, area);
    }
  }

  Window *w_;
  bool direct_;
  std::uint32_t target_ = 0;
  Drag drag_ = Drag::None;
  QPoint pressGlobal_;
  QRect start_;
};

namespace {

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
  {
    std::lock_guard lock(w->stateMutex);
    w->syncQueued = false;
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
  if (visible && (!widget->isVisible() || minimized)) {
    if (minimized)
      widget->showNormal();
    else
      widget->show();
    // The toolkit makes a new one for some changes of window flags.
    if (QWindow *window = widget->windowHandle())
      window->installEventFilter(widget);
    w->justShown = true;
    widget->raise();
    w->everShown = true;
  } else if (!visible && widget->isVisible() && !minimized) {
    // A hidden window comes back through its tray icon. Where the desktop
    // shows no tray, it is minimized instead, so that it can still be
    // brought back from the task bar.
    // Without a window manager nothing minimizes a window, and a request
    // to do it would leave the window on the screen while the program
    // holds it hidden (and draws nothing more into it): it is hidden then.
    if (HasTrayIcon(w) && !TrayAvailable() && WindowManagerRunning())
      widget->showMinimized();
    else
      widget->hide();
  }

  // Timers: start what was asked for, restart what was asked again, stop
  // what was killed.
  for (auto it = w->liveTimers.begin(); it != w->liveTimers.end();) {
    if (timers.count(it->first) == 0) {
      it->second->stop();
      it->second->deleteLater();
      w->liveGeneration.erase(it->first);
      it = w->liveTimers.erase(it);
    } else {
      ++it;
    }
  }
  for (const auto &[id, period] : timers) {
    QTimer *&timer = w->liveTimers[id];
    if (timer == nullptr) {
      timer = new QTimer(widget);
      const std::uintptr_t timerId = id;
      QObject::connect(timer, &QTimer::timeout, widget, [w, timerId] {
        bool stillSet;
        {
          std::lock_guard lock(w->stateMutex);
          stillSet = w->timers.count(timerId) != 0;
        }
        if (stillSet)
          CallProc(w, WM_TIMER, timerId, 0);
      });
    }
    if (w->liveGeneration[id] != generation[id] || !timer->isActive()) {
      w->liveGeneration[id] = generation[id];
      timer->start(static_cast<int>(period));
    }
  }
}

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

int g_signalPipe[2] = {-1, -1};
HWND g_signalWindow = nullptr;

void OnTerminationSignal(int signo) {
  const char byte = static_cast<char>(signo);
  [[maybe_unused]] ssize_t written = write(g_signalPipe[1], &byte, 1);
  // A second request ends the process at once, should closing ever hang.
  std::signal(signo, SIG_DFL);
}

} // namespace

void RunOnWindowThread(std::function<void()> task) {
  if (g_app == nullptr)
    return;
  if (IsWindowThread()) {
    task();
    return;
  }
  QueueOnWindowThread(std::move(task));
}

void QueueOnWindowThread(std::function<void()> task) {
  if (g_app == nullptr || g_wakeFd < 0)
    return;
  {
    std::lock_guard lock(g_taskMutex);
    g_tasks.push_back(std::move(task));
  }
  const std::uint64_t one = 1;
  [[maybe_unused]] ssize_t n = write(g_wakeFd, &one, sizeof one);
}

QImage NewSurface(Window *w, int width, int height) {
  QImage surface;
  if (w->presenter != nullptr)
    surface = w->presenter->NewSurface(width, height);
  if (surface.isNull())
    surface = QImage(width, height, QImage::Format_RGB32);
  surface.fill(w->background);
  return surface;
}

void MarkDirty(Window *w, const QRect &area) {
  if (area.isEmpty())
    return;
  bool queue = false;
  {
    std::lock_guard lock(w->dirtyMutex);
    w->dirty += area;
    if (!w->presentQueued) {
      w->presentQueued = true;
      queue = true;
    }
  }
  if (!queue)
    return;
  // Presenting happens on the window thread, once for everything drawn
  // since the last time.
  QueueOnWindowThread([w] {
    QRegion region;
    {
      std::lock_guard lock(w->dirtyMutex);
      region = w->dirty;
      w->dirty = QRegion();
      w->presentQueued = false;
    }
    if (!w->destroyed.load() && w->widget != nullptr)
      w->widget->update(region);
  });
}

bool Initialize() {
  if (g_app != nullptr)
    return true;
  const bool platformChosen = !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
  const bool x11 = !qEnvironmentVariableIsEmpty("DISPLAY");
  if (!platformChosen) {
    if (!x11)
      return false;
    // The window is placed at a saved screen position and kept on top; only
    // X11 (also through XWayland) lets a program do both.
    qputenv("QT_QPA_PLATFORM", "xcb");
  }
  // The command line is not the toolkit's to read either.
  static int argc = 1;
  static char name[] = "vestibell";
  static char *argv[] = {name, nullptr};
  g_app = new QApplication(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  g_wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  auto *wake = new QSocketNotifier(g_wakeFd, QSocketNotifier::Read, g_app);
  QObject::connect(wake, &QSocketNotifier::activated, g_app, RunQueuedTasks);
  return true;
}

bool IsWindowThread() {
  return g_app != nullptr && QThread::currentThread() == g_app->thread();
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
  w->icon = wc.icon;
  w->rect = {x, y, x + std::max(width, 0), y + std::max(height, 0)};
  w->title = title ? title : "";
  if (QGuiApplication::platformName() == QLatin1String("xcb"))
    w->presenter = XcbPresenter::Create();
  w->widget = new WindowWidget(w, w->presenter != nullptr);
  w->widget->setWindowTitle(QtWindowTitle(w->title));
  if (wc.icon != nullptr)
    w->widget->setWindowIcon(wc.icon->icon);
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

bool IsWindow(HWND w) { return w != nullptr && !w->destroyed.load(); }

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

LRESULT SendMessage(HWND w, UINT message, WPARAM wParam, LPARAM lParam) {
  if (!IsWindow(w) || g_app == nullptr)
    return 0;
  if (IsWindowThread())
    return CallProc(w, message, wParam, lParam);
  if (g_loopEnded.load())
    return 0;

  struct Reply {
    std::mutex mutex;
    std::condition_variable done;
    bool ready = false;
    LRESULT result = 0;
    void Set(LRESULT r) {
      std::lock_guard lock(mutex);
      if (ready)
        return;
      result = r;
      ready = true;
      done.notify_all();
    }
  };
  // Whatever happens to the queued call (run, or dropped with the loop),
  // the waiting thread is released.
  struct Releaser {
    explicit Releaser(std::shared_ptr<Reply> r) : reply(std::move(r)) {}
    Releaser(const Releaser &) = delete;
    ~Releaser() { reply->Set(0); }
    std::shared_ptr<Reply> reply;
  };
  auto reply = std::make_shared<Reply>();
  auto releaser = std::make_shared<Releaser>(reply);
  QueueOnWindowThread([releaser, w, message, wParam, lParam] {
    releaser->reply->Set(CallProc(w, message, wParam, lParam));
  });
  releaser.reset();
  std::unique_lock lock(reply->mutex);
  while (!reply->ready) {
    if (g_loopEnded.load() || !IsWindow(w))
      return 0;
    reply->done.wait_for(lock, std::chrono::milliseconds(100));
  }
  return reply->result;
}

bool PostMessage(HWND w, UINT message, WPARAM wParam, LPARAM lParam) {
  if (!IsWindow(w) || g_app == nullptr)
    return false;
  QueueOnWindowThread(
      [w, message, wParam, lParam] { CallProc(w, message, wParam, lParam); });
  return true;
}

UINT RegisterWindowMessage(const char *name) {
  if (name == nullptr || *name == '\0')
    return 0;
  std::lock_guard lock(g_messageMutex);
  auto it = g_registeredMessages.find(name);
  if (it != g_registeredMessages.end())
    return it->second;
  // The same name gives the same number in every process (FNV-1a into the
  // registered range), so traces of different instances agree.
  std::uint32_t hash = 2166136261u;
  for (const char *p = name; *p; ++p)
    hash = (hash ^ static_cast<unsigned char>(*p)) * 16777619u;
  UINT id = 0xC000u + hash % 0x4000u;
  auto taken = [&](UINT candidate) {
    for (const auto &[n, v] : g_registeredMessages)
      if (v == candidate)
        return true;
    return false;
  };
  while (taken(id))
    id = 0xC000u + (id - 0xC000u + 1) % 0x4000u;
  g_registeredMessages[name] = id;
  return id;
}

int RunMessageLoop() {
  if (g_app == nullptr)
    return 0;
  g_loopEnded = false;
  const int code = QApplication::exec();
  g_loopEnded = true;
  return code;
}

void PostQuitMessage(int exitCode) {
  if (g_app == nullptr)
    return;
  QueueOnWindowThread([exitCode] { QCoreApplication::exit(exitCode); });
}

bool SetTimer(HWND w, std::uintptr_t id, unsigned ms) {
  if (!IsWindow(w))
    return false;
  {
    std::lock_guard lock(w->stateMutex);
    w->timers[id] = std::max(ms, 1u);
    ++w->timerGeneration[id];
  }
  QueueSync(w);
  return true;
}

bool KillTimer(HWND w, std::uintptr_t id) {
  if (!IsWindow(w))
    return false;
  bool had;
  {
    std::lock_guard lock(w->stateMutex);
    had = w->timers.erase(id) != 0;
  }
  QueueSync(w);
  return had;
}

bool IsTimerSet(HWND w, std::uintptr_t id) {
  if (!IsWindow(w))
    return false;
  std::lock_guard lock(w->stateMutex);
  return w->timers.count(id) != 0;
}

bool ShowWindow(HWND w, int cmd) {
  if (!IsWindow(w))
    return false;
  const bool wasVisible = w->visible.exchange(cmd != SW_HIDE);
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

bool WindowRegionContains(HWND w, int x, int y) {
  if (!IsWindow(w))
    return false;
  std::lock_guard lock(w->stateMutex);
  if (w->shape.isEmpty())
    return x >= 0 && y >= 0 && x < w->rect.right - w->rect.left &&
           y < w->rect.bottom - w->rect.top;
  return w->shape.contains(QPoint(x, y));
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
    if (w->paintPending.load()) {
      CallProc(w, WM_PAINT, 0, 0);
      w->paintPending = false;
    }
  }
  return true;
}

std::vector<RECT> ScreenWorkAreas() {
  std::vector<RECT> areas;
  if (g_app == nullptr)
    return areas;
  QScreen *primary = QGuiApplication::primaryScreen();
  auto add = [&](QScreen *screen) {
    const QRect a = screen->availableGeometry();
    areas.push_back(
        {a.left(), a.top(), a.left() + a.width(), a.top() + a.height()});
  };
  if (primary != nullptr)
    add(primary);
  for (QScreen *screen : QGuiApplication::screens())
    if (screen != primary)
      add(screen);
  return areas;
}

void Beep(unsigned, unsigned) {
  ++g_beeps;
  if (g_app != nullptr)
    QApplication::beep();
  else
    std::fputc('\a', stderr);
}

unsigned BeepCount() { return g_beeps.load(); }

void CloseOnTerminationSignals(HWND w) {
  if (g_app == nullptr || g_signalPipe[0] >= 0)
    return;
  if (pipe(g_signalPipe) != 0)
    return;
  g_signalWindow = w;
  auto *notifier =
      new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, g_app);
  QObject::connect(notifier, &QSocketNotifier::activated, g_app, [] {
    char byte;
    [[maybe_unused]] ssize_t got = read(g_signalPipe[0], &byte, 1);
    PostMessage(g_signalWindow, WM_CLOSE, 0, 0);
  });
  struct sigaction action {};
  action.sa_handler = OnTerminationSignal;
  sigemptyset(&action.sa_mask);
  for (int signo : {SIGTERM, SIGINT, SIGHUP})
    sigaction(signo, &action, nullptr);
}

} // namespace plat
