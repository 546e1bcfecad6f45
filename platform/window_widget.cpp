// The widget behind a window: presenting on paint events, the pointer
// (hit test, clicks, moving and resizing by dragging), sizes and moves
// made by the desktop, closing, activation, and a window the desktop
// brought back.
#include <QApplication>
#include <QCursor>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QTextDocument>
#include <QToolTip>
#include <QWindow>
#include <QtGui/qguiapplication_platform.h>

#include <algorithm>
#include <cstdlib>
#include <xcb/xcb.h>

#include "platform/test_hooks.h"
#include "platform/trace.h"
#include "platform/window_internal.h"
#include "platform/window_widget.h"

namespace plat {

namespace {

MINMAXINFO AskMinMax(Window *w) {
  MINMAXINFO info{};
  info.ptMinTrackSize = {1, 1};
  info.ptMaxTrackSize = {32767, 32767};
  CallProc(w, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
  return info;
}

} // namespace

WindowWidget::WindowWidget(Window *w)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint), w_(w),
      presenter_(w, this) {
  setMouseTracking(true);
  // A window that stays on top without taking the keyboard is seldom the
  // active one; its tooltips show all the same (TTS_ALWAYSTIP).
  setAttribute(Qt::WA_AlwaysShowToolTips);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAttribute(Qt::WA_NoSystemBackground);
  // Shown straight from the surface: the toolkit keeps no copy of it.
  setAttribute(Qt::WA_PaintOnScreen, presenter_.direct());
}

QPaintEngine *WindowWidget::paintEngine() const {
  return presenter_.direct() ? nullptr : QWidget::paintEngine();
}

// The desktop's tooltip delay has passed with the pointer at rest: the
// window procedure says what the tooltip there reads.
bool WindowWidget::event(QEvent *event) {
  if (event->type() != QEvent::ToolTip)
    return QWidget::event(event);
  auto *help = static_cast<QHelpEvent *>(event);
  const QString text = ToolTipAt(help->globalPos(), help->pos());
  ShowToolTip(help->globalPos(), text);
  // None here: the next rest waits the whole delay again.
  if (text.isEmpty())
    help->ignore();
  return true;
}

QString WindowWidget::ToolTipAt(const QPoint &global, const QPoint &local) {
  if (Where(global, local) != HTCLIENT)
    return {};
  NMTTDISPINFO info{};
  info.hdr = {w_, TTN_GETDISPINFO};
  CallProc(w_, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&info));
  info.szText[sizeof info.szText - 1] = '\0';
  return QString::fromLatin1(info.szText);
}

void WindowWidget::ShowToolTip(const QPoint &global, const QString &text) {
  tip_ = text;
  if (text.isEmpty())
    QToolTip::hideText();
  else
    QToolTip::showText(global, PlainToolTip(text), this);
}

void WindowWidget::RefreshToolTip() {
  if (tip_.isEmpty() || !QToolTip::isVisible())
    return;
  const QPoint global = QCursor::pos();
  const QString text = ToolTipAt(global, mapFromGlobal(global));
  if (text != tip_)
    ShowToolTip(global, text);
}

void WindowWidget::paintEvent(QPaintEvent *event) {
  presenter_.Present(event->region());
  if (w_->justShown.exchange(false))
    Trace(TRACE_SHOWN);
  Trace(TRACE_PRESENTED);
}

void WindowWidget::resizeEvent(QResizeEvent *) {
  // The window manager resized us (or a resize we asked for landed).
  {
    std::lock_guard lock(w_->stateMutex);
    w_->rect.right = w_->rect.left + width();
    w_->rect.bottom = w_->rect.top + height();
  }
  ApplySize(w_, width(), height());
}

void WindowWidget::moveEvent(QMoveEvent *) {
  std::lock_guard lock(w_->stateMutex);
  const QPoint at = geometry().topLeft();
  const int wd = w_->rect.right - w_->rect.left;
  const int ht = w_->rect.bottom - w_->rect.top;
  w_->rect = {at.x(), at.y(), at.x() + wd, at.y() + ht};
}

void WindowWidget::closeEvent(QCloseEvent *event) {
  if (closingByProc) {
    event->accept();
    return;
  }
  // A close asked by the desktop takes the same road as the close button.
  event->ignore();
  CallProc(w_, WM_CLOSE, 0, 0);
}

void WindowWidget::changeEvent(QEvent *event) {
  QWidget::changeEvent(event);
  // The user has come to it: nothing more to ask for.
  if (event->type() == QEvent::ActivationChange && isActiveWindow())
    SetUrgent(this, false);
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
bool WindowWidget::eventFilter(QObject *watched, QEvent *event) {
  if (event->type() == QEvent::Expose && watched == windowHandle() &&
      w_->minimizeOnExpose && windowHandle()->isExposed()) {
    w_->minimizeOnExpose = false;
    if (!w_->visible.load() && !w_->destroyed.load()) {
      showMinimized();
      return QWidget::eventFilter(watched, event);
    }
  }
  if (event->type() == QEvent::Expose && watched == windowHandle() &&
      !isVisible() && !w_->visible.load() && !w_->destroyed.load() &&
      StillMapped())
    BroughtBack();
  return QWidget::eventFilter(watched, event);
}

void WindowWidget::mousePressEvent(QMouseEvent *event) { Press(event); }

void WindowWidget::mouseDoubleClickEvent(QMouseEvent *event) {
  // Without double-click messages the second click is a plain press.
  Press(event);
}

void WindowWidget::mouseMoveEvent(QMouseEvent *event) {
  const QPoint global = event->globalPosition().toPoint();
  if (drag_ == Drag::Move) {
    const QPoint to = start_.topLeft() + (global - pressGlobal_);
    SetWindowPos(w_, nullptr, to.x(), to.y(), 0, 0, SWP_NOSIZE | SWP_NOZORDER);
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
  RefreshToolTip();
}

void WindowWidget::mouseReleaseEvent(QMouseEvent *event) {
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

// The program holds the window hidden, yet it is on the screen: it is
// visible again, and the program is told and paints it.
void WindowWidget::BroughtBack() {
  w_->visible = true;
  w_->justShown = true;
  QueueSync(w_);
  CallProc(w_, WM_SHOWWINDOW, 1, 0);
  InvalidateRect(w_);
}

// Whether the X window is mapped now. The toolkit's own unmap of a window
// it was asked to hide, if any, goes ahead of the question on the same
// connection: a map that the toolkit undid already answers no.
bool WindowWidget::StillMapped() {
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

LRESULT WindowWidget::HitTest(const QPoint &global) {
  return CallProc(w_, WM_NCHITTEST, 0, MAKELPARAM(global.x(), global.y()));
}

// What the window is at a pointer position: nothing outside its shape
// (the point belongs to whatever lies below), else the hit test's answer.
LRESULT WindowWidget::Where(const QPoint &global, const QPoint &local) {
  if (!ShapeContains(w_, local.x(), local.y()))
    return HTNOWHERE;
  return HitTest(global);
}

void WindowWidget::Press(QMouseEvent *event) {
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

void WindowWidget::BeginDrag(Drag kind, const QPoint &global) {
  drag_ = kind;
  pressGlobal_ = global;
  start_ = geometry();
}

std::string ToolTipShown() {
  if (!QToolTip::isVisible())
    return {};
  const QString tip = QToolTip::text();
  if (!Qt::mightBeRichText(tip))
    return tip.toStdString();
  QTextDocument shown;
  shown.setHtml(tip);
  return shown.toPlainText().toStdString();
}

void UpdateToolTip(HWND w) {
  if (!IsWindow(w))
    return;
  RunOnWindowThread([w] {
    if (!w->destroyed.load() && w->widget != nullptr)
      w->widget->RefreshToolTip();
  });
}

} // namespace plat
