// The pictures skingen draws beside the skin's elements: the background
// plate shown while there is no picture, and the program's icon.
#include "pictures.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

#include "bmp_writer.h"

namespace {

constexpr int kBackgroundWidth = 320, kBackgroundHeight = 240;

// The dark scratched plate shown while there is no picture: brushed grain,
// slow mottling, a vignette and scratches, in 256 cool greys. Row-major
// palette indices and the palette.
void Background(std::vector<std::uint8_t> &indices,
                std::vector<std::uint32_t> &palette) {
  const int w = kBackgroundWidth, h = kBackgroundHeight;
  std::mt19937 rng(20240601u);
  std::normal_distribution<double> grain(0.0, 1.0);
  std::uniform_real_distribution<double> uni(0.0, 1.0);

  // Scratches are drawn with anti-aliasing into a grey layer first.
  QImage scratches(w, h, QImage::Format_ARGB32_Premultiplied);
  scratches.fill(Qt::transparent);
  {
    QPainter p(&scratches);
    p.setRenderHint(QPainter::Antialiasing);
    for (int i = 0; i < 170; ++i) {
      // Most run along one grain direction, some across it.
      const bool across = uni(rng) < 0.25;
      const double angle =
          (across ? 1.9 : 0.32) + (uni(rng) - 0.5) * (across ? 0.9 : 0.35);
      const double len = 8 + std::pow(uni(rng), 2.0) * 120;
      const double x = uni(rng) * w, y = uni(rng) * h;
      QPainterPath s;
      s.moveTo(x, y);
      const double bend = (uni(rng) - 0.5) * len * 0.15;
      s.quadTo(x + std::cos(angle) * len / 2 - std::sin(angle) * bend,
               y + std::sin(angle) * len / 2 + std::cos(angle) * bend,
               x + std::cos(angle) * len, y + std::sin(angle) * len);
      const bool bright = uni(rng) < 0.8;
      const int alpha = 30 + static_cast<int>(uni(rng) * 90);
      p.setPen(QPen(bright ? QColor(255, 255, 255, alpha)
                           : QColor(0, 0, 0, alpha + 40),
                    0.5 + uni(rng) * 0.8, Qt::SolidLine, Qt::RoundCap));
      p.drawPath(s);
    }
  }

  std::vector<double> streak(h);
  for (double &s : streak)
    s = grain(rng);
  indices.assign(static_cast<std::size_t>(w) * h, 0);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const double nx = double(x) / w - 0.5, ny = double(y) / h - 0.5;
      double v = 30.0;
      v += 5.0 * std::sin(x * 0.021 + y * 0.013) *
           std::cos(y * 0.027 - x * 0.008);
      v += 3.0 * std::sin(x * 0.067 + 1.3) * std::sin(y * 0.051 + 0.4);
      v += 1.6 * streak[(y + x / 40) % h]; // brushed grain, along the rows
      v += 2.2 * grain(rng);
      v -= 26.0 * (nx * nx + ny * ny); // vignette
      const QRgb s = scratches.pixel(x, y);
      const double a = qAlpha(s) / 255.0;
      if (a > 0) {
        const double target = qRed(s) > 0 ? v + 60.0 : v - 14.0;
        v = v + (target - v) * a;
      }
      indices[static_cast<std::size_t>(y) * w + x] =
          static_cast<std::uint8_t>(std::clamp(std::lround(v), 0L, 255L));
    }
  }
  palette.assign(256, 0);
  for (int i = 0; i < 256; ++i) {
    const int r = std::min(255, static_cast<int>(i * 0.93));
    const int g = std::min(255, static_cast<int>(i * 0.96));
    const int b = i;
    palette[i] = (r << 16) | (g << 8) | b;
  }
}

} // namespace

void BackgroundBmp(const std::string &path) {
  std::vector<std::uint8_t> indices;
  std::vector<std::uint32_t> palette;
  Background(indices, palette);
  if (!WriteBmp8(path, kBackgroundWidth, kBackgroundHeight, indices, palette)) {
    std::fprintf(stderr, "skingen: cannot write %s\n", path.c_str());
    std::exit(1);
  }
}

// The same plate as a JPEG: the background picture an installed program
// finds in its data folder.
bool BackgroundJpeg(const std::string &path) {
  std::vector<std::uint8_t> indices;
  std::vector<std::uint32_t> palette;
  Background(indices, palette);
  QImage image(kBackgroundWidth, kBackgroundHeight, QImage::Format_RGB32);
  for (int y = 0; y < kBackgroundHeight; ++y)
    for (int x = 0; x < kBackgroundWidth; ++x)
      image.setPixel(
          x, y,
          0xff000000u |
              palette[indices[static_cast<std::size_t>(y) * kBackgroundWidth +
                              x]]);
  return image.save(QString::fromStdString(path), "JPG", 92);
}

QImage Icon(int size) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 48.0, size / 48.0);
  QLinearGradient g(QPointF(0, 0), QPointF(0, 48));
  g.setColorAt(0, QColor(0x4a4a51));
  g.setColorAt(1, QColor(0x222226));
  p.setPen(QPen(kOutline, size <= 16 ? 3 : 1.5));
  p.setBrush(g);
  p.drawRoundedRect(QRectF(1, 1, 46, 46), 9, 9);

  QPainterPath bell;
  bell.moveTo(9, 36);
  bell.cubicTo(14, 32, 13, 23, 15, 18);
  bell.cubicTo(17, 11, 21, 9, 24, 9);
  bell.cubicTo(27, 9, 31, 11, 33, 18);
  bell.cubicTo(35, 23, 34, 32, 39, 36);
  bell.closeSubpath();
  p.setPen(QPen(QColor(0x6a4c00), size <= 16 ? 2.5 : 1.5));
  QLinearGradient gold(QPointF(0, 8), QPointF(0, 38));
  gold.setColorAt(0, QColor(0xfff06a));
  gold.setColorAt(1, QColor(0xf0b400));
  p.setBrush(gold);
  p.drawPath(bell);
  p.drawEllipse(QPointF(24, 7.5), 3, 3);
  p.drawEllipse(QPointF(24, 39.5), 4.5, 4.5);
  return image;
}
