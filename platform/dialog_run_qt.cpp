// Running dialogs: made, shown, modal loops on the window thread or for a
// worker, ended from any thread. The widgets belong to the window thread;
// a dialog's procedure runs on the thread that made it, which for a modal
// dialog of a worker means: the window thread queues the clicks and the
// worker, waiting in DialogBoxParam, hands them to the procedure.
#include <QApplication>
#include <QEventLoop>

#include <algorithm>

#include "platform/window_widget.h"

#include "platform/dialog_internal.h"

namespace plat {

namespace dialog {

std::mutex openMutex;
std::vector<Dialog *> openDialogs;
HICON classIcon = nullptr;

} // namespace dialog

using namespace dialog;

namespace {

// Every dialog ever made (guarded by openMutex): handles stay valid for
// the life of the process, so a handle kept after its dialog closed is
// harmless to use. A closed dialog keeps a few hundred bytes (Teardown).
std::vector<Dialog *> *g_all = new std::vector<Dialog *>;

const char *Keep(Dialog *d, const char *text) {
  d->strings.emplace_back(text ? text : "");
  return d->strings.back().c_str();
}

void Forget(Dialog *d) {
  std::lock_guard lock(openMutex);
  openDialogs.erase(std::remove(openDialogs.begin(), openDialogs.end(), d),
                    openDialogs.end());
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

} // namespace

namespace dialog {

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
  std::lock_guard lock(openMutex);
  openDialogs.push_back(d);
  g_all->push_back(d);
  return d;
}

// Window thread. `activate`: takes the keyboard, as a dialog the user
// asked for does.
void Show(Dialog *d, bool activate) {
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

} // namespace dialog

namespace {

void EndAllOnQuit() {
  std::vector<Dialog *> open;
  {
    std::lock_guard lock(openMutex);
    open = openDialogs;
  }
  for (Dialog *d : open)
    EndDialog(d, 0);
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

// Owned windows stay above their owner, as on Windows: where no window
// manager keeps them there, raising the owner would bury its dialogs.
void RaiseDialogsOwnedBy(Window *owner) {
  std::vector<Dialog *> open;
  {
    std::lock_guard lock(openMutex);
    open = openDialogs;
  }
  for (Dialog *d : open)
    if (d->owner == owner && d->widget != nullptr && d->widget->isVisible())
      d->widget->raise();
}

// Called by Build: a worker waiting for a modal dialog is let go when the
// loop ends.
void EndDialogsWhenTheLoopEnds() {
  static bool hooked = false; // window thread only
  if (hooked || g_app == nullptr)
    return;
  hooked = true;
  QObject::connect(g_app, &QCoreApplication::aboutToQuit, g_app, EndAllOnQuit);
}

} // namespace plat
