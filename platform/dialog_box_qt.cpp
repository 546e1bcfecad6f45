// Dialogs from templates on QDialog. The widgets belong to the window
// thread; a dialog's procedure runs on the thread that made it, which for a
// modal dialog of a worker means: the window thread queues the clicks and
// the worker, waiting in DialogBoxParam, hands them to the procedure.
#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialog>
#include <QEventLoop>
#include <QFontMetrics>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPaintEvent>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpressionValidator>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/dialog_box.h"
#include "platform/dialogs.h"
#include "platform/test_hooks.h"
#include "platform/trace.h"
#include "platform/window_internal.h"
#include "platform/window_widget.h"

namespace plat {

namespace {

constexpr int kDefaultLimit =
    32767; // an edit control's limit until EM_LIMITTEXT

int MulDiv(int a, int b, int c) {
  // Rounds half away from zero, as Windows' MulDiv does.
  const long long p = static_cast<long long>(a) * b;
  return static_cast<int>(p >= 0 ? (p + c / 2) / c : (p - c / 2) / c);
}

QString QtTitle(const std::string &title) {
  // "[*]" stands for itself, not for Qt's modified mark.
  return QString::fromLatin1(title.c_str())
      .replace(QLatin1String("[*]"), QLatin1String("[*][*]"));
}

class DialogWidget;

} // namespace

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

namespace {

std::mutex g_openMutex;
std::vector<Dialog *> g_open; // made and not yet ended
// Every dialog ever made (guarded by g_openMutex): handles stay valid for
// the life of the process, so a handle kept after its dialog closed is
// harmless to use. A closed dialog keeps a few hundred bytes (Teardown).
std::vector<Dialog *> *g_all = new std::vector<Dialog *>;
HICON g_classIcon = nullptr; // guarded by g_openMutex
bool g_quitHooked = false;   // window thread only

void Deliver(Dialog *d, int id, unsigned code = BN_CLICKED);

class DialogWidget : public QDialog {
public:
  DialogWidget(Dialog *d, QWidget *parent, Qt::WindowFlags flags)
      : QDialog(parent, flags), d_(d) {}
  bool closingByUs = false;

  void reject() override { Deliver(d_, IDCANCEL); }

protected:
  void closeEvent(QCloseEvent *event) override {
    if (closingByUs) {
      event->accept();
      return;
    }
    // The close box is a cancel command, as on Windows; the procedure
    // decides whether the dialog closes.
    event->ignore();
    Deliver(d_, IDCANCEL);
  }

  void keyPressEvent(QKeyEvent *event) override {
    switch (event->key()) {
    case Qt::Key_Escape:
      Deliver(d_, IDCANCEL);
      return;
    case Qt::Key_Return:
    case Qt::Key_Enter: {
      // The focused push button, else the default command IDOK.
      int id = IDOK;
      if (auto *button = qobject_cast<QPushButton *>(focusWidget()))
        id = button->property("dlgId").toInt();
      Deliver(d_, id);
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

bool IsEnded(Dialog *d) {
  std::lock_guard lock(d->mutex);
  return d->ended;
}

void Deliver(Dialog *d, int id, unsigned code) {
  const WPARAM wParam =
      static_cast<WPARAM>(id & 0xFFFF) | (static_cast<WPARAM>(code) << 16);
  if (d->procOnWindowThread) {
    if (!IsEnded(d))
      d->proc(d, WM_COMMAND, wParam, 0);
    return;
  }
  {
    std::lock_guard lock(d->mutex);
    if (d->ended)
      return;
    d->commands.push_back(wParam);
  }
  d->changed.notify_all();
}

int IndexOf(Dialog *d, int id) {
  for (std::size_t i = 0; i < d->controls.size(); ++i)
    if (d->controls[i].id == id && id != IDC_STATIC)
      return static_cast<int>(i);
  return -1;
}

const char *Keep(Dialog *d, const char *text) {
  d->strings.emplace_back(text ? text : "");
  return d->strings.back().c_str();
}

Dialog *NewDialog(const DialogTemplate &tpl, HWND owner, DLGPROC proc,
                  LPARAM param, bool modal) {
  auto *d = new Dialog;
  d->proc = proc;
  d->param = param;
  d->owner = owner;
  d->modal = modal;
  d->procOnWindowThread = IsWindowThread();
  d->tpl = tpl;
  d->tpl.caption = Keep(d, tpl.caption);
  d->tpl.font = Keep(d, tpl.font);
  d->title = d->tpl.caption;
  for (std::size_t i = 0; i < tpl.controlCount; ++i) {
    DialogControl c = tpl.controls[i];
    c.text = Keep(d, c.text);
    d->controls.push_back(c);
    Dialog::Item item;
    item.text = c.text;
    d->items.push_back(item);
  }
  d->tpl.controls = d->controls.data();
  std::lock_guard lock(g_openMutex);
  g_open.push_back(d);
  g_all->push_back(d);
  return d;
}

void Forget(Dialog *d) {
  std::lock_guard lock(g_openMutex);
  g_open.erase(std::remove(g_open.begin(), g_open.end(), d), g_open.end());
}

// Window thread: hides and destroys the widgets, and leaves a modal loop.
void Teardown(Dialog *d) {
  if (d->loop != nullptr)
    d->loop->quit();
  if (DialogWidget *w = d->widget) {
    w->closingByUs = true;
    w->hide();
    w->deleteLater();
  }
  d->widget = nullptr;
  d->controlWidgets.clear();
  std::vector<QPointer<QWidget>>().swap(d->controlWidgets);
  // A handle outlives its dialog; what it may still be asked (its ids, its
  // result, its title) stays, the texts go, so that a program ringing all
  // day does not keep every dialog it ever showed.
  std::lock_guard lock(d->mutex);
  for (Dialog::Item &item : d->items) {
    std::string().swap(item.text);
    std::vector<std::string>().swap(item.entries);
    item.selStart = item.selEnd = 0;
    item.selection = -1;
  }
  for (DialogControl &c : d->controls)
    c.text = "";
  d->tpl.caption = "";
  d->tpl.font = "";
  std::deque<std::string>().swap(d->strings);
}

void MirrorEdit(Dialog *d, std::size_t index, QLineEdit *edit) {
  std::lock_guard lock(d->mutex);
  Dialog::Item &item = d->items[index];
  item.text = edit->text().toLatin1().toStdString();
  if (edit->hasSelectedText()) {
    item.selStart = edit->selectionStart();
    item.selEnd = item.selStart + static_cast<int>(edit->selectedText().size());
  } else {
    item.selStart = item.selEnd = edit->cursorPosition();
  }
}

QWidget *MakeControl(Dialog *d, std::size_t index, QWidget *parent) {
  const DialogControl &c = d->controls[index];
  const QString text = QString::fromLatin1(c.text);
  QWidget *widget = nullptr;
  switch (c.kind) {
  case ControlKind::Static: {
    const std::uint32_t type = c.style & SS_TYPEMASK;
    if (type == SS_ETCHEDHORZ || type == SS_ETCHEDVERT) {
      auto *line = new QFrame(parent);
      line->setFrameShape(type == SS_ETCHEDHORZ ? QFrame::HLine
                                                : QFrame::VLine);
      line->setFrameShadow(QFrame::Sunken);
      widget = line;
      break;
    }
    auto *label = new QLabel(parent);
    // Its text may be a peer's (a registrar's reason phrase, say): the
    // characters it holds, never markup that would draw a local file.
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    // Windows draws static text from the top of its rectangle.
    label->setAlignment(
        ((c.style & SS_CENTER) ? Qt::AlignHCenter : Qt::AlignLeft) |
        Qt::AlignTop);
    widget = label;
    break;
  }
  case ControlKind::PushButton: {
    auto *button = new QPushButton(text, parent);
    // Enter is the dialog's business (see keyPressEvent), not the toolkit's.
    button->setAutoDefault(false);
    button->setDefault(false);
    const int id = c.id;
    QObject::connect(button, &QPushButton::clicked, button,
                     [d, id] { Deliver(d, id); });
    widget = button;
    break;
  }
  case ControlKind::Edit: {
    auto *edit = new QLineEdit(text, parent);
    edit->setFrame((c.style & WS_BORDER) != 0);
    edit->setEchoMode((c.style & ES_PASSWORD) ? QLineEdit::Password
                                              : QLineEdit::Normal);
    edit->setMaxLength(kDefaultLimit);
    if (c.style & ES_NUMBER)
      edit->setValidator(new QRegularExpressionValidator(
          QRegularExpression(QStringLiteral("[0-9]*")), edit));
    // Frames and margins as thin as Windows' edits, so the text fits the
    // template's 10-unit-high fields.
    edit->setTextMargins(0, 0, 0, 0);
    edit->setStyleSheet(QStringLiteral("QLineEdit { padding: 0px; }"));
    auto mirror = [d, index, edit] { MirrorEdit(d, index, edit); };
    QObject::connect(edit, &QLineEdit::textChanged, edit, mirror);
    QObject::connect(edit, &QLineEdit::cursorPositionChanged, edit, mirror);
    QObject::connect(edit, &QLineEdit::selectionChanged, edit, mirror);
    widget = edit;
    break;
  }
  case ControlKind::CheckBox: {
    auto *box = new QCheckBox(text, parent);
    const int id = c.id;
    // Clicks and the space bar; BM_SETCHECK changes no notification.
    QObject::connect(box, &QCheckBox::clicked, box, [d, index, id](bool on) {
      {
        std::lock_guard lock(d->mutex);
        d->items[index].checked = on;
      }
      Deliver(d, id);
    });
    widget = box;
    break;
  }
  case ControlKind::ComboBox: {
    auto *combo = new QComboBox(parent);
    const int id = c.id;
    // A choice of the user's, by mouse or keys; CB_SETCURSEL tells nobody.
    QObject::connect(combo, &QComboBox::activated, combo,
                     [d, index, id](int chosen) {
                       {
                         std::lock_guard lock(d->mutex);
                         d->items[index].selection = chosen;
                       }
                       Deliver(d, id, CBN_SELCHANGE);
                     });
    widget = combo;
    break;
  }
  }
  widget->setProperty("dlgId", c.id);
  widget->setFocusPolicy(c.kind == ControlKind::Static ? Qt::NoFocus
                                                       : Qt::StrongFocus);
  return widget;
}

void EndAllOnQuit() {
  std::vector<Dialog *> open;
  {
    std::lock_guard lock(g_openMutex);
    open = g_open;
  }
  for (Dialog *d : open)
    EndDialog(d, 0);
}

// Window thread: makes the widgets, hidden.
bool Build(Dialog *d) {
  if (g_app == nullptr || !IsWindowThread())
    return false;
  if (!g_quitHooked) {
    g_quitHooked = true;
    // A worker waiting for a modal dialog is let go when the loop ends.
    QObject::connect(g_app, &QCoreApplication::aboutToQuit, g_app,
                     EndAllOnQuit);
  }
  QWidget *parent = IsWindow(d->owner) ? d->owner->widget : nullptr;
  Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint |
                          Qt::WindowTitleHint |
                          Qt::MSWindowsFixedSizeDialogHint;
  if (d->tpl.style & WS_SYSMENU)
    flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
  // The owner stays above other windows, so every dialog must too, or it
  // could open underneath it; system-modal ones ask for exactly that. Like
  // the owner, they are then on every workspace (PrepareShow).
  flags |= Qt::WindowStaysOnTopHint;
  auto *widget = new DialogWidget(d, parent, flags);
  d->widget = widget;
  // Destroyed with its owner window: the dialog ends too, so that a worker
  // waiting for it is let go.
  QObject::connect(widget, &QObject::destroyed, [d] { EndDialog(d, 0); });

  const bool namedFont = (d->tpl.style & DS_SETFONT) && *d->tpl.font != '\0';
  const char *family = namedFont ? d->tpl.font : "MS Shell Dlg";
  const int points = namedFont ? d->tpl.pointSize : 8;
  QFont font(QString::fromLatin1(family));
  font.setPixelSize(MulDiv(points, 96, 72));
  widget->setFont(font);
  const BaseUnits units = DialogBaseUnits(family, points);
  {
    std::lock_guard lock(d->mutex);
    d->units = units;
  }
  auto map = [&](int x, int y, int cx, int cy) {
    return QRect(MulDiv(x, units.x, 4), MulDiv(y, units.y, 8),
                 MulDiv(cx, units.x, 4), MulDiv(cy, units.y, 8));
  };

  widget->setWindowTitle(QtTitle(d->tpl.caption));
  HICON icon;
  {
    std::lock_guard lock(g_openMutex);
    icon = g_classIcon;
  }
  if (icon != nullptr)
    widget->setWindowIcon(icon->icon);
  else if (parent != nullptr)
    widget->setWindowIcon(parent->windowIcon());

  const QRect client = map(d->tpl.x, d->tpl.y, d->tpl.cx, d->tpl.cy);
  RECT ownerRect{};
  if (!GetWindowRect(d->owner, &ownerRect))
    ownerRect = {};
  widget->setFixedSize(client.size());
  widget->move(ownerRect.left + client.x(), ownerRect.top + client.y());

  QWidget *previous = nullptr;
  for (std::size_t i = 0; i < d->controls.size(); ++i) {
    const DialogControl &c = d->controls[i];
    QWidget *control = MakeControl(d, i, widget);
    QRect place = map(c.x, c.y, c.cx, c.cy);
    // A drop-down list's rectangle includes its opened list; closed, it is
    // one line of the font high with its frame, as on Windows.
    if (c.kind == ControlKind::ComboBox)
      place.setHeight(std::min(place.height(), units.y + 8));
    // An etched line is drawn 2 pixels thick whatever its rectangle says.
    if ((c.style & SS_TYPEMASK) == SS_ETCHEDHORZ &&
        c.kind == ControlKind::Static)
      place.setHeight(std::max(place.height(), 2));
    if ((c.style & SS_TYPEMASK) == SS_ETCHEDVERT &&
        c.kind == ControlKind::Static)
      place.setWidth(std::max(place.width(), 2));
    control->setGeometry(place);
    d->controlWidgets.emplace_back(control);
    if (control->focusPolicy() != Qt::NoFocus) {
      if (previous != nullptr)
        QWidget::setTabOrder(previous, control);
      previous = control;
    }
  }
  if (d->modal)
    widget->setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
  return true;
}

// Window thread. `activate`: takes the keyboard, as a dialog the user
// asked for does.
void Show(Dialog *d, bool activate = true) {
  if (IsEnded(d) || d->widget == nullptr)
    return;
  DialogWidget *widget = d->widget;
  if (!widget->isVisible()) {
    PrepareShow(widget, activate);
    widget->show();
  }
  widget->raise();
  if (activate)
    widget->activateWindow();
}

INT_PTR RunModalHere(Dialog *d) {
  if (!Build(d)) {
    EndDialog(d, -1);
    Teardown(d);
    return -1;
  }
  d->proc(d, WM_INITDIALOG, 0, d->param);
  if (!IsEnded(d)) {
    Show(d);
    QEventLoop loop;
    d->loop = &loop;
    if (!IsEnded(d))
      loop.exec();
    d->loop = nullptr;
  }
  // The loop also ends when the program's loop is told to quit.
  EndDialog(d, 0);
  Teardown(d);
  std::lock_guard lock(d->mutex);
  return d->result;
}

INT_PTR RunModalFromWorker(Dialog *d) {
  QueueOnWindowThread([d] {
    const bool ok = !IsEnded(d) && Build(d);
    {
      std::lock_guard lock(d->mutex);
      d->built = true;
      d->buildFailed = !ok;
    }
    d->changed.notify_all();
  });
  bool initialised = false;
  std::unique_lock lock(d->mutex);
  for (;;) {
    d->changed.wait(lock, [&] {
      return d->ended || (d->built && !initialised) || !d->commands.empty();
    });
    if (d->ended)
      break;
    if (!initialised) {
      initialised = true;
      if (d->buildFailed) {
        lock.unlock();
        EndDialog(d, -1);
        lock.lock();
        break;
      }
      lock.unlock();
      d->proc(d, WM_INITDIALOG, 0, d->param);
      QueueOnWindowThread([d] { Show(d); });
      lock.lock();
      continue;
    }
    const WPARAM wParam = d->commands.front();
    d->commands.pop_front();
    // No lock is held while the procedure runs: it may wait for the window
    // thread, which may be waiting for this one.
    lock.unlock();
    d->proc(d, WM_COMMAND, wParam, 0);
    lock.lock();
  }
  return d->result;
}

// Applies `change` to the control's widget on the window thread.
template <class F> void OnWidget(Dialog *d, std::size_t index, F change) {
  RunOnWindowThread([d, index, change] {
    if (index < d->controlWidgets.size())
      if (QWidget *w = d->controlWidgets[index])
        change(w);
  });
}

} // namespace

HDLG CreateDialogIndirectParam(const DialogTemplate &tpl, HWND owner,
                               DLGPROC proc, LPARAM param) {
  if (proc == nullptr || !IsWindowThread())
    return nullptr;
  Dialog *d = NewDialog(tpl, owner, proc, param, false);
  if (!Build(d)) {
    EndDialog(d, -1);
    return nullptr;
  }
  proc(d, WM_INITDIALOG, 0, param);
  // Unless the procedure has shown it its own way.
  if ((tpl.style & WS_VISIBLE) && d->widget != nullptr &&
      !d->widget->isVisible())
    Show(d);
  return d;
}

HDLG CreateDialogParam(HINSTANCE module, int templateId, HWND owner,
                       DLGPROC proc, LPARAM param) {
  const DialogTemplate *tpl =
      module && module->findDialog ? module->findDialog(templateId) : nullptr;
  return tpl ? CreateDialogIndirectParam(*tpl, owner, proc, param) : nullptr;
}

INT_PTR DialogBoxIndirectParam(const DialogTemplate &tpl, HWND owner,
                               DLGPROC proc, LPARAM param) {
  if (proc == nullptr || g_app == nullptr)
    return -1;
  Dialog *d = NewDialog(tpl, owner, proc, param, true);
  return d->procOnWindowThread ? RunModalHere(d) : RunModalFromWorker(d);
}

INT_PTR DialogBoxParam(HINSTANCE module, int templateId, HWND owner,
                       DLGPROC proc, LPARAM param) {
  const DialogTemplate *tpl =
      module && module->findDialog ? module->findDialog(templateId) : nullptr;
  return tpl ? DialogBoxIndirectParam(*tpl, owner, proc, param) : -1;
}

BOOL EndDialog(HDLG d, INT_PTR result) {
  if (d == nullptr)
    return 0;
  {
    std::lock_guard lock(d->mutex);
    if (d->ended)
      return 0;
    d->ended = true;
    d->result = result;
  }
  d->changed.notify_all();
  Forget(d);
  // Deferred even on the window thread: the procedure that ends its dialog
  // is still running and may touch it.
  QueueOnWindowThread([d] { Teardown(d); });
  return 1;
}

bool IsWindow(HDLG d) { return d != nullptr && !IsEnded(d); }

bool SetWindowText(HDLG d, const char *text) {
  if (!IsWindow(d))
    return false;
  const std::string title = text ? text : "";
  {
    std::lock_guard lock(d->mutex);
    d->title = title;
  }
  RunOnWindowThread([d, title] {
    if (d->widget != nullptr)
      d->widget->setWindowTitle(QtTitle(title));
  });
  return true;
}

bool ShowWindow(HDLG d, int cmd) {
  if (!IsWindow(d))
    return false;
  RunOnWindowThread([d, cmd] {
    if (cmd != SW_HIDE)
      Show(d, cmd != SW_SHOWNOACTIVATE);
    else if (DialogWidget *widget = d->widget) {
      SetUrgent(widget, false);
      widget->hide();
    }
  });
  return true;
}

bool FlashWindow(HDLG d, BOOL invert) {
  if (!IsWindow(d))
    return false;
  RunOnWindowThread([d, invert] {
    if (DialogWidget *widget = d->widget)
      SetUrgent(widget, invert && !widget->isActiveWindow());
  });
  return true;
}

std::string GetWindowText(HDLG d) {
  if (d == nullptr)
    return {};
  std::lock_guard lock(d->mutex);
  return d->title;
}

UINT GetDlgItemText(HDLG d, int id, char *buffer, int max) {
  if (buffer == nullptr || max <= 0)
    return 0;
  buffer[0] = '\0';
  if (d == nullptr)
    return 0;
  const int index = IndexOf(d, id);
  if (index < 0)
    return 0;
  std::lock_guard lock(d->mutex);
  const std::string &text = d->items[index].text;
  const std::size_t n =
      std::min(text.size(), static_cast<std::size_t>(max - 1));
  text.copy(buffer, n);
  buffer[n] = '\0';
  return static_cast<UINT>(n);
}

bool SetDlgItemText(HDLG d, int id, const char *text) {
  if (!IsWindow(d))
    return false;
  const int index = IndexOf(d, id);
  if (index < 0)
    return false;
  const std::string value = text ? text : "";
  {
    std::lock_guard lock(d->mutex);
    Dialog::Item &item = d->items[index];
    item.text = value;
    item.selStart = item.selEnd = static_cast<int>(value.size());
  }
  OnWidget(d, index, [value](QWidget *w) {
    const QString q = QString::fromLatin1(value.c_str());
    if (auto *edit = qobject_cast<QLineEdit *>(w))
      edit->setText(q);
    else if (auto *label = qobject_cast<QLabel *>(w))
      label->setText(q);
    else if (auto *button = qobject_cast<QAbstractButton *>(w))
      button->setText(q);
  });
  return true;
}

namespace {

LRESULT CheckBoxMessage(Dialog *d, std::size_t index, UINT message,
                        WPARAM wParam) {
  switch (message) {
  case BM_GETCHECK: {
    std::lock_guard lock(d->mutex);
    return d->items[index].checked ? BST_CHECKED : BST_UNCHECKED;
  }
  case BM_SETCHECK: {
    const bool on = wParam == BST_CHECKED;
    {
      std::lock_guard lock(d->mutex);
      d->items[index].checked = on;
    }
    OnWidget(d, index,
             [on](QWidget *w) { static_cast<QCheckBox *>(w)->setChecked(on); });
    return 0;
  }
  default:
    return 0;
  }
}

LRESULT ComboBoxMessage(Dialog *d, std::size_t index, UINT message,
                        WPARAM wParam, LPARAM lParam) {
  switch (message) {
  case CB_ADDSTRING: {
    const char *p = reinterpret_cast<const char *>(lParam);
    const std::string entry = p ? p : "";
    LRESULT at;
    {
      std::lock_guard lock(d->mutex);
      d->items[index].entries.push_back(entry);
      at = static_cast<LRESULT>(d->items[index].entries.size() - 1);
    }
    OnWidget(d, index, [entry](QWidget *w) {
      static_cast<QComboBox *>(w)->addItem(QString::fromLatin1(entry.c_str()));
    });
    return at;
  }
  case CB_GETCOUNT: {
    std::lock_guard lock(d->mutex);
    return static_cast<LRESULT>(d->items[index].entries.size());
  }
  case CB_GETCURSEL: {
    std::lock_guard lock(d->mutex);
    return d->items[index].selection;
  }
  case CB_GETLBTEXTLEN:
  case CB_GETLBTEXT: {
    std::lock_guard lock(d->mutex);
    const auto &entries = d->items[index].entries;
    if (wParam >= entries.size())
      return CB_ERR;
    const std::string &entry = entries[wParam];
    if (message == CB_GETLBTEXT) {
      char *out = reinterpret_cast<char *>(lParam);
      if (out == nullptr)
        return CB_ERR;
      entry.copy(out, entry.size());
      out[entry.size()] = '\0';
    }
    return static_cast<LRESULT>(entry.size());
  }
  case CB_SETCURSEL: {
    int chosen;
    {
      std::lock_guard lock(d->mutex);
      Dialog::Item &item = d->items[index];
      chosen = wParam < item.entries.size() ? static_cast<int>(wParam) : -1;
      item.selection = chosen;
    }
    OnWidget(d, index, [chosen](QWidget *w) {
      static_cast<QComboBox *>(w)->setCurrentIndex(chosen);
    });
    return chosen < 0 ? CB_ERR : chosen;
  }
  case CB_SETDROPPEDWIDTH: {
    const int width = static_cast<int>(std::min<WPARAM>(wParam, 32767));
    OnWidget(d, index, [width](QWidget *w) {
      static_cast<QComboBox *>(w)->view()->setMinimumWidth(width);
    });
    return width;
  }
  default:
    return 0;
  }
}

} // namespace

LRESULT SendDlgItemMessage(HDLG d, int id, UINT message, WPARAM wParam,
                           LPARAM lParam) {
  if (!IsWindow(d))
    return 0;
  const int index = IndexOf(d, id);
  if (index < 0)
    return 0;
  switch (d->controls[index].kind) {
  case ControlKind::CheckBox:
    return CheckBoxMessage(d, index, message, wParam);
  case ControlKind::ComboBox:
    return ComboBoxMessage(d, index, message, wParam, lParam);
  case ControlKind::Edit:
    break;
  default:
    return 0;
  }
  switch (message) {
  case EM_REPLACESEL: {
    const char *p = reinterpret_cast<const char *>(lParam);
    std::string insert = p ? p : "";
    {
      // The mirror follows at once, as the widget will: the selection is
      // replaced and the limit cuts what does not fit.
      std::lock_guard lock(d->mutex);
      Dialog::Item &item = d->items[index];
      const int start = std::clamp(item.selStart, 0, int(item.text.size()));
      const int end = std::clamp(item.selEnd, start, int(item.text.size()));
      const int room = item.limit - (int(item.text.size()) - (end - start));
      insert.resize(std::min<std::size_t>(insert.size(), std::max(room, 0)));
      item.text.replace(start, end - start, insert);
      item.selStart = item.selEnd = start + int(insert.size());
    }
    OnWidget(d, index, [insert](QWidget *w) {
      static_cast<QLineEdit *>(w)->insert(QString::fromLatin1(insert.c_str()));
    });
    return 0;
  }
  case EM_LIMITTEXT: {
    const int limit = (wParam == 0 || wParam > WPARAM(kDefaultLimit))
                          ? kDefaultLimit
                          : static_cast<int>(wParam);
    {
      std::lock_guard lock(d->mutex);
      d->items[index].limit = limit;
    }
    OnWidget(d, index, [limit](QWidget *w) {
      static_cast<QLineEdit *>(w)->setMaxLength(limit);
    });
    return 0;
  }
  case EM_SETREADONLY: {
    const bool on = wParam != 0;
    OnWidget(d, index, [on](QWidget *w) {
      static_cast<QLineEdit *>(w)->setReadOnly(on);
      // Shown on the dialog's own colour, as Windows shows it.
      QPalette palette = w->palette();
      palette.setColor(QPalette::Base,
                       QApplication::palette(w).color(on ? QPalette::Window
                                                         : QPalette::Base));
      w->setPalette(palette);
    });
    return 1;
  }
  default:
    return 0;
  }
}

bool SetDialogClassIcon(HDLG, HICON icon) {
  std::vector<Dialog *> open;
  {
    std::lock_guard lock(g_openMutex);
    g_classIcon = icon;
    open = g_open;
  }
  if (icon == nullptr)
    return true;
  for (Dialog *d : open)
    RunOnWindowThread([d, icon] {
      if (d->widget != nullptr)
        d->widget->setWindowIcon(icon->icon);
    });
  return true;
}

HICON LoadIcon(HINSTANCE module, int id) {
  if (module == nullptr || module->findResource == nullptr)
    return nullptr;
  IconImage images[3];
  std::size_t count = 0;
  for (int size : {16, 32, 48}) {
    const ResourceBytes bytes = module->findResource(id, size);
    if (bytes.data != nullptr)
      images[count++] = {bytes.data, bytes.size};
  }
  return count ? CreateIconFromImages(images, count) : nullptr;
}

BaseUnits DialogBaseUnits(const char *family, int pointSize) {
  QFont font(QString::fromLatin1(family ? family : ""));
  font.setPixelSize(MulDiv(pointSize, 96, 72));
  const QFontMetrics metrics(font);
  const int letters = metrics.horizontalAdvance(
      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  return {(letters / 26 + 1) / 2, metrics.ascent() + metrics.descent()};
}

bool MapDialogRect(HDLG d, RECT *rect) {
  if (d == nullptr || rect == nullptr)
    return false;
  BaseUnits units;
  {
    std::lock_guard lock(d->mutex);
    units = d->units;
  }
  if (units.x == 0)
    return false;
  rect->left = MulDiv(rect->left, units.x, 4);
  rect->right = MulDiv(rect->right, units.x, 4);
  rect->top = MulDiv(rect->top, units.y, 8);
  rect->bottom = MulDiv(rect->bottom, units.y, 8);
  return true;
}

QWidget *DialogWidgetOf(HDLG d) { return d ? d->widget.data() : nullptr; }

QWidget *DialogControlAt(HDLG d, std::size_t index) {
  if (d == nullptr || index >= d->controlWidgets.size())
    return nullptr;
  return d->controlWidgets[index];
}

} // namespace plat

namespace plat {

// Owned windows stay above their owner, as on Windows: where no window
// manager keeps them there, raising the owner would bury its dialogs.
void RaiseDialogsOwnedBy(Window *owner) {
  std::vector<Dialog *> open;
  {
    std::lock_guard lock(g_openMutex);
    open = g_open;
  }
  for (Dialog *d : open)
    if (d->owner == owner && d->widget != nullptr && d->widget->isVisible())
      d->widget->raise();
}

} // namespace plat
