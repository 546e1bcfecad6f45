// skingen: draws the built-in skin and the program icon.
//
//   skingen <resources folder>
//   skingen --icon <size> <file.png>
//   skingen --background <file.jpg>
//
// The first form writes <folder>/skin/<name>.bmp for the 27 elements, at the
// size and depth of the element table, and <folder>/icon/vestibell_<16|32|48>
// .png. That output is committed; run it again only to change the artwork.
// The other two are run by the build: the installed icons and background
// picture, drawn by the same code as the built-in ones. Everything is drawn
// from code (fixed random seed), so a run gives the same images wherever the
// DejaVu fonts are installed.
#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "bmp_writer.h"
#include "pictures.h"
#include "skin/skin_elements.h"

namespace {

// --- palette of the frame ----------------------------------------------------
const QColor kHighlight(0x6a6a71);
const QColor kBodyLight(0x4b4b51);
const QColor kBodyDark(0x313136);
const QColor kShade(0x232326);
const QColor kInner(0x161618);
const QColor kLit(0xffde1a);        // a lit symbol
const QColor kSymbolIdle(0xa4a4ac); // an unlit symbol on a dark key
const QColor kNameYellow(0xffd21a); // the program's name on the corner

QColor Mix(const QColor &a, const QColor &b, double t) {
  return QColor::fromRgbF(a.redF() + (b.redF() - a.redF()) * t,
                          a.greenF() + (b.greenF() - a.greenF()) * t,
                          a.blueF() + (b.blueF() - a.blueF()) * t);
}

QImage Blank(int w, int h) {
  QImage image(w, h, QImage::Format_RGB32);
  image.fill(kBodyDark);
  return image;
}

// Colour of the top frame at row y: outline, highlight, a body that darkens
// downwards, then the shadow that falls into the video area. Rows do not
// vary sideways, so every piece of the top row joins seamlessly.
QColor TopRow(int y, int h) {
  if (y == 0)
    return kOutline;
  if (y == 1)
    return kHighlight;
  if (y == h - 1)
    return kInner;
  if (y == h - 2)
    return kShade;
  return Mix(kBodyLight, kBodyDark, double(y - 2) / std::max(1, h - 5));
}

// The bottom frame: shadow under the video area, a body, then the outline.
QColor BottomRow(int y, int h) {
  if (y == 0)
    return kInner;
  if (y == 1)
    return kShade;
  if (y == h - 1)
    return kOutline;
  if (y == h - 2)
    return Mix(kBodyDark, kOutline, 0.45);
  return Mix(kBodyLight, kBodyDark, double(y - 2) / std::max(1, h - 5));
}

// Columns of the left edge, outside to inside; the right edge mirrors them.
QColor SideColumn(int x) {
  static const QColor cols[8] = {kOutline,
                                 kHighlight,
                                 kBodyLight,
                                 Mix(kBodyLight, kBodyDark, 0.35),
                                 Mix(kBodyLight, kBodyDark, 0.7),
                                 kBodyDark,
                                 kShade,
                                 kInner};
  return cols[std::clamp(x, 0, 7)];
}

void FillRows(QImage &image, QColor (*row)(int, int)) {
  QPainter p(&image);
  for (int y = 0; y < image.height(); ++y) {
    p.setPen(row(y, image.height()));
    p.drawLine(0, y, image.width() - 1, y);
  }
}

QImage TopFrame(int w, int h) {
  QImage image = Blank(w, h);
  FillRows(image, TopRow);
  return image;
}

QImage BottomFrame(int w, int h) {
  QImage image = Blank(w, h);
  FillRows(image, BottomRow);
  return image;
}

// Continues a side edge into a corner piece: `fromX` is where the edge's
// first column lands, `mirror` for the right edge; rows [y0, y1).
void SideInto(QImage &image, int fromX, bool mirror, int y0, int y1) {
  QPainter p(&image);
  for (int i = 0; i < 8; ++i) {
    p.setPen(SideColumn(i));
    const int x = mirror ? fromX + 7 - i : fromX + i;
    p.drawLine(x, y0, x, y1 - 1);
  }
}

QImage LeftEdge(bool mirror) {
  QImage image = Blank(8, 100);
  SideInto(image, 0, mirror, 0, 100);
  return image;
}

QFont Font(const char *family, int pixelSize, int weight,
           int stretch = QFont::Unstretched) {
  QFont font(family);
  font.setPixelSize(pixelSize);
  font.setWeight(static_cast<QFont::Weight>(weight));
  font.setStretch(stretch);
  font.setHintingPreference(QFont::PreferFullHinting);
  font.setStyleStrategy(QFont::PreferAntialias);
  return font;
}

// Text centred in a rectangle with a one-pixel shadow below it.
void Label(QPainter &p, const QRectF &rect, const QString &text,
           const QColor &color, const QColor &shadow) {
  p.setPen(shadow);
  p.drawText(rect.translated(0, 1), Qt::AlignCenter, text);
  p.setPen(color);
  p.drawText(rect, Qt::AlignCenter, text);
}

// A glow behind a lit symbol: lit things look lit, not just recoloured.
void Glow(QPainter &p, const QPointF &centre, double radius, int alpha) {
  QRadialGradient g(centre, radius);
  QColor c = kLit;
  c.setAlpha(alpha);
  g.setColorAt(0, c);
  c.setAlpha(0);
  g.setColorAt(1, c);
  p.setPen(Qt::NoPen);
  p.setBrush(g);
  p.drawEllipse(centre, radius, radius);
}

// --- top row -----------------------------------------------------------------

QImage TopLeft() {
  QImage image = TopFrame(80, 26);
  SideInto(image, 0, false, 1, 26);
  QPainter p(&image);
  p.setPen(kOutline);
  p.drawPoint(0, 0);
  p.setRenderHint(QPainter::TextAntialiasing);
  p.setFont(Font("DejaVu Sans", 13, QFont::Bold, QFont::SemiCondensed));
  Label(p, QRectF(8, 3, 70, 19), "Vestibell", kNameYellow, QColor(0x0c0c0c));
  return image;
}

enum class Glyph { Tick, Dash, Cross };

// One small key of the top-right corner, its face over [x0, x0 + 14).
void SmallKey(QPainter &p, int x0, Glyph glyph, bool lit) {
  const QRectF face(x0 + 0.5, 4.5, 13, 15);
  QLinearGradient g(face.topLeft(), face.bottomLeft());
  g.setColorAt(0, lit ? QColor(0x4a4a50) : QColor(0x3b3b41));
  g.setColorAt(1, lit ? QColor(0x2a2a2e) : QColor(0x1f1f23));
  p.setPen(QPen(kOutline, 1));
  p.setBrush(g);
  p.drawRoundedRect(face, 2.5, 2.5);
  p.setPen(QPen(QColor(255, 255, 255, lit ? 50 : 30), 1));
  p.drawLine(QPointF(x0 + 2.5, 5.5), QPointF(x0 + 11.5, 5.5));

  const QPointF c = face.center();
  if (lit)
    Glow(p, c, 9, 70);
  QPen pen(lit ? kLit : kSymbolIdle, 2.0, Qt::SolidLine, Qt::RoundCap,
           Qt::RoundJoin);
  p.setPen(pen);
  p.setBrush(Qt::NoBrush);
  switch (glyph) {
  case Glyph::Tick: {
    QPainterPath path;
    path.moveTo(c.x() - 3.8, c.y() + 0.2);
    path.lineTo(c.x() - 1.2, c.y() + 3.0);
    path.lineTo(c.x() + 3.8, c.y() - 3.2);
    p.drawPath(path);
    break;
  }
  case Glyph::Dash:
    p.drawLine(QPointF(c.x() - 3.5, c.y() + 2.5),
               QPointF(c.x() + 3.5, c.y() + 2.5));
    break;
  case Glyph::Cross:
    p.drawLine(QPointF(c.x() - 3, c.y() - 3), QPointF(c.x() + 3, c.y() + 3));
    p.drawLine(QPointF(c.x() - 3, c.y() + 3), QPointF(c.x() + 3, c.y() - 3));
    break;
  }
}

// The corner with its three keys. Their faces sit inside the pointer zones
// of the corner: columns 1-19, 26-39 and 46-59 from its left edge.
QImage TopRight(int litKey) {
  QImage image = TopFrame(70, 26);
  SideInto(image, 62, true, 1, 26);
  QPainter p(&image);
  p.setPen(kOutline);
  p.drawPoint(69, 0);
  p.setRenderHint(QPainter::Antialiasing);
  SmallKey(p, 4, Glyph::Tick, litKey == 0);
  SmallKey(p, 26, Glyph::Dash, litKey == 1);
  SmallKey(p, 46, Glyph::Cross, litKey == 2);
  return image;
}

// --- bottom row --------------------------------------------------------------

QImage BottomRight() {
  QImage image = BottomFrame(16, 35);
  SideInto(image, 8, true, 0, 2);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  // The resize grip: three short ridges, clear of the rounded corner.
  for (int i = 0; i < 3; ++i) {
    const double o = 4.0 * i;
    p.setPen(QPen(QColor(0x707078), 1.2));
    p.drawLine(QPointF(12.5 - o, 20.5), QPointF(3.5, 29.5 - o));
    p.setPen(QPen(QColor(0x141416), 1.2));
    p.drawLine(QPointF(13.5 - o, 21.5), QPointF(4.5, 30.5 - o));
  }
  return image;
}

// The handset of the call indicator: a handle arching over two cups.
QPainterPath Handset(const QPointF &c) {
  QPainterPath handle;
  handle.moveTo(c.x() - 8.5, c.y() + 1.5);
  handle.cubicTo(c.x() - 7.5, c.y() - 8, c.x() + 7.5, c.y() - 8, c.x() + 8.5,
                 c.y() + 1.5);
  QPainterPathStroker stroker;
  stroker.setWidth(4.2);
  stroker.setCapStyle(Qt::RoundCap);
  QPainterPath shape = stroker.createStroke(handle);
  QPainterPath cups;
  cups.addRoundedRect(QRectF(c.x() - 12, c.y() - 0.5, 8, 5.5), 2.2, 2.2);
  cups.addRoundedRect(QRectF(c.x() + 4, c.y() - 0.5, 8, 5.5), 2.2, 2.2);
  return shape.united(cups).simplified();
}

QImage BottomLeft(bool lit, bool pressed) {
  QImage image = BottomFrame(31, 35);
  SideInto(image, 0, false, 0, 2);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  const QPointF c(17.5, pressed ? 16.5 : 15.5);
  // A dark well the handset rests in.
  p.setPen(QPen(kOutline, 1));
  QLinearGradient well(QPointF(0, 5), QPointF(0, 27));
  well.setColorAt(0, QColor(0x1c1c1f));
  well.setColorAt(1, QColor(0x2c2c30));
  p.setBrush(well);
  p.drawRoundedRect(QRectF(3.5, 5.5, 27, 22), 4, 4);
  if (lit)
    Glow(p, c, 15, 90);
  const QPainterPath set = Handset(c);
  p.setPen(QPen(lit ? QColor(0x7a5a00) : QColor(0x707078), 1));
  p.setBrush(lit ? kLit : QColor(0x0e0e10));
  p.drawPath(set);
  return image;
}

enum class Key { Relay1, Relay2, Call, HangUp };
enum class Face { Up, Over, Down };

// A 73 x 35 button: the bottom frame with a key whose face lies inside the
// button's pointer zone (columns 1-67, rows 1-29).
QImage Button(Key key, Face face) {
  QImage image = BottomFrame(73, 35);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  const bool lit = face != Face::Up;
  const bool down = face == Face::Down;
  const double dy = down ? 1 : 0;
  const QRectF rect(4.5, 5.5 + dy, 63, 22);

  // Recess around the key.
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0, 0, 0, 70));
  p.drawRoundedRect(QRectF(3.5, 4.5, 65, 25), 5, 5);

  QColor top, bottom, border, gloss, ink, inkShadow;
  const bool relay = key == Key::Relay1 || key == Key::Relay2;
  if (relay) {
    top = QColor(0xf3b43c);
    bottom = QColor(0xc27410);
    border = QColor(0x5e3504);
    gloss = QColor(255, 236, 170, 150);
    ink = lit ? kLit : QColor(0xb81414);
    inkShadow = lit ? QColor(0x5a2800) : QColor(255, 214, 140, 120);
  } else if (key == Key::Call) {
    top = QColor(0x4e4e55);
    bottom = QColor(0x29292d);
    border = kOutline;
    gloss = QColor(255, 255, 255, 45);
    ink = lit ? kLit : QColor(0xcdcdd3);
    inkShadow = QColor(0x0a0a0a);
  } else {
    top = QColor(0x7c2320);
    bottom = QColor(0x46100e);
    border = QColor(0x1a0404);
    gloss = QColor(255, 200, 200, 45);
    ink = lit ? kLit : QColor(0xead2d0);
    inkShadow = QColor(0x140202);
  }
  if (down) {
    std::swap(top, bottom);
    top = top.darker(110);
  }
  QLinearGradient g(rect.topLeft(), rect.bottomLeft());
  g.setColorAt(0, top);
  g.setColorAt(1, bottom);
  p.setPen(QPen(border, 1));
  p.setBrush(g);
  p.drawRoundedRect(rect, 4, 4);
  if (!down) {
    p.setPen(QPen(gloss, 1));
    p.drawLine(QPointF(rect.left() + 3, rect.top() + 1),
               QPointF(rect.right() - 3, rect.top() + 1));
  }
  if (lit && !relay)
    Glow(p, rect.center(), 26, 40);

  if (relay) {
    const QString digit = key == Key::Relay1 ? "1" : "2";
    p.setFont(Font("DejaVu Sans", 19, QFont::Black));
    if (lit) {
      // A lit digit needs a dark rim to stand out on the amber key.
      QPainterPath path;
      const QFontMetricsF fm(p.font());
      const double x = rect.center().x() - fm.horizontalAdvance(digit) / 2;
      const double y = rect.center().y() + fm.capHeight() / 2;
      path.addText(QPointF(x, y), p.font(), digit);
      p.setPen(
          QPen(inkShadow, 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
      p.setBrush(ink);
      p.drawPath(path);
      p.setPen(Qt::NoPen);
      p.drawPath(path);
    } else {
      Label(p, rect, digit, ink, inkShadow);
    }
  } else {
    const QString text = key == Key::Call ? "Door Phone" : "Terminer";
    // The largest condensed bold size that fits the key.
    int size = 13;
    QFont font;
    for (; size > 7; --size) {
      font = Font("DejaVu Sans", size, QFont::Bold, QFont::SemiCondensed);
      if (QFontMetricsF(font).horizontalAdvance(text) <= rect.width() - 8)
        break;
    }
    p.setFont(font);
    Label(p, rect, text, ink, inkShadow);
  }
  return image;
}

void SaveBmp(const std::string &folder, int index, const QImage &image) {
  const t_SkinBuiltin &builtin = kSkinBuiltin[index];
  const std::string path = folder + "/" + NameBMP[index] + ".bmp";
  if (image.width() != builtin.width || image.height() != builtin.height ||
      !WriteBmp(path, image, builtin.bitsPerPixel)) {
    std::fprintf(stderr, "skingen: cannot write %s\n", path.c_str());
    std::exit(1);
  }
}

} // namespace

int main(int argc, char **argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  const bool icon = mode == "--icon" && argc == 4;
  const bool background = mode == "--background" && argc == 3;
  if (argc != 2 && !icon && !background) {
    std::fprintf(stderr, "usage: skingen <resources folder>\n"
                         "       skingen --icon <size> <file.png>\n"
                         "       skingen --background <file.jpg>\n");
    return 2;
  }
  // Fonts need a GUI application; no display is needed.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);

  // The installed icons and background picture, drawn at build time by the
  // same code as the built-in ones.
  if (icon) {
    const int size = std::atoi(argv[2]);
    if (size < 16 || size > 1024 || !Icon(size).save(argv[3], "PNG")) {
      std::fprintf(stderr, "skingen: cannot write %s\n", argv[3]);
      return 1;
    }
    return 0;
  }
  if (background) {
    if (!BackgroundJpeg(argv[2])) {
      std::fprintf(stderr, "skingen: cannot write %s\n", argv[2]);
      return 1;
    }
    return 0;
  }

  const std::string root = argv[1];
  const std::string skin = root + "/skin";
  const std::string iconFolder = root + "/icon";
  std::filesystem::create_directories(skin);
  std::filesystem::create_directories(iconFolder);

  SaveBmp(skin, SKIN_L, LeftEdge(false));
  SaveBmp(skin, SKIN_R, LeftEdge(true));
  SaveBmp(skin, SKIN_T, TopFrame(128, 26));
  SaveBmp(skin, SKIN_B, BottomFrame(24, 35));
  SaveBmp(skin, SKIN_TL, TopLeft());
  SaveBmp(skin, SKIN_TR, TopRight(-1));
  SaveBmp(skin, SKIN_TR_S, TopRight(0));
  SaveBmp(skin, SKIN_TR_M, TopRight(1));
  SaveBmp(skin, SKIN_TR_C, TopRight(2));
  SaveBmp(skin, SKIN_BR, BottomRight());
  SaveBmp(skin, SKIN_BL_OFF, BottomLeft(false, false));
  SaveBmp(skin, SKIN_BL_ON, BottomLeft(true, false));
  SaveBmp(skin, SKIN_BL_OVER, BottomLeft(true, false));
  SaveBmp(skin, SKIN_BL_DOWN, BottomLeft(true, true));
  SaveBmp(skin, SKIN_B1_UP, Button(Key::Relay1, Face::Up));
  SaveBmp(skin, SKIN_B1_OVER, Button(Key::Relay1, Face::Over));
  SaveBmp(skin, SKIN_B1_DOWN, Button(Key::Relay1, Face::Down));
  SaveBmp(skin, SKIN_B2_UP, Button(Key::Relay2, Face::Up));
  SaveBmp(skin, SKIN_B2_OVER, Button(Key::Relay2, Face::Over));
  SaveBmp(skin, SKIN_B2_DOWN, Button(Key::Relay2, Face::Down));
  SaveBmp(skin, SKIN_B3_UP, Button(Key::Call, Face::Up));
  SaveBmp(skin, SKIN_B3_OVER, Button(Key::Call, Face::Over));
  SaveBmp(skin, SKIN_B3_DOWN, Button(Key::Call, Face::Down));
  SaveBmp(skin, SKIN_B4_UP, Button(Key::HangUp, Face::Up));
  SaveBmp(skin, SKIN_B4_OVER, Button(Key::HangUp, Face::Over));
  SaveBmp(skin, SKIN_B4_DOWN, Button(Key::HangUp, Face::Down));
  BackgroundBmp(skin + "/pozadi.bmp");

  for (int size : {16, 32, 48}) {
    const std::string path =
        iconFolder + "/vestibell_" + std::to_string(size) + ".png";
    if (!Icon(size).save(QString::fromStdString(path), "PNG")) {
      std::fprintf(stderr, "skingen: cannot write %s\n", path.c_str());
      return 1;
    }
  }
  return 0;
}
