// How a window's surface reaches the screen: straight from shared memory
// where the X server can read it in place (XcbPresenter), else painted
// through the toolkit. Not for use outside platform/.
#pragma once

#include <QRegion>

#include <cstdint>

class QWidget;

namespace plat {

struct Window;

// Presents for one window's widget, from its paint events.
class WindowPresenter {
public:
  // Straight from shared memory when the window has an XcbPresenter.
  WindowPresenter(Window *w, QWidget *widget);

  // Whether the surface goes to the X window without the toolkit, which
  // then keeps no copy of it (the widget paints on screen) and must not
  // paint the widget itself.
  bool direct() const { return direct_; }

  // Shows `region` of the surface. Paint events only. Where shared memory
  // fails (pixels of another kind, a scaled desktop), the toolkit presents
  // from then on and a repaint is asked for.
  void Present(const QRegion &region);

private:
  void PresentDirect(const QRegion &region);
  void PresentThroughToolkit(const QRegion &region);

  Window *w_;
  QWidget *widget_;
  bool direct_;
  std::uint32_t target_ = 0;
};

} // namespace plat
