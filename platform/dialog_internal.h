// What the dialog files of the Qt layer share: a dialog's state, its
// widget, and the calls between building, running and its items. Not for
// use outside platform/.
#pragma once

#include <QCloseEvent>
#include <QDialog>
#include <QKeyEvent>
#include <QPaintEvent>
#include <QPointer>
#include <QPushButton>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "platform/dialog_box.h"
#include "platform/trace.h"
#include "platform/window_internal.h"

class QEventLoop;

namespace plat {

// An edit control's limit until EM_LIMITTEXT.
constexpr int kDefaultLimit = 32767;

class DialogWidget;

struct Dialog {
  DLGPROC proc = nullptr;
  LPARAM param = 0;
  HWND owner = nullptr;
  bool procOnWindowThread = true;
  bool modal = false;

  // A copy of the template, texts included: the caller's may be temporary.
  DialogTemplate tpl{};
  std::vector<DialogControl> controls;
  std::deque<std::string> strings;

  // What any thread reads or hands over. Guarded by `mutex`.
  std::mutex mutex;
  std::condition_variable changed;
  bool ended = false;
  INT_PTR result = 0;
  bool built = false;
  bool buildFailed = false;
  std::deque<WPARAM> commands; // WM_COMMAND for a worker's procedure
  std::string title;
  BaseUnits units{};
  struct Item {
    std::string text;
    int selStart = 0;
    int selEnd = 0;
    int limit = kDefaultLimit;
    bool checked = false;             // check boxes
    std::vector<std::string> entries; // drop-down lists
    int selection = -1;
  };
  std::vector<Item> items; // by control index

  // Window thread only.
  QPointer<DialogWidget> widget;
  std::vector<QPointer<QWidget>> controlWidgets;
  QEventLoop *loop = nullptr;
};

namespace dialog {

// Every dialog made and not yet ended (openDialogs), and the class icon,
// guarded by openMutex (dialog_run_qt.cpp).
extern std::mutex openMutex;
extern std::vector<Dialog *> openDialogs;
extern HICON classIcon;

// Rounds half away from zero, as Windows' MulDiv does.
int MulDiv(int a, int b, int c);

// Running (dialog_run_qt.cpp).
bool IsEnded(Dialog *d);
// Hands a command of control `id` to the procedure, on its thread.
void Deliver(Dialog *d, int id, unsigned code = BN_CLICKED);
// The index of the control `id`, or -1.
int IndexOf(Dialog *d, int id);
// Window thread. `activate`: takes the keyboard, as a dialog the user
// asked for does.
void Show(Dialog *d, bool activate = true);
// A new dialog, registered as open.
Dialog *NewDialog(const DialogTemplate &tpl, HWND owner, DLGPROC proc,
                  LPARAM param, bool modal);

// Building (dialog_build_qt.cpp). Window thread: makes the widgets, hidden.
bool Build(Dialog *d);

} // namespace dialog

class DialogWidget : public QDialog {
public:
  DialogWidget(Dialog *d, QWidget *parent, Qt::WindowFlags flags)
      : QDialog(parent, flags), d_(d) {}
  bool closingByUs = false;

  void reject() override { dialog::Deliver(d_, IDCANCEL); }

protected:
  void closeEvent(QCloseEvent *event) override {
    if (closingByUs) {
      event->accept();
      return;
    }
    // The close box is a cancel command, as on Windows; the procedure
    // decides whether the dialog closes.
    event->ignore();
    dialog::Deliver(d_, IDCANCEL);
  }

  void keyPressEvent(QKeyEvent *event) override {
    switch (event->key()) {
    case Qt::Key_Escape:
      dialog::Deliver(d_, IDCANCEL);
      return;
    case Qt::Key_Return:
    case Qt::Key_Enter: {
      // The focused push button, else the default command IDOK.
      int id = IDOK;
      if (auto *button = qobject_cast<QPushButton *>(focusWidget()))
        id = button->property("dlgId").toInt();
      dialog::Deliver(d_, id);
      return;
    }
    default:
      QDialog::keyPressEvent(event);
    }
  }

  void changeEvent(QEvent *event) override {
    QDialog::changeEvent(event);
    // The user has come to it: nothing more to ask for.
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
      SetUrgent(this, false);
  }

  void paintEvent(QPaintEvent *event) override {
    QDialog::paintEvent(event);
    if (!painted_) {
      painted_ = true;
      Trace(TRACE_DIALOG);
    }
  }

private:
  Dialog *d_;
  bool painted_ = false;
};

} // namespace plat
