// A dialog's texts and its controls' messages: mirrored, so that any
// thread reads them without waiting for the window thread, and carried to
// the widgets on the window thread.
#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>

#include <algorithm>

#include "platform/window_widget.h"

#include "platform/dialog_internal.h"

namespace plat {

using namespace dialog;

namespace {

// Applies `change` to the control's widget on the window thread.
template <class F> void OnWidget(Dialog *d, std::size_t index, F change) {
  RunOnWindowThread([d, index, change] {
    if (index < d->controlWidgets.size())
      if (QWidget *w = d->controlWidgets[index])
        change(w);
  });
}

} // namespace

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
      d->widget->setWindowTitle(QtWindowTitle(title));
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

QWidget *DialogWidgetOf(HDLG d) { return d ? d->widget.data() : nullptr; }

QWidget *DialogControlAt(HDLG d, std::size_t index) {
  if (d == nullptr || index >= d->controlWidgets.size())
    return nullptr;
  return d->controlWidgets[index];
}

} // namespace plat
