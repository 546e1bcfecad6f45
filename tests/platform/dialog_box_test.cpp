// Dialogs from templates under Qt's offscreen platform: the call dialogs'
// layout in dialog units of Arial 8, keys and the close box, closing from
// any thread, a worker blocked in a modal dialog, message box icons, and
// labels and boxes that show a peer's words as the characters they are.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QWindow>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/dialog_box.h"
#include "platform/message_box.h"
#include "platform/test_hooks.h"
#include "resources/dialog_templates.h"
#include "resources/resources.h"
#include "support/dialog_fields.h"
#include "support/pump.h"
#include "support/temp_dir.h"

using namespace plat;

namespace {

struct Call {
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  bool onWindowThread;
};

std::mutex g_callsMutex;
std::vector<Call> g_calls;
// Which commands end the dialog, and with what.
std::atomic<int> g_endOn{IDOK};

std::vector<Call> Calls() {
  std::lock_guard lock(g_callsMutex);
  return g_calls;
}

// Ends the dialog on g_endOn with that id as result; ignores the rest, as
// the Terminate dialog ignores a cancel.
INT_PTR RecordingProc(HDLG dlg, UINT message, WPARAM wParam, LPARAM lParam) {
  {
    std::lock_guard lock(g_callsMutex);
    g_calls.push_back({message, wParam, lParam, IsWindowThread()});
  }
  if (message == WM_COMMAND && static_cast<int>(LOWORD(wParam)) == g_endOn)
    EndDialog(dlg, LOWORD(wParam));
  return 0;
}

// Offers an account, hands back what is in the fields on OK.
std::string g_user, g_password;
INT_PTR AuthenticationProc(HDLG dlg, UINT message, WPARAM wParam,
                           LPARAM lParam) {
  RecordingProc(dlg, message, wParam, lParam);
  if (message == WM_INITDIALOG) {
    SendDlgItemMessage(dlg, res::kFieldUserName, EM_REPLACESEL, 0,
                       reinterpret_cast<LPARAM>("door"));
    SendDlgItemMessage(dlg, res::kFieldPassword, EM_REPLACESEL, 0,
                       reinterpret_cast<LPARAM>("secret"));
  } else if (message == WM_COMMAND && LOWORD(wParam) == IDOK) {
    char text[64];
    GetDlgItemText(dlg, res::kFieldUserName, text, sizeof text);
    g_user = text;
    GetDlgItemText(dlg, res::kFieldPassword, text, sizeof text);
    g_password = text;
  }
  return 0;
}

QDialog *OpenDialog(const char *title) {
  for (QWidget *w : QApplication::topLevelWidgets())
    if (auto *d = qobject_cast<QDialog *>(w))
      if (d->isVisible() && d->windowTitle() == QLatin1String(title))
        return d;
  return nullptr;
}

// A callee's reason phrase that, taken as rich text, would draw a picture
// from a local file, 300 pixels high.
struct RichWords {
  TempDir dir;
  std::string text;
  RichWords() {
    QImage picture(200, 300, QImage::Format_RGB32);
    picture.fill(Qt::red);
    picture.save(QString::fromStdString(dir / "p.png"));
    text = "486 <img src=" + (dir / "p.png") + "><b>B</b>";
  }
};

// Shows `text` as the very characters, with no picture from anywhere.
void ExpectPlain(const QLabel *label, const std::string &text) {
  EXPECT_EQ(label->textFormat(), Qt::PlainText);
  EXPECT_EQ(label->text().toStdString(), text);
  EXPECT_LT(label->sizeHint().height(), 100);
}

template <class T> T *Control(QDialog *dialog, const char *text) {
  for (T *w : dialog->findChildren<T *>())
    if (w->text() == QLatin1String(text))
      return w;
  return nullptr;
}

LRESULT OwnerProc(HWND hwnd, UINT m, WPARAM w, LPARAM l) {
  return DefWindowProc(hwnd, m, w, l);
}

class Dialogs : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(Initialize());
    WindowClass wc;
    wc.name = "DialogOwner";
    wc.proc = OwnerProc;
    // Kept for the life of the program, as the program keeps its icon.
    static HICON icon = LoadIcon(res::ProgramModule(), res::kIconId);
    wc.icon = icon;
    ASSERT_NE(wc.icon, nullptr);
    ASSERT_TRUE(RegisterClass(wc));
  }
  void SetUp() override {
    {
      std::lock_guard lock(g_callsMutex);
      g_calls.clear();
    }
    g_endOn = IDOK;
    owner = CreateWindow("DialogOwner", "Owner", WS_POPUP, 100, 40, 336, 301);
    ASSERT_NE(owner, nullptr);
    ShowWindow(owner, SW_SHOW);
    PumpFor(std::chrono::milliseconds(20));
  }
  void TearDown() override {
    DestroyWindow(owner);
    PumpFor(std::chrono::milliseconds(20));
  }
  HWND owner = nullptr;
};

struct Expected {
  int templateId;
  const char *caption;
  bool visibleAtOnce;
  QSize size; // dialog units
  struct Item {
    const char *type; // "static", "centred", "button", "edit", "password"
    int id;
    QRect rect; // dialog units
    const char *text;
  };
  std::vector<Item> items;
};

const Expected kCallDialogs[] = {
    {124,
     "Accept",
     true,
     {120, 45},
     {{"centred", IDC_STATIC, {0, 10, 120, 10}, "Accept call?"},
      {"button", IDOK, {8, 25, 44, 14}, "OK"},
      {"button", IDCANCEL, {68, 25, 44, 14}, "Cancel"}}},
    {123,
     "Terminate",
     true,
     {120, 45},
     {{"centred", IDC_STATIC, {0, 10, 120, 10}, "Terminate call?"},
      {"button", IDOK, {38, 25, 44, 14}, "OK"}}},
    {118,
     "Authentication",
     false,
     {105, 55},
     {{"static", IDC_STATIC, {5, 5, 40, 10}, "UserName:"},
      {"edit", 119, {45, 5, 55, 10}, ""},
      {"static", IDC_STATIC, {5, 20, 40, 10}, "Password:"},
      {"password", 120, {45, 20, 55, 10}, ""},
      {"button", IDOK, {5, 35, 45, 14}, "OK"},
      {"button", IDCANCEL, {55, 35, 45, 14}, "Cancel"}}},
};

TEST_F(Dialogs, CallDialogsAreLaidOutInDialogUnitsOfArial8) {
  // Liberation Sans stands in for Arial with its metrics: 8 points at 96
  // dots per inch are 11 pixels; its 52 letters are 333 pixels wide,
  // (333 / 26 + 1) / 2 = 6, and it is 10 + 2 pixels high.
  const BaseUnits units = DialogBaseUnits("Arial", 8);
  QFont font("Arial");
  font.setPixelSize(11);
  const QString family = QFontInfo(font).family();
  EXPECT_TRUE(family == "Liberation Sans" || family == "Arial")
      << family.toStdString();
  EXPECT_EQ(units.x, 6);
  EXPECT_EQ(units.y, 12);
  auto px = [&](QRect r) {
    auto mul = [](int v, int u, int d) { return (v * u + d / 2) / d; };
    return QRect(mul(r.x(), units.x, 4), mul(r.y(), units.y, 8),
                 mul(r.width(), units.x, 4), mul(r.height(), units.y, 8));
  };

  for (const Expected &e : kCallDialogs) {
    SCOPED_TRACE(e.caption);
    HDLG dlg = CreateDialogParam(res::ProgramModule(), e.templateId, owner,
                                 RecordingProc, 77);
    ASSERT_NE(dlg, nullptr);
    auto *widget = qobject_cast<QDialog *>(DialogWidgetOf(dlg));
    ASSERT_NE(widget, nullptr);
    EXPECT_EQ(widget->isVisible(), e.visibleAtOnce);
    EXPECT_EQ(widget->windowTitle().toStdString(), e.caption);
    EXPECT_EQ(GetWindowText(dlg), e.caption);
    EXPECT_EQ(widget->parentWidget(), WidgetOf(owner));
    EXPECT_TRUE(widget->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_FALSE(widget->windowIcon().isNull());
    // The client area at (50, 50) units from the owner's top left.
    const QRect client = px(QRect(QPoint(50, 50), e.size));
    EXPECT_EQ(widget->size(), client.size());
    EXPECT_EQ(widget->pos(), QPoint(100, 40) + client.topLeft());
    RECT r{0, 0, e.size.width(), e.size.height()};
    ASSERT_TRUE(MapDialogRect(dlg, &r));
    EXPECT_EQ(QSize(r.right, r.bottom), client.size());

    std::vector<QWidget *> tabStops;
    for (std::size_t i = 0; i < e.items.size(); ++i) {
      const Expected::Item &item = e.items[i];
      SCOPED_TRACE(item.text);
      QWidget *c = DialogControlAt(dlg, i);
      ASSERT_NE(c, nullptr);
      EXPECT_EQ(c->geometry(), px(item.rect));
      EXPECT_EQ(c->font().pixelSize(), 11);
      const std::string type = item.type;
      if (auto *label = qobject_cast<QLabel *>(c)) {
        EXPECT_EQ(label->text().toStdString(), item.text);
        EXPECT_EQ(label->alignment() & Qt::AlignHorizontal_Mask,
                  type == "centred" ? Qt::AlignHCenter : Qt::AlignLeft);
        EXPECT_EQ(c->focusPolicy(), Qt::NoFocus);
      } else if (auto *button = qobject_cast<QPushButton *>(c)) {
        EXPECT_EQ(type, "button");
        EXPECT_EQ(button->text().toStdString(), item.text);
        tabStops.push_back(c);
      } else if (auto *edit = qobject_cast<QLineEdit *>(c)) {
        EXPECT_TRUE(type == "edit" || type == "password");
        EXPECT_EQ(edit->echoMode(),
                  type == "password" ? QLineEdit::Password : QLineEdit::Normal);
        EXPECT_TRUE(edit->hasFrame());
        EXPECT_EQ(edit->maxLength(), 32767);
        tabStops.push_back(c);
      } else {
        ADD_FAILURE() << "unexpected control";
      }
    }
    // Tab goes through the controls in template order and around.
    for (std::size_t i = 0; i < tabStops.size(); ++i) {
      QWidget *next = tabStops[i]->nextInFocusChain();
      while (next->focusPolicy() == Qt::NoFocus)
        next = next->nextInFocusChain();
      EXPECT_EQ(next, tabStops[(i + 1) % tabStops.size()]) << i;
    }
    ASSERT_FALSE(Calls().empty());
    EXPECT_EQ(Calls()[0].message, WM_INITDIALOG);
    EXPECT_EQ(Calls()[0].lParam, 77);
    EXPECT_TRUE(EndDialog(dlg, 0));
  }
  EXPECT_EQ(
      CreateDialogParam(res::ProgramModule(), 999, owner, RecordingProc, 0),
      nullptr);
}

TEST_F(Dialogs, ModelessDialogsAnswerCommandsAndCloseHarmlesslyFromAnyThread) {
  // Terminate has no Cancel button: Escape and the close box reach the
  // procedure as IDCANCEL and the dialog stays, since it ignores them.
  HDLG dlg = CreateDialogParam(res::ProgramModule(), res::kDialogTerminate,
                               owner, RecordingProc, 0);
  ASSERT_NE(dlg, nullptr);
  SetWindowText(dlg, "door [*] 7");
  auto *widget = qobject_cast<QDialog *>(DialogWidgetOf(dlg));
  ASSERT_NE(widget, nullptr);
  ASSERT_TRUE(PumpUntil([&] { return widget->isVisible(); }));
  EXPECT_EQ(widget->windowHandle()->title(), "door [*] 7");
  QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  QApplication::sendEvent(widget, &escape);
  widget->close();
  PumpFor(std::chrono::milliseconds(20));
  EXPECT_TRUE(IsWindow(dlg));
  EXPECT_TRUE(widget->isVisible());
  auto cancels = 0;
  for (const Call &c : Calls())
    if (c.message == WM_COMMAND) {
      EXPECT_EQ(LOWORD(c.wParam), unsigned(IDCANCEL));
      EXPECT_TRUE(c.onWindowThread);
      ++cancels;
    }
  EXPECT_EQ(cancels, 2);

  // Closed from another thread, it is gone; closing again does nothing.
  std::thread([&] { EXPECT_TRUE(EndDialog(dlg, 0)); }).join();
  EXPECT_FALSE(IsWindow(dlg));
  ASSERT_TRUE(PumpUntil([&] { return DialogWidgetOf(dlg) == nullptr; }));
  EXPECT_EQ(OpenDialog("Terminate"), nullptr);
  std::thread([&] { EXPECT_FALSE(EndDialog(dlg, 0)); }).join();
  EXPECT_FALSE(EndDialog(dlg, 1));
  EXPECT_FALSE(SetWindowText(dlg, "late"));
  EXPECT_FALSE(SetDlgItemText(dlg, IDOK, "late"));

  // OK and Enter: the procedure ends the Accept dialog on its first OK;
  // nothing reaches it afterwards.
  HDLG accept = CreateDialogParam(res::ProgramModule(), res::kDialogAccept,
                                  owner, RecordingProc, 0);
  QDialog *acceptWidget = OpenDialog("Accept");
  ASSERT_NE(acceptWidget, nullptr);
  const std::size_t before = Calls().size();
  Control<QPushButton>(acceptWidget, "OK")->click();
  QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
  QApplication::sendEvent(acceptWidget, &enter);
  EXPECT_FALSE(IsWindow(accept));
  ASSERT_EQ(Calls().size(), before + 1);
  EXPECT_EQ(LOWORD(Calls().back().wParam), unsigned(IDOK));
  ASSERT_TRUE(PumpUntil([&] { return OpenDialog("Accept") == nullptr; }));

  // A dialog goes with its owner window.
  HWND other = CreateWindow("DialogOwner", "Other", WS_POPUP, 0, 0, 50, 50);
  HDLG orphan = CreateDialogParam(res::ProgramModule(), res::kDialogAccept,
                                  other, RecordingProc, 0);
  ASSERT_TRUE(IsWindow(orphan));
  DestroyWindow(other);
  ASSERT_TRUE(PumpUntil([&] {
    // What the message loop does for deleted widgets, which processEvents
    // leaves to it.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return !IsWindow(orphan);
  }));
}

TEST_F(Dialogs, WorkerBlocksInModalDialogWhileItsProcedureRunsThere) {
  struct Round {
    const char *typedUser; // typed over the offered name; null: keep it
    bool pressOk;          // else Escape
    INT_PTR result;
    const char *user;
  };
  const Round rounds[] = {{"door2", true, IDOK, "door2"},
                          {nullptr, false, IDCANCEL, ""}};
  for (const Round &round : rounds) {
    SCOPED_TRACE(round.pressOk);
    g_endOn = -100; // OK and Cancel both end it, see below
    g_user.clear();
    g_password.clear();
    std::atomic<INT_PTR> result{-5};
    std::thread worker([&] {
      result = DialogBoxParam(
          res::ProgramModule(), res::kDialogAuthentication, owner,
          [](HDLG d, UINT m, WPARAM w, LPARAM l) -> INT_PTR {
            AuthenticationProc(d, m, w, l);
            if (m == WM_COMMAND && (LOWORD(w) == unsigned(IDOK) ||
                                    LOWORD(w) == unsigned(IDCANCEL)))
              EndDialog(d, LOWORD(w));
            return 0;
          },
          5);
    });
    QDialog *dialog = nullptr;
    ASSERT_TRUE(PumpUntil([&] {
      dialog = OpenDialog("Authentication");
      return dialog != nullptr && Field(dialog, 120) != nullptr &&
             Field(dialog, 120)->text() == "secret";
    }));
    EXPECT_TRUE(dialog->isModal());
    EXPECT_EQ(Field(dialog, 119)->text(), "door");
    EXPECT_NE(Field(dialog, 120)->displayText(), "secret");
    EXPECT_EQ(result.load(), -5);
    if (round.typedUser != nullptr) {
      Field(dialog, 119)->selectAll();
      Field(dialog, 119)->insert(round.typedUser);
    }
    if (round.pressOk) {
      Control<QPushButton>(dialog, "OK")->click();
    } else {
      QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
      QApplication::sendEvent(dialog, &escape);
    }
    // The window thread waits for the worker without running its queue:
    // the worker's procedure and its EndDialog need nothing from it.
    worker.join();
    EXPECT_EQ(result.load(), round.result);
    EXPECT_EQ(g_user, round.user);
    EXPECT_EQ(g_password, round.pressOk ? "secret" : "");
    for (const Call &c : Calls())
      EXPECT_FALSE(c.onWindowThread) << c.message;
    ASSERT_TRUE(
        PumpUntil([&] { return OpenDialog("Authentication") == nullptr; }));
  }
}

TEST_F(Dialogs, ModalOnTheWindowThreadRunsItsOwnLoopUntilEnded) {
  g_endOn = IDCANCEL;
  QTimer::singleShot(50, [] {
    if (QDialog *dialog = OpenDialog("Authentication"))
      Control<QPushButton>(dialog, "Cancel")->click();
  });
  EXPECT_EQ(DialogBoxParam(res::ProgramModule(), res::kDialogAuthentication,
                           owner, RecordingProc, 0),
            IDCANCEL);
  ASSERT_EQ(Calls().size(), 2u);
  for (const Call &c : Calls())
    EXPECT_TRUE(c.onWindowThread);
  EXPECT_EQ(DialogBoxParam(res::ProgramModule(), 999, owner, RecordingProc, 0),
            -1);
}

TEST_F(Dialogs, EditLimitsAndReplacementsShowInTheFieldAndItsText) {
  HDLG dlg = CreateDialogIndirectParam(
      *res::FindDialogTemplate(res::kDialogAuthentication), owner,
      RecordingProc, 0);
  ASSERT_NE(dlg, nullptr);
  auto *field = qobject_cast<QLineEdit *>(DialogControlAt(dlg, 1));
  ASSERT_NE(field, nullptr);
  char text[8];
  std::thread([&] {
    SendDlgItemMessage(dlg, 119, EM_LIMITTEXT, 6, 0);
    SendDlgItemMessage(dlg, 119, EM_REPLACESEL, 0,
                       reinterpret_cast<LPARAM>("abcd"));
    SendDlgItemMessage(dlg, 119, EM_REPLACESEL, 0,
                       reinterpret_cast<LPARAM>("efgh"));
    // Read at once from this thread: what the field will show.
    EXPECT_EQ(GetDlgItemText(dlg, 119, text, sizeof text), 6u);
    EXPECT_STREQ(text, "abcdef");
    EXPECT_EQ(GetDlgItemText(dlg, 119, text, 4), 3u);
    EXPECT_STREQ(text, "abc");
  }).join();
  ASSERT_TRUE(PumpUntil([&] { return field->text() == "abcdef"; }));
  field->insert("xyz"); // typed: the limit holds
  EXPECT_EQ(field->text(), "abcdef");
  field->setText("u");
  EXPECT_EQ(GetDlgItemText(dlg, 119, text, sizeof text), 1u);
  EXPECT_EQ(GetDlgItemText(dlg, 555, text, sizeof text), 0u);
  EndDialog(dlg, 0);
}

TEST_F(Dialogs, ListsAndCheckBoxesAnswerFromAnyThreadAndTellTheUsersChoices) {
  const RichWords words;
  const DialogControl controls[] = {
      {ControlKind::CheckBox, 7, BS_AUTOCHECKBOX | WS_TABSTOP, 5, 5, 60, 10,
       "Box"},
      {ControlKind::ComboBox, 8, CBS_DROPDOWNLIST | WS_TABSTOP, 5, 20, 60, 50,
       ""},
      {ControlKind::Static, IDC_STATIC, SS_ETCHEDHORZ, 5, 40, 60, 1, ""},
      {ControlKind::Static, 9, SS_LEFT, 5, 42, 60, 8, words.text.c_str()}};
  const DialogTemplate tpl{
      WS_CAPTION | DS_SETFONT, 10, 10, 70, 50, "Lists", "Arial", 8, controls,
      std::size(controls)};
  HDLG dlg = CreateDialogIndirectParam(tpl, owner, RecordingProc, 0);
  ASSERT_NE(dlg, nullptr);
  auto *box = qobject_cast<QCheckBox *>(DialogControlAt(dlg, 0));
  auto *list = qobject_cast<QComboBox *>(DialogControlAt(dlg, 1));
  auto *line = qobject_cast<QFrame *>(DialogControlAt(dlg, 2));
  auto *label = qobject_cast<QLabel *>(DialogControlAt(dlg, 3));
  ASSERT_TRUE(box && list && line && label);
  ExpectPlain(label, words.text);
  EXPECT_EQ(line->frameShape(), QFrame::HLine);
  EXPECT_EQ(list->height(), 20); // closed: one line of the font and frame
  std::thread([&] {
    EXPECT_EQ(SendDlgItemMessage(dlg, 8, CB_ADDSTRING, 0,
                                 reinterpret_cast<LPARAM>("first")),
              0);
    EXPECT_EQ(SendDlgItemMessage(dlg, 8, CB_ADDSTRING, 0,
                                 reinterpret_cast<LPARAM>("second one")),
              1);
    EXPECT_EQ(SendDlgItemMessage(dlg, 8, CB_GETCURSEL, 0, 0), CB_ERR);
    EXPECT_EQ(SendDlgItemMessage(dlg, 8, CB_SETCURSEL, 5, 0), CB_ERR);
    EXPECT_EQ(SendDlgItemMessage(dlg, 8, CB_SETCURSEL, 1, 0), 1);
    EXPECT_EQ(SendDlgItemMessage(dlg, 8, CB_GETLBTEXTLEN, 1, 0), 10);
    EXPECT_EQ(SendDlgItemMessage(dlg, 8, CB_GETLBTEXTLEN, 2, 0), CB_ERR);
    char text[11] = "xxxxxxxxxx";
    EXPECT_EQ(SendDlgItemMessage(dlg, 8, CB_GETLBTEXT, 2,
                                 reinterpret_cast<LPARAM>(text)),
              CB_ERR);
    EXPECT_STREQ(text, "xxxxxxxxxx");
    EXPECT_EQ(SendDlgItemMessage(dlg, 8, CB_GETLBTEXT, 1,
                                 reinterpret_cast<LPARAM>(text)),
              10);
    EXPECT_STREQ(text, "second one");
    SendDlgItemMessage(dlg, 7, BM_SETCHECK, BST_CHECKED, 0);
    EXPECT_EQ(SendDlgItemMessage(dlg, 7, BM_GETCHECK, 0, 0),
              LRESULT(BST_CHECKED));
    SetDlgItemText(dlg, 9, ("<p>" + words.text).c_str());
  }).join();
  ASSERT_TRUE(PumpUntil([&] { return list->currentIndex() == 1; }));
  EXPECT_TRUE(box->isChecked());
  ASSERT_TRUE(PumpUntil([&] { return label->text().startsWith("<p>"); }));
  ExpectPlain(label, "<p>" + words.text);
  // Set by messages: nobody was told.
  for (const Call &c : Calls())
    EXPECT_NE(c.message, WM_COMMAND);

  // The user's choices: told, and read back as they are now.
  box->click();
  list->setCurrentIndex(0);
  emit list->activated(0);
  const std::vector<Call> calls = Calls();
  ASSERT_EQ(calls.size(), 3u); // WM_INITDIALOG and the two commands
  EXPECT_EQ(calls[1].wParam, WPARAM(7) | WPARAM(BN_CLICKED) << 16);
  EXPECT_EQ(calls[2].wParam, WPARAM(8) | WPARAM(CBN_SELCHANGE) << 16);
  EXPECT_EQ(SendDlgItemMessage(dlg, 7, BM_GETCHECK, 0, 0),
            LRESULT(BST_UNCHECKED));
  EXPECT_EQ(SendDlgItemMessage(dlg, 8, CB_GETCURSEL, 0, 0), 0);
  EndDialog(dlg, 0);
}

TEST_F(Dialogs, MessageBoxesShowTheIconOfTheirTypeAndPlainText) {
  const RichWords words;
  const struct {
    UINT type;
    QMessageBox::Icon icon;
  } cases[] = {{MB_ICONHAND, QMessageBox::Critical},
               {MB_ICONEXCLAMATION, QMessageBox::Warning},
               {MB_ICONINFORMATION, QMessageBox::Information},
               {MB_ICONQUESTION, QMessageBox::Question},
               {0, QMessageBox::NoIcon}};
  for (const auto &c : cases) {
    // The box runs its own loop: a timer inside it looks and closes it.
    int icon = -1;
    QWidget *parent = nullptr;
    QTimer look;
    QObject::connect(&look, &QTimer::timeout, [&] {
      for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *box = qobject_cast<QMessageBox *>(w);
            box && box->isVisible()) {
          icon = box->icon();
          parent = box->parentWidget();
          auto *label = box->findChild<QLabel *>("qt_msgbox_label");
          EXPECT_NE(label, nullptr);
          if (label != nullptr)
            ExpectPlain(label, words.text);
          box->done(0);
        }
    });
    look.start(10);
    // Posted from a worker: shown by the window thread, over the owner.
    std::thread([&] {
      PostMessageBox(owner, words.text.c_str(), "Box", c.type);
    }).join();
    ASSERT_TRUE(PumpUntil([&] { return icon != -1; }));
    EXPECT_EQ(icon, c.icon) << c.type;
    EXPECT_EQ(parent, WidgetOf(owner));
  }
}

} // namespace
