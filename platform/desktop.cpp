// What the desktop around the windows offers: the screens' work areas, the
// bell, whether a window manager runs, and what it is asked for a window
// being shown: the workspaces it is on, the keyboard, the user's attention.
#include <QApplication>
#include <QRegion>
#include <QScreen>
#include <QWindow>
#include <QtGui/qguiapplication_platform.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>
#include <vector>
#include <xcb/xcb.h>

#include "platform/test_hooks.h"
#include "platform/window_internal.h"
#include "platform/window_widget.h"

namespace plat {

namespace {

std::atomic<unsigned> g_beeps{0};

xcb_connection_t *XConnection() {
  auto *x11 = g_app
                  ? g_app->nativeInterface<QNativeInterface::QX11Application>()
                  : nullptr;
  return x11 ? x11->connection() : nullptr;
}

xcb_atom_t Atom(xcb_connection_t *c, const char *name) {
  xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(
      c,
      xcb_intern_atom(c, 0, static_cast<std::uint16_t>(std::strlen(name)),
                      name),
      nullptr);
  const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
  std::free(reply);
  return atom;
}

// The 32-bit values of a window's property (at most `most`).
std::vector<std::uint32_t> Values(xcb_connection_t *c, xcb_window_t window,
                                  xcb_atom_t property, xcb_atom_t type,
                                  std::uint32_t most) {
  std::vector<std::uint32_t> values;
  xcb_get_property_reply_t *reply = xcb_get_property_reply(
      c, xcb_get_property(c, 0, window, property, type, 0, most), nullptr);
  if (reply != nullptr && reply->format == 32 && reply->type == type) {
    const auto *data =
        static_cast<const std::uint32_t *>(xcb_get_property_value(reply));
    values.assign(data, data + xcb_get_property_value_length(reply) / 4);
  }
  std::free(reply);
  return values;
}

void SetValues(xcb_connection_t *c, xcb_window_t window, xcb_atom_t property,
               xcb_atom_t type, const std::vector<std::uint32_t> &values) {
  xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, property, type, 32,
                      static_cast<std::uint32_t>(values.size()), values.data());
}

constexpr std::uint32_t kAllDesktops = 0xFFFFFFFFu; // _NET_WM_DESKTOP
// WM_HINTS: flags, input, initial state, ... (9 values).
constexpr std::uint32_t kWmHintsLength = 9;
constexpr std::uint32_t kStateHint = 1u << 1;
constexpr std::uint32_t kUrgencyHint = 1u << 8;
constexpr std::uint32_t kNormalState = 1;

} // namespace

// Whether a window manager runs on the X display: one names its check
// window on the root window, and that window names itself. Elsewhere (no X,
// the offscreen platform) there is none to minimize a window.
bool WindowManagerRunning() {
  xcb_connection_t *c = XConnection();
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

void PrepareShow(QWidget *widget, bool activate) {
  // The toolkit reads the attribute when it makes the native window, and
  // this property of its window at every show after that.
  widget->setAttribute(Qt::WA_ShowWithoutActivating, !activate);
  const auto window = static_cast<xcb_window_t>(widget->winId());
  if (QWindow *handle = widget->windowHandle())
    handle->setProperty("_q_showWithoutActivating", !activate);
  xcb_connection_t *c = XConnection();
  if (c == nullptr)
    return;
  if (!activate) {
    // A time of 0 asks the window manager not to give the new window the
    // keyboard. The toolkit writes it too, but only after it has mapped a
    // minimized window again.
    const std::vector<std::uint32_t> timeWindow = Values(
        c, window, Atom(c, "_NET_WM_USER_TIME_WINDOW"), XCB_ATOM_WINDOW, 1);
    SetValues(c, timeWindow.empty() ? window : timeWindow[0],
              Atom(c, "_NET_WM_USER_TIME"), XCB_ATOM_CARDINAL, {0});
  }
  // What the window manager reads when it takes the window in (and drops
  // when it lets it go). The toolkit writes its own, but mapping a
  // minimized window again it does so only after the map: the window would
  // be taken in minimized, and the next map, a de-iconify, gives it the
  // keyboard. It comes up as it is, then.
  std::vector<std::uint32_t> hints =
      Values(c, window, XCB_ATOM_WM_HINTS, XCB_ATOM_WM_HINTS, kWmHintsLength);
  hints.resize(kWmHintsLength, 0);
  hints[0] |= kStateHint;
  hints[2] = kNormalState;
  SetValues(c, window, XCB_ATOM_WM_HINTS, XCB_ATOM_WM_HINTS, hints);
  const xcb_atom_t state = Atom(c, "_NET_WM_STATE");
  std::vector<std::uint32_t> states =
      Values(c, window, state, XCB_ATOM_ATOM, 64);
  std::erase(states, Atom(c, "_NET_WM_STATE_HIDDEN"));
  if (widget->windowFlags().testFlag(Qt::WindowStaysOnTopHint)) {
    // Above the others on one workspace only, it would leave the user on
    // another one with nothing but the ring.
    SetValues(c, window, Atom(c, "_NET_WM_DESKTOP"), XCB_ATOM_CARDINAL,
              {kAllDesktops});
    for (const char *name : {"_NET_WM_STATE_STICKY", "_NET_WM_STATE_ABOVE"}) {
      const xcb_atom_t atom = Atom(c, name);
      if (std::find(states.begin(), states.end(), atom) == states.end())
        states.push_back(atom);
    }
  }
  SetValues(c, window, state, XCB_ATOM_ATOM, states);
  xcb_flush(c);
}

void SetUrgent(QWidget *widget, bool urgent) {
  xcb_connection_t *c = XConnection();
  if (c == nullptr) {
    if (urgent)
      QApplication::alert(widget);
    return;
  }
  const auto window = static_cast<xcb_window_t>(widget->winId());
  std::vector<std::uint32_t> hints =
      Values(c, window, XCB_ATOM_WM_HINTS, XCB_ATOM_WM_HINTS, kWmHintsLength);
  hints.resize(kWmHintsLength, 0);
  const std::uint32_t flags =
      urgent ? hints[0] | kUrgencyHint : hints[0] & ~kUrgencyHint;
  if (flags == hints[0])
    return;
  hints[0] = flags;
  SetValues(c, window, XCB_ATOM_WM_HINTS, XCB_ATOM_WM_HINTS, hints);
  xcb_flush(c);
}

bool HeldByWindowManager(QWidget *widget) {
  xcb_connection_t *c = XConnection();
  if (c == nullptr)
    return false;
  const xcb_atom_t wmState = Atom(c, "WM_STATE");
  const std::vector<std::uint32_t> state = Values(
      c, static_cast<xcb_window_t>(widget->winId()), wmState, wmState, 1);
  return !state.empty() && state[0] != 0; // 0: Withdrawn
}

namespace {

// A window's rectangle on the root window; empty when it is gone.
QRect RootRect(xcb_connection_t *c, xcb_window_t window, xcb_window_t root) {
  xcb_get_geometry_reply_t *geometry =
      xcb_get_geometry_reply(c, xcb_get_geometry(c, window), nullptr);
  xcb_translate_coordinates_reply_t *at = xcb_translate_coordinates_reply(
      c, xcb_translate_coordinates(c, window, root, 0, 0), nullptr);
  QRect rect;
  if (geometry != nullptr && at != nullptr)
    rect = QRect(at->dst_x, at->dst_y, geometry->width, geometry->height);
  std::free(geometry);
  std::free(at);
  return rect;
}

bool Viewable(xcb_connection_t *c, xcb_window_t window) {
  xcb_get_window_attributes_reply_t *a = xcb_get_window_attributes_reply(
      c, xcb_get_window_attributes(c, window), nullptr);
  const bool viewable = a != nullptr && a->map_state == XCB_MAP_STATE_VIEWABLE;
  std::free(a);
  return viewable;
}

qint64 Area(const QRegion &region) {
  qint64 area = 0;
  for (const QRect &r : region)
    area += static_cast<qint64>(r.width()) * r.height();
  return area;
}

} // namespace

WindowView ViewOfWindow(HWND w) {
  if (!IsWindowVisible(w) || w->widget == nullptr || !w->widget->isVisible())
    return WindowView::Hidden;
  QWidget *widget = w->widget;
  if (widget->windowState().testFlag(Qt::WindowMinimized))
    return WindowView::Minimized;
  xcb_connection_t *c = XConnection();
  const xcb_screen_t *screen =
      c != nullptr ? xcb_setup_roots_iterator(xcb_get_setup(c)).data : nullptr;
  if (screen == nullptr)
    return WindowView::InView;
  const auto window = static_cast<xcb_window_t>(widget->winId());
  const xcb_atom_t wmState = Atom(c, "WM_STATE");
  const std::vector<std::uint32_t> state =
      Values(c, window, wmState, wmState, 1);
  const std::vector<std::uint32_t> states =
      Values(c, window, Atom(c, "_NET_WM_STATE"), XCB_ATOM_ATOM, 64);
  const xcb_atom_t hidden = Atom(c, "_NET_WM_STATE_HIDDEN");
  if ((!state.empty() && state[0] == 3) || // Iconic
      std::find(states.begin(), states.end(), hidden) != states.end())
    return WindowView::Minimized;
  const std::vector<std::uint32_t> desktop =
      Values(c, window, Atom(c, "_NET_WM_DESKTOP"), XCB_ATOM_CARDINAL, 1);
  const std::vector<std::uint32_t> current = Values(
      c, screen->root, Atom(c, "_NET_CURRENT_DESKTOP"), XCB_ATOM_CARDINAL, 1);
  if (!desktop.empty() && !current.empty() && desktop[0] != kAllDesktops &&
      desktop[0] != current[0])
    return WindowView::OtherWorkspace;
  if (!Viewable(c, window))
    return WindowView::Minimized;

  // The window manager's stacking order, bottom first: what lies above
  // this window and is on the screen covers it, unless it is one of this
  // program's own (a dialog of the call).
  const std::vector<std::uint32_t> stacking =
      Values(c, screen->root, Atom(c, "_NET_CLIENT_LIST_STACKING"),
             XCB_ATOM_WINDOW, 4096);
  const auto self = std::find(stacking.begin(), stacking.end(), window);
  const QRect own = RootRect(c, window, screen->root);
  if (self == stacking.end() || own.isEmpty())
    return WindowView::InView;
  const xcb_atom_t pidAtom = Atom(c, "_NET_WM_PID");
  const auto pid = static_cast<std::uint32_t>(getpid());
  QRegion seen(own);
  for (auto above = self + 1; above != stacking.end(); ++above) {
    const std::vector<std::uint32_t> owner =
        Values(c, *above, pidAtom, XCB_ATOM_CARDINAL, 1);
    if ((!owner.empty() && owner[0] == pid) || !Viewable(c, *above))
      continue;
    seen -= RootRect(c, *above, screen->root);
  }
  return Area(seen) * 2 < Area(QRegion(own)) ? WindowView::Covered
                                             : WindowView::InView;
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
