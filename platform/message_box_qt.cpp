// Message boxes on QMessageBox.
#include <QApplication>
#include <QMessageBox>

#include <string>

#include "platform/message_box.h"
#include "platform/window_internal.h"
#include "platform/window_widget.h"

namespace plat {

namespace {

QMessageBox::Icon IconOf(UINT type) {
  switch (type & MB_ICONMASK) {
  case MB_ICONHAND:
    return QMessageBox::Critical;
  case MB_ICONQUESTION:
    return QMessageBox::Question;
  case MB_ICONEXCLAMATION:
    return QMessageBox::Warning;
  case MB_ICONINFORMATION:
    return QMessageBox::Information;
  default:
    return QMessageBox::NoIcon;
  }
}

// Every box is parented to its owner (the main window), so that it never
// opens underneath the window that stays on top.
void Fill(QMessageBox &box, const char *text, const char *caption, UINT type) {
  box.setWindowTitle(QString::fromLatin1(caption ? caption : ""));
  // The text may be a peer's (a callee's reason phrase): the characters it
  // holds, never markup that would draw a local file.
  box.setTextFormat(Qt::PlainText);
  box.setText(QString::fromLatin1(text ? text : ""));
  box.setIcon(IconOf(type));
}

} // namespace

int MessageBox(HWND owner, const char *text, const char *caption, UINT type) {
  if (qApp == nullptr)
    return IDOK;
  if (!IsWindowThread()) {
    // Another thread waits until the user has closed the box, which the
    // window thread shows.
    RunOnWindowThreadAndWait([owner, t = std::string(text ? text : ""),
                              c = std::string(caption ? caption : ""), type] {
      MessageBox(owner, t.c_str(), c.c_str(), type);
    });
    return IDOK;
  }
  QMessageBox box(IsWindow(owner) ? owner->widget : nullptr);
  Fill(box, text, caption, type);
  box.setWindowModality(Qt::ApplicationModal);
  box.exec();
  return IDOK;
}

void PostMessageBox(HWND owner, const char *text, const char *caption,
                    UINT type) {
  QueueOnWindowThread([owner, t = std::string(text ? text : ""),
                       c = std::string(caption ? caption : ""), type] {
    // No loop of its own: the window thread goes on with whatever comes
    // next (a call that rings meanwhile opens its dialog beside the box).
    // It keeps the owner from input while open, nothing else.
    QWidget *parent = IsWindow(owner) ? owner->widget : nullptr;
    auto *box = new QMessageBox(parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    Fill(*box, t.c_str(), c.c_str(), type);
    box->setWindowModality(parent ? Qt::WindowModal : Qt::NonModal);
    box->show();
  });
}

} // namespace plat
