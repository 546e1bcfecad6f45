// What the desktop around the windows offers: the screens' work areas, the
// bell, and whether a window manager runs.
#include <QApplication>
#include <QScreen>
#include <QtGui/qguiapplication_platform.h>

#include <cstdio>
#include <cstdlib>
#include <xcb/xcb.h>

#include "platform/test_hooks.h"
#include "platform/window_internal.h"

namespace plat {

namespace {

std::atomic<unsigned> g_beeps{0};

} // namespace

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

} // namespace plat
