// Presenting through MIT-SHM on a connection of our own, so that the
// toolkit's connection and event thread never see our requests or errors.
#include "platform/present_xcb.h"

#include <xcb/shm.h>
#include <xcb/xcb.h>

#include <sys/ipc.h>
#include <sys/shm.h>

#include <bit>
#include <cstdlib>
#include <map>
#include <mutex>

namespace plat {

namespace {

// One connection for the process; xcb lets every thread use it.
xcb_connection_t *Connection() {
  static xcb_connection_t *const connection = []() -> xcb_connection_t * {
    xcb_connection_t *c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c)) {
      xcb_disconnect(c);
      return nullptr;
    }
    xcb_shm_query_version_reply_t *version =
        xcb_shm_query_version_reply(c, xcb_shm_query_version(c), nullptr);
    if (version == nullptr) {
      xcb_disconnect(c);
      return nullptr;
    }
    std::free(version);
    return c;
  }();
  return connection;
}

// The shared segments alive, by the address of their pixels.
struct Segment {
  xcb_shm_seg_t seg;
  void *addr;
};
std::mutex g_segmentMutex;
std::map<const void *, Segment> g_segments;

void FreeSegment(void *addr) {
  Segment segment{};
  {
    std::lock_guard lock(g_segmentMutex);
    auto it = g_segments.find(addr);
    if (it == g_segments.end())
      return;
    segment = it->second;
    g_segments.erase(it);
  }
  // The server handles requests in order: whatever it still had to read
  // from the segment comes before the detach.
  xcb_connection_t *c = Connection();
  xcb_shm_detach(c, segment.seg);
  xcb_flush(c);
  shmdt(segment.addr);
}

bool FindSegment(const void *addr, xcb_shm_seg_t *seg) {
  std::lock_guard lock(g_segmentMutex);
  auto it = g_segments.find(addr);
  if (it == g_segments.end())
    return false;
  *seg = it->second.seg;
  return true;
}

// Whether pixels of `depth` on `visual` are the surface's: 32 bits a pixel,
// B, G, R in the low three bytes of a host-order word.
bool SameKind(xcb_connection_t *c, std::uint8_t depth, xcb_visualid_t visual) {
  const xcb_setup_t *setup = xcb_get_setup(c);
  const bool little = std::endian::native == std::endian::little;
  if (setup->image_byte_order !=
      (little ? XCB_IMAGE_ORDER_LSB_FIRST : XCB_IMAGE_ORDER_MSB_FIRST))
    return false;
  bool bits32 = false;
  for (auto f = xcb_setup_pixmap_formats_iterator(setup); f.rem;
       xcb_format_next(&f))
    if (f.data->depth == depth)
      bits32 = f.data->bits_per_pixel == 32;
  if (!bits32)
    return false;
  for (auto s = xcb_setup_roots_iterator(setup); s.rem; xcb_screen_next(&s))
    for (auto d = xcb_screen_allowed_depths_iterator(s.data); d.rem;
         xcb_depth_next(&d)) {
      if (d.data->depth != depth)
        continue;
      for (auto v = xcb_depth_visuals_iterator(d.data); v.rem;
           xcb_visualtype_next(&v))
        if (v.data->visual_id == visual)
          return v.data->red_mask == 0xFF0000u &&
                 v.data->green_mask == 0xFF00u && v.data->blue_mask == 0xFFu;
    }
  return false;
}

void DropErrors(xcb_connection_t *c) {
  // Nothing selects events on this connection: what arrives are errors of
  // requests nobody waits for (a put to a window just destroyed). Only
  // what waiting for a reply has already read is dropped: reading the
  // connection again here would cost a system call a frame.
  while (xcb_generic_event_t *e = xcb_poll_for_queued_event(c))
    std::free(e);
}

} // namespace

struct XcbPresenter::State {
  xcb_connection_t *c = nullptr;
  xcb_window_t window = 0;
  xcb_gcontext_t gc = 0;
  std::uint8_t depth = 0;
  bool pending = false;
  xcb_get_input_focus_cookie_t settle{};
};

std::unique_ptr<XcbPresenter> XcbPresenter::Create() {
  xcb_connection_t *c = Connection();
  if (c == nullptr)
    return nullptr;
  std::unique_ptr<XcbPresenter> p(new XcbPresenter);
  p->s_ = std::make_unique<State>();
  p->s_->c = c;
  // A segment the server cannot attach means a display elsewhere.
  if (p->NewSurface(1, 1).isNull())
    return nullptr;
  return p;
}

XcbPresenter::~XcbPresenter() {
  Settle();
  if (s_->gc != 0) {
    xcb_free_gc(s_->c, s_->gc);
    xcb_flush(s_->c);
  }
}

QImage XcbPresenter::NewSurface(int width, int height) {
  if (width <= 0 || height <= 0)
    return {};
  const std::size_t bytes = static_cast<std::size_t>(width) * height * 4;
  const int id = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
  if (id < 0)
    return {};
  void *addr = shmat(id, nullptr, 0);
  if (addr == reinterpret_cast<void *>(-1)) {
    shmctl(id, IPC_RMID, nullptr);
    return {};
  }
  const xcb_shm_seg_t seg = xcb_generate_id(s_->c);
  xcb_generic_error_t *error = xcb_request_check(
      s_->c,
      xcb_shm_attach_checked(s_->c, seg, static_cast<std::uint32_t>(id), 0));
  // Marked for removal now: it goes when both sides have let go, even if
  // the process is killed.
  shmctl(id, IPC_RMID, nullptr);
  if (error != nullptr) {
    std::free(error);
    shmdt(addr);
    return {};
  }
  {
    std::lock_guard lock(g_segmentMutex);
    g_segments[addr] = {seg, addr};
  }
  return QImage(static_cast<uchar *>(addr), width, height, width * 4,
                QImage::Format_RGB32, FreeSegment, addr);
}

bool XcbPresenter::SetTarget(std::uint32_t window) {
  State &s = *s_;
  Settle();
  if (s.gc != 0)
    xcb_free_gc(s.c, s.gc);
  s.gc = 0;
  s.window = 0;
  if (window == 0)
    return false;
  xcb_get_geometry_reply_t *geometry =
      xcb_get_geometry_reply(s.c, xcb_get_geometry(s.c, window), nullptr);
  xcb_get_window_attributes_reply_t *attributes =
      xcb_get_window_attributes_reply(
          s.c, xcb_get_window_attributes(s.c, window), nullptr);
  const bool usable = geometry != nullptr && attributes != nullptr &&
                      SameKind(s.c, geometry->depth, attributes->visual);
  if (usable) {
    s.depth = geometry->depth;
    s.gc = xcb_generate_id(s.c);
    const std::uint32_t noExposures = 0;
    xcb_create_gc(s.c, s.gc, window, XCB_GC_GRAPHICS_EXPOSURES, &noExposures);
    s.window = window;
  }
  std::free(geometry);
  std::free(attributes);
  xcb_flush(s.c);
  return usable;
}

bool XcbPresenter::Present(const QImage &surface, const QRegion &area) {
  State &s = *s_;
  xcb_shm_seg_t seg;
  if (s.window == 0 || xcb_connection_has_error(s.c) ||
      surface.bytesPerLine() != surface.width() * 4 ||
      !FindSegment(surface.constBits(), &seg))
    return false;
  const QRegion inside = area.intersected(surface.rect());
  for (const QRect &r : inside)
    xcb_shm_put_image(
        s.c, s.window, s.gc, static_cast<std::uint16_t>(surface.width()),
        static_cast<std::uint16_t>(surface.height()),
        static_cast<std::uint16_t>(r.x()), static_cast<std::uint16_t>(r.y()),
        static_cast<std::uint16_t>(r.width()),
        static_cast<std::uint16_t>(r.height()),
        static_cast<std::int16_t>(r.x()), static_cast<std::int16_t>(r.y()),
        s.depth, XCB_IMAGE_FORMAT_Z_PIXMAP, 0, seg, 0);
  // A request with a reply behind the puts: once it is answered the server
  // has read the pixels (see Settle). An older one still unanswered is
  // dropped: the new one comes later.
  if (s.pending)
    xcb_discard_reply(s.c, s.settle.sequence);
  s.settle = xcb_get_input_focus(s.c);
  s.pending = true;
  xcb_flush(s.c);
  return true;
}

void XcbPresenter::Settle() {
  State &s = *s_;
  if (s.pending) {
    std::free(xcb_get_input_focus_reply(s.c, s.settle, nullptr));
    s.pending = false;
  }
  DropErrors(s.c);
}

} // namespace plat
