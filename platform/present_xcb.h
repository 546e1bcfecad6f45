// A window's surface shown on a local X server straight from shared memory:
// the server copies the drawn rows out of the surface itself, so presenting
// a video frame costs one request instead of a copy into the toolkit's own
// buffer and a wake-up of the window thread. Not for use outside platform/.
#pragma once

#include <QImage>
#include <QRegion>

#include <cstdint>
#include <memory>

namespace plat {

class XcbPresenter {
public:
  // Null where the display is not a local X server with shared memory (a
  // remote display, or no X at all): the toolkit's own path serves then.
  static std::unique_ptr<XcbPresenter> Create();
  ~XcbPresenter();
  XcbPresenter(const XcbPresenter &) = delete;
  XcbPresenter &operator=(const XcbPresenter &) = delete;

  // A 32-bit surface in memory the server can read; a null image when no
  // segment could be shared.
  QImage NewSurface(int width, int height);
  // The X window to show the surface in; false (and nothing shown) when
  // its pixels are not the surface's kind. Window thread only.
  bool SetTarget(std::uint32_t window);
  // Sends `area` of `surface` to the window. False when the surface is not
  // one of NewSurface's or there is no window: the caller presents it the
  // other way.
  bool Present(const QImage &surface, const QRegion &area);
  // Returns once the server has read everything sent, so the surface can
  // be drawn over without the old picture being shown half replaced.
  void Settle();

private:
  XcbPresenter() = default;
  struct State;
  std::unique_ptr<State> s_;
};

} // namespace plat
