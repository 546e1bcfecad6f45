// Presenting a window's surface: new surfaces, drawn areas handed to the
// window thread, and the two ways the pixels reach the screen.
#include <QPainter>
#include <QWidget>

#include "platform/present.h"
#include "platform/window_internal.h"
#include "platform/window_widget.h"

namespace plat {

WindowPresenter::WindowPresenter(Window *w, QWidget *widget)
    : w_(w), widget_(widget), direct_(w->presenter != nullptr) {}

void WindowPresenter::Present(const QRegion &region) {
  if (direct_)
    PresentDirect(region);
  else
    PresentThroughToolkit(region);
}

void WindowPresenter::PresentDirect(const QRegion &region) {
  std::lock_guard lock(w_->surfaceMutex);
  if (w_->surface.isNull())
    return;
  XcbPresenter *presenter = w_->presenter.get();
  // A desktop that scales windows wants the surface enlarged, which only
  // the toolkit does.
  if (widget_->devicePixelRatio() != 1.0)
    presenter = nullptr;
  // The toolkit may have made a new X window for us (some changes of
  // window flags do); the id is checked on every paint.
  const std::uint32_t id = static_cast<std::uint32_t>(widget_->winId());
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
  widget_->setAttribute(Qt::WA_PaintOnScreen, false);
  widget_->update();
}

void WindowPresenter::PresentThroughToolkit(const QRegion &region) {
  QPainter painter(widget_);
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

} // namespace plat
