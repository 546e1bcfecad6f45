// Building a dialog from its template: its widget, each control's widget
// in dialog units of its font, the class icon.
#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>

#include <algorithm>

#include "platform/window_widget.h"

#include "platform/dialog_internal.h"

namespace plat {

void EndDialogsWhenTheLoopEnds(); // dialog_run_qt.cpp

namespace dialog {

int MulDiv(int a, int b, int c) {
  // Rounds half away from zero, as Windows' MulDiv does.
  const long long p = static_cast<long long>(a) * b;
  return static_cast<int>(p >= 0 ? (p + c / 2) / c : (p - c / 2) / c);
}

} // namespace dialog

using namespace dialog;

namespace {

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

} // namespace

// Window thread: makes the widgets, hidden.
namespace dialog {

bool Build(Dialog *d) {
  if (g_app == nullptr || !IsWindowThread())
    return false;
  EndDialogsWhenTheLoopEnds();
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

  widget->setWindowTitle(QtWindowTitle(d->tpl.caption));
  HICON icon;
  {
    std::lock_guard lock(openMutex);
    icon = classIcon;
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

} // namespace dialog

bool SetDialogClassIcon(HDLG, HICON icon) {
  std::vector<Dialog *> open;
  {
    std::lock_guard lock(openMutex);
    classIcon = icon;
    open = openDialogs;
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

} // namespace plat
