// Tray icons on QSystemTrayIcon.
#include <QApplication>
#include <QFont>
#include <QPainter>
#include <QPixmap>
#include <QSystemTrayIcon>
#include <QTextDocument>

#include <algorithm>
#include <map>
#include <mutex>
#include <string>
#include <utility>

#include "platform/test_hooks.h"
#include "platform/tray.h"
#include "platform/window_internal.h"

namespace plat {

// Qt shows a tooltip that looks like rich text as HTML, images from local
// files included. The tip is the door unit's text: such a one is handed
// over escaped, so it shows as the very characters it holds.
QString PlainToolTip(const QString &text) {
  if (!Qt::mightBeRichText(text))
    return text;
  return Qt::convertFromPlainText(text, Qt::WhiteSpacePre);
}

namespace {

struct Entry {
  QSystemTrayIcon *icon = nullptr; // window thread only
  std::string tip;                 // guarded by g_mutex
  HICON image = nullptr;
  UINT callback = 0;
};

std::mutex g_mutex;
std::map<std::pair<HWND, UINT>, Entry> g_icons;

void Post(HWND hwnd, UINT message, UINT id, UINT mouse) {
  PostMessage(hwnd, message, id, static_cast<LPARAM>(mouse));
}

// Makes the real icon follow its entry. Window thread only.
void SyncIcon(HWND hwnd, UINT id) {
  std::string tip;
  HICON image;
  UINT callback;
  {
    std::lock_guard lock(g_mutex);
    auto it = g_icons.find({hwnd, id});
    if (it == g_icons.end())
      return;
    tip = it->second.tip;
    image = it->second.image;
    callback = it->second.callback;
    if (it->second.icon == nullptr) {
      auto *icon = new QSystemTrayIcon(qApp);
      QObject::connect(
          icon, &QSystemTrayIcon::activated, qApp,
          [hwnd, id, callback](QSystemTrayIcon::ActivationReason why) {
            switch (why) {
            case QSystemTrayIcon::Trigger:
              Post(hwnd, callback, id, WM_LBUTTONDOWN);
              Post(hwnd, callback, id, WM_LBUTTONUP);
              break;
            case QSystemTrayIcon::DoubleClick:
              Post(hwnd, callback, id, WM_LBUTTONDBLCLK);
              Post(hwnd, callback, id, WM_LBUTTONUP);
              break;
            case QSystemTrayIcon::Context:
              Post(hwnd, callback, id, WM_RBUTTONDOWN);
              Post(hwnd, callback, id, WM_RBUTTONUP);
              break;
            default:
              break;
            }
          });
      it->second.icon = icon;
    }
    QSystemTrayIcon *icon = it->second.icon;
    if (image != nullptr && icon->icon().cacheKey() != image->icon.cacheKey())
      icon->setIcon(image->icon);
    const QString qtip = PlainToolTip(QString::fromLatin1(tip.c_str()));
    if (icon->toolTip() != qtip)
      icon->setToolTip(qtip);
    if (!icon->isVisible())
      icon->show();
  }
}

void RemoveIcon(HWND hwnd, UINT id) {
  QSystemTrayIcon *icon = nullptr;
  {
    std::lock_guard lock(g_mutex);
    auto it = g_icons.find({hwnd, id});
    if (it == g_icons.end())
      return;
    icon = it->second.icon;
    g_icons.erase(it);
  }
  if (icon != nullptr) {
    icon->hide();
    icon->deleteLater();
  }
}

// The mark's red: apart from every colour of the program's icon, so a test
// can find it on the tray.
const QColor kMarkRed(0xE5, 0x1C, 0x23);

QPixmap MarkPixmap(const QPixmap &base, int count) {
  QPixmap marked = base;
  QPainter painter(&marked);
  painter.setRenderHint(QPainter::Antialiasing);
  const qreal side =
      std::min(marked.width(), marked.height()) / marked.devicePixelRatio();
  const qreal d = side * 0.62;
  const QRectF disc(side - d, 0, d, d);
  painter.setPen(QPen(Qt::white, std::max<qreal>(1, side / 24)));
  painter.setBrush(kMarkRed);
  painter.drawEllipse(disc);
  // Below 20 pixels a digit cannot be read: the disc says it alone.
  if (side >= 20) {
    QFont font = painter.font();
    font.setBold(true);
    font.setPixelSize(static_cast<int>(d * (count > 9 ? 0.5 : 0.72)));
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(disc, Qt::AlignCenter,
                     count > 9 ? QStringLiteral("9+") : QString::number(count));
  }
  return marked;
}

std::mutex g_markMutex;
std::map<std::pair<HICON, int>, HICON> g_marked;

} // namespace

HICON MarkedIcon(HICON base, int count) {
  if (base == nullptr || count < 1)
    return base;
  count = std::min(count, 10); // "9+"
  std::lock_guard lock(g_markMutex);
  HICON &marked = g_marked[{base, count}];
  if (marked != nullptr)
    return marked;
  auto *icon = new Icon;
  QList<QSize> sizes = base->icon.availableSizes();
  for (const QSize extra : {QSize(22, 22), QSize(24, 24)})
    if (!sizes.contains(extra))
      sizes.push_back(extra);
  for (const QSize &size : sizes)
    icon->icon.addPixmap(MarkPixmap(base->icon.pixmap(size), count));
  marked = icon;
  return marked;
}

bool Shell_NotifyIcon(UINT operation, const NOTIFYICONDATA *data) {
  if (data == nullptr || qApp == nullptr)
    return false;
  const HWND hwnd = data->hWnd;
  const UINT id = data->uID;
  {
    std::lock_guard lock(g_mutex);
    const bool exists = g_icons.count({hwnd, id}) != 0;
    if ((operation == NIM_ADD) == exists && operation != NIM_DELETE)
      return false; // add twice, or change what is not there
    if (operation == NIM_DELETE && !exists)
      return false;
    if (operation != NIM_DELETE) {
      Entry &e = g_icons[{hwnd, id}];
      const Entry before = e;
      if (data->uFlags & NIF_TIP)
        e.tip.assign(data->szTip, strnlen(data->szTip, sizeof data->szTip));
      if (data->uFlags & NIF_ICON)
        e.image = data->hIcon;
      if (data->uFlags & NIF_MESSAGE)
        e.callback = data->uCallbackMessage;
      // The tip is set again with every picture; only a change needs the
      // window thread.
      if (operation == NIM_MODIFY && e.tip == before.tip &&
          e.image == before.image && e.callback == before.callback)
        return true;
    }
  }
  if (operation == NIM_DELETE)
    RunOnWindowThread([hwnd, id] { RemoveIcon(hwnd, id); });
  else
    RunOnWindowThread([hwnd, id] { SyncIcon(hwnd, id); });
  return true;
}

bool HasTrayIcon(HWND hwnd) {
  std::lock_guard lock(g_mutex);
  for (const auto &[key, entry] : g_icons)
    if (key.first == hwnd)
      return true;
  return false;
}

bool TrayAvailable() {
  return qApp != nullptr && QSystemTrayIcon::isSystemTrayAvailable();
}

std::string TrayTip(HWND hwnd, UINT id) {
  std::lock_guard lock(g_mutex);
  auto it = g_icons.find({hwnd, id});
  return it == g_icons.end() ? std::string() : it->second.tip;
}

std::string TrayTipShown(HWND hwnd, UINT id) {
  QString tip;
  {
    std::lock_guard lock(g_mutex);
    auto it = g_icons.find({hwnd, id});
    if (it == g_icons.end() || it->second.icon == nullptr)
      return {};
    tip = it->second.icon->toolTip();
  }
  if (!Qt::mightBeRichText(tip))
    return tip.toStdString();
  QTextDocument shown;
  shown.setHtml(tip);
  return shown.toPlainText().toStdString();
}

} // namespace plat
