// Message boxes on QMessageBox.
#include <QApplication>
#include <QMessageBox>

#include <string>

#include "platform/dialogs.h"
#include "platform/window_internal.h"
#include "platform/window_widget.h"

namespace plat {

int MessageBox(HWND owner, const char *text, const char *caption, UINT type) {
  if (qApp == nullptr)
    return IDOK;
  // Parented to the main window, so it never opens underneath the window
  // that stays on top.
  QMessageBox box(owner ? owner->widget : nullptr);
  box.setWindowTitle(QString::fromLatin1(caption ? caption : ""));
  box.setText(QString::fromLatin1(text ? text : ""));
  box.setIcon((type & MB_ICONHAND) ? QMessageBox::Critical
                                   : QMessageBox::NoIcon);
  box.setWindowModality(Qt::ApplicationModal);
  box.exec();
  return IDOK;
}

void PostMessageBox(HWND owner, const char *text, const char *caption,
                    UINT type) {
  QueueOnWindowThread([owner, t = std::string(text ? text : ""),
                       c = std::string(caption ? caption : ""), type] {
    MessageBox(owner, t.c_str(), c.c_str(), type);
  });
}

} // namespace plat
