// Device contexts and bitmaps on QImage and QPainter.
#include <QApplication>
#include <QFont>
#include <QFontMetrics>
#include <QPainter>

#include <atomic>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <iterator>
#include <vector>

#include "platform/files.h"
#include "platform/test_hooks.h"
#include "platform/trace.h"
#include "platform/window_internal.h"

namespace plat {

struct DC {
  Window *window;
  std::unique_lock<std::mutex> lock;
  QPainter painter;
  QRegion touched;
};

namespace {

QColor ToQColor(COLORREF c) {
  return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
}

// A device context's default text face: small and bold, the look of the
// classic system font, from whatever sans-serif face the desktop has.
const QFont &DefaultFont() {
  static const QFont font = [] {
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setStyleHint(QFont::SansSerif);
    f.setPixelSize(12);
    f.setBold(true);
    return f;
  }();
  return font;
}

// The face of DrawSmallText: the same family, smaller and regular.
const QFont &SmallFont() {
  static const QFont font = [] {
    QFont f = DefaultFont();
    f.setPixelSize(10);
    f.setBold(false);
    return f;
  }();
  return font;
}

// Skin files are small; anything larger is not a skin image.
constexpr std::size_t kMaxBitmapFile = 64u << 20;

} // namespace

HDC GetDC(HWND w) {
  if (!IsWindow(w) || qApp == nullptr)
    return nullptr;
  auto *dc = new DC{w, std::unique_lock<std::mutex>(w->surfaceMutex), {}, {}};
  if (w->destroyed.load() || w->surface.isNull()) {
    delete dc;
    return nullptr;
  }
  // The server may still be reading the last picture out of the surface.
  if (w->presenter != nullptr)
    w->presenter->Settle();
  dc->painter.begin(&w->surface);
  dc->painter.setFont(DefaultFont());
  return dc;
}

int ReleaseDC(HWND, HDC dc) {
  if (dc == nullptr)
    return 0;
  dc->painter.end();
  Window *w = dc->window;
  const QRect bounds = w->surface.rect();
  const QRegion touched = dc->touched.intersected(bounds);
  for (Window::Watch &watch : w->watches)
    if (touched.intersects(watch.area))
      ++watch.drawn;
  const bool presented = !touched.isEmpty() && w->presenter != nullptr &&
                         w->presenter->Present(w->surface, touched);
  dc->lock.unlock();
  delete dc;
  if (presented) {
    if (w->justShown.exchange(false))
      Trace(TRACE_SHOWN);
    Trace(TRACE_PRESENTED);
    return 1;
  }
  for (const QRect &r : touched)
    MarkDirty(w, r);
  return 1;
}

HDC BeginPaint(HWND w) {
  if (IsWindow(w))
    w->paintPending = false;
  return GetDC(w);
}

void EndPaint(HWND w, HDC dc) { ReleaseDC(w, dc); }

void BitBlt(HDC dc, int x, int y, int w, int h, HBITMAP src, int sx, int sy) {
  if (dc == nullptr || src == nullptr || w <= 0 || h <= 0)
    return;
  dc->painter.setCompositionMode(QPainter::CompositionMode_Source);
  dc->painter.drawImage(QPoint(x, y), src->image, QRect(sx, sy, w, h));
  dc->touched += QRect(x, y, w, h);
}

void TextOut(HDC dc, int x, int y, const char *text, COLORREF color) {
  if (dc == nullptr || text == nullptr)
    return;
  // Texts are 8-bit, as the door unit and the configuration hold them.
  const QString s = QString::fromLatin1(text);
  dc->painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
  dc->painter.setPen(ToQColor(color));
  const QFontMetrics metrics(dc->painter.font());
  dc->painter.drawText(QPoint(x, y + metrics.ascent()), s);
  dc->touched +=
      QRect(x, y, metrics.horizontalAdvance(s) + 2, metrics.height() + 1);
}

void DrawSmallText(HDC dc, const RECT &r, const char *text, COLORREF color) {
  if (dc == nullptr || text == nullptr || r.right <= r.left ||
      r.bottom <= r.top)
    return;
  const QRect area(r.left, r.top, r.right - r.left, r.bottom - r.top);
  dc->painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
  dc->painter.setPen(ToQColor(color));
  dc->painter.setFont(SmallFont());
  QRect drawn;
  // A QString drawn this way is never read as markup.
  dc->painter.drawText(area, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap,
                       QString::fromLatin1(text), &drawn);
  dc->painter.setFont(DefaultFont());
  dc->touched += drawn.adjusted(0, 0, 2, 1).intersected(area);
}

void FillRect(HDC dc, const RECT &r, COLORREF color) {
  if (dc == nullptr)
    return;
  const QRect area(r.left, r.top, r.right - r.left, r.bottom - r.top);
  dc->painter.setCompositionMode(QPainter::CompositionMode_Source);
  dc->painter.fillRect(area, ToQColor(color));
  dc->touched += area;
}

void DrawPixels(HDC dc, int x, int y, int w, int h, const std::uint8_t *bgrx,
                int stride) {
  if (dc == nullptr || bgrx == nullptr || w <= 0 || h <= 0)
    return;
  QImage &surface = dc->window->surface;
  const QRect area = QRect(x, y, w, h).intersected(surface.rect());
  if (area.isEmpty())
    return;
  if (surface.format() != QImage::Format_RGB32) {
    const QImage view(bgrx, w, h, stride, QImage::Format_RGB32);
    dc->painter.setCompositionMode(QPainter::CompositionMode_Source);
    dc->painter.drawImage(QPoint(x, y), view);
  } else {
    // The surface's own pixel format: the rows go straight in, a video
    // frame at a time, without a painter's detour. The painter draws
    // immediately, so nothing of it is pending over these pixels.
    std::uint8_t *base = surface.bits();
    const qsizetype pitch = surface.bytesPerLine();
    for (int row = area.top(); row <= area.bottom(); ++row) {
      auto *to =
          reinterpret_cast<std::uint32_t *>(base + row * pitch) + area.left();
      const std::uint8_t *from =
          bgrx + static_cast<std::ptrdiff_t>(row - y) * stride +
          static_cast<std::ptrdiff_t>(area.left() - x) * 4;
      int i = 0;
#if defined(__SSE2__)
      // Four pixels a step: a frame of the largest window is a megabyte.
      const __m128i alpha = _mm_set1_epi32(static_cast<int>(0xFF000000u));
      for (; i + 4 <= area.width(); i += 4)
        _mm_storeu_si128(
            reinterpret_cast<__m128i *>(to + i),
            _mm_or_si128(_mm_loadu_si128(
                             reinterpret_cast<const __m128i *>(from + i * 4)),
                         alpha));
#endif
      for (; i < area.width(); ++i) {
        std::uint32_t pixel;
        std::memcpy(&pixel, from + i * 4, 4);
        to[i] = pixel | 0xFF000000u; // X is opaque alpha in this format
      }
    }
  }
  dc->touched += area;
}

std::uint8_t *DevicePixels(HDC dc, int x, int y, int w, int h, int *stride) {
  if (dc == nullptr || stride == nullptr || w <= 0 || h <= 0)
    return nullptr;
  QImage &surface = dc->window->surface;
  const QRect area(x, y, w, h);
  if (surface.format() != QImage::Format_RGB32 ||
      !surface.rect().contains(area))
    return nullptr;
  // The painter draws immediately, so nothing of it is pending over these
  // pixels.
  dc->touched += area;
  *stride = static_cast<int>(surface.bytesPerLine());
  return surface.bits() + static_cast<qsizetype>(y) * surface.bytesPerLine() +
         static_cast<qsizetype>(x) * 4;
}

std::uint64_t DrawnOver(HWND w, const RECT &area) {
  static std::atomic<std::uint64_t> fresh{1ull << 63};
  constexpr std::size_t kMaxWatches = 8;
  if (!IsWindow(w))
    return fresh++;
  const QRect rect(area.left, area.top, area.right - area.left,
                   area.bottom - area.top);
  std::lock_guard lock(w->surfaceMutex);
  for (const Window::Watch &watch : w->watches)
    if (watch.area == rect)
      return watch.drawn;
  if (w->watches.size() >= kMaxWatches)
    return fresh++;
  w->watches.push_back({rect, 0});
  return 0;
}

namespace {

// A picture beyond this many pixels is no image of this program's.
constexpr std::uint64_t kMaxBitmapPixels = 16u << 20;

// What a BMP's headers say of its picture, checked before the toolkit makes
// any of it: the toolkit allocates the whole declared picture and fills
// what the file lacks, so an 82-byte file could ask for 64 MB. An
// uncompressed picture must fit in the file; a run-length coded one can
// be smaller, and only the sides bound it.
bool PlausibleBmp(const std::uint8_t *d, std::size_t n, int maxSide) {
  auto u16 = [d](std::size_t at) {
    return static_cast<std::uint32_t>(d[at] | d[at + 1] << 8);
  };
  auto u32 = [d](std::size_t at) {
    return static_cast<std::uint32_t>(d[at]) | std::uint32_t(d[at + 1]) << 8 |
           std::uint32_t(d[at + 2]) << 16 | std::uint32_t(d[at + 3]) << 24;
  };
  constexpr std::size_t kFileHeader = 14;
  if (n < kFileHeader + 12 || d[0] != 'B' || d[1] != 'M')
    return false;
  const std::uint64_t pixelsAt = u32(10);
  const std::uint32_t infoSize = u32(kFileHeader);
  std::int64_t w, h;
  std::uint32_t bits, compression = 0;
  if (infoSize == 12) { // the old OS/2 header: 16-bit sides
    w = u16(18);
    h = u16(20);
    bits = u16(24);
  } else if (infoSize >= 40 && n >= kFileHeader + 40) {
    w = static_cast<std::int32_t>(u32(18));
    h = static_cast<std::int32_t>(u32(22));
    bits = u16(28);
    compression = u32(30);
  } else {
    return false;
  }
  if (h < 0)
    h = -h; // rows stored top first
  if (w <= 0 || h <= 0 || bits == 0 || bits > 32)
    return false;
  if (maxSide > 0 && (w > maxSide || h > maxSide))
    return false;
  if (static_cast<std::uint64_t>(w) * static_cast<std::uint64_t>(h) >
      kMaxBitmapPixels)
    return false;
  constexpr std::uint32_t kRgb = 0, kBitFields = 3, kAlphaBitFields = 6;
  if (compression == kRgb || compression == kBitFields ||
      compression == kAlphaBitFields) {
    const std::uint64_t stride =
        (static_cast<std::uint64_t>(w) * bits + 31) / 32 * 4;
    if (pixelsAt + stride * static_cast<std::uint64_t>(h) > n)
      return false;
  }
  return true;
}

} // namespace

HBITMAP LoadBitmapMemory(const std::uint8_t *data, std::size_t size,
                         int maxSide) {
  if (data == nullptr || size < 2 || size > kMaxBitmapFile)
    return nullptr;
  // Only a real BMP will do: a picture of another kind that merely carries
  // the name is not a skin element.
  if (!PlausibleBmp(data, size, maxSide))
    return nullptr;
  QImage image;
  if (!image.loadFromData(data, static_cast<int>(size), "BMP") ||
      image.isNull())
    return nullptr;
  auto *bitmap = new Bitmap;
  bitmap->image = image.convertToFormat(QImage::Format_RGB32);
  return bitmap;
}

HBITMAP LoadBitmapFile(const char *path, int maxSide) {
  // The largest file a picture of that size can take: its pixels at 32 bits,
  // and room for headers and a palette.
  const std::size_t limit =
      maxSide > 0 ? static_cast<std::size_t>(maxSide) * maxSide * 4 + 65536
                  : kMaxBitmapFile;
  const auto bytes = ReadRegularFile(path, std::min(limit, kMaxBitmapFile));
  if (!bytes)
    return nullptr;
  return LoadBitmapMemory(bytes->data(), bytes->size(), maxSide);
}

HBITMAP CreateBitmap(int w, int h, const std::uint8_t *bgrx, int stride) {
  if (w <= 0 || h <= 0 || bgrx == nullptr)
    return nullptr;
  auto *bitmap = new Bitmap;
  // A copy: the caller's pixels may go away.
  bitmap->image = QImage(bgrx, w, h, stride, QImage::Format_RGB32).copy();
  return bitmap;
}

bool DeleteObject(HBITMAP bitmap) {
  if (bitmap == nullptr)
    return false;
  delete bitmap;
  return true;
}

int BitmapWidth(HBITMAP bitmap) { return bitmap ? bitmap->image.width() : 0; }
int BitmapHeight(HBITMAP bitmap) { return bitmap ? bitmap->image.height() : 0; }

SurfaceCopy CopySurface(HWND w) {
  SurfaceCopy copy;
  if (!IsWindow(w))
    return copy;
  std::lock_guard lock(w->surfaceMutex);
  if (w->surface.isNull())
    return copy;
  copy.width = w->surface.width();
  copy.height = w->surface.height();
  copy.pixels.resize(static_cast<std::size_t>(copy.width) * copy.height);
  for (int y = 0; y < copy.height; ++y) {
    const auto *row =
        reinterpret_cast<const QRgb *>(w->surface.constScanLine(y));
    for (int x = 0; x < copy.width; ++x)
      copy.pixels[static_cast<std::size_t>(y) * copy.width + x] =
          row[x] & 0xFFFFFFu;
  }
  return copy;
}

} // namespace plat
