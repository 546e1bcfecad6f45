// Pop-up menus on QMenu.
#include <QCursor>
#include <QMenu>

#include <string>
#include <vector>

#include "platform/dialog_box.h"
#include "platform/menu.h"
#include "platform/window_internal.h"

namespace plat {

struct Menu {
  struct Item {
    bool separator = false;
    std::uintptr_t id = 0;
    std::string text;
  };
  std::vector<Item> items;
};

HMENU CreatePopupMenu() { return new Menu; }

bool AppendMenu(HMENU menu, UINT flags, std::uintptr_t id, const char *text) {
  if (menu == nullptr)
    return false;
  Menu::Item item;
  item.separator = (flags & MF_SEPARATOR) != 0;
  item.id = id;
  if (!item.separator && text != nullptr)
    item.text = text;
  menu->items.push_back(std::move(item));
  return true;
}

bool DestroyMenu(HMENU menu) {
  delete menu;
  return menu != nullptr;
}

bool TrackPopupMenu(HMENU menu, int x, int y, HWND hwnd) {
  if (menu == nullptr || g_app == nullptr || !IsWindowThread())
    return false;
  auto *shown = new QMenu;
  shown->setAttribute(Qt::WA_DeleteOnClose);
  for (const Menu::Item &item : menu->items) {
    if (item.separator) {
      shown->addSeparator();
      continue;
    }
    // An action's text takes '&' as the mark of its shortcut key; ours
    // stand for themselves.
    QString text = QString::fromUtf8(item.text.c_str());
    text.replace(QLatin1Char('&'), QLatin1String("&&"));
    QAction *action = shown->addAction(text);
    const std::uintptr_t id = item.id;
    QObject::connect(action, &QAction::triggered, shown,
                     [hwnd, id] { PostMessage(hwnd, WM_COMMAND, id, 0); });
  }
  shown->popup(QPoint(x, y));
  return true;
}

bool GetCursorPos(POINT *point) {
  if (point == nullptr || g_app == nullptr)
    return false;
  const QPoint at = QCursor::pos();
  *point = {at.x(), at.y()};
  return true;
}

} // namespace plat
