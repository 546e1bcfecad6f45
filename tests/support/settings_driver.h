// The settings dialog worked as a user would, for the tests: opened by the
// settings button, its controls found by id, keys sent, text typed.
#pragma once

#include <QApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QTimer>

#include <cctype>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "commands/commands.h"
#include "skin/skin.h"

inline QDialog *OpenSettings() {
  for (QWidget *w : QApplication::topLevelWidgets())
    if (auto *d = qobject_cast<QDialog *>(w))
      if (d->isVisible() && d->windowTitle() == "Vestibell version 1.39")
        return d;
  return nullptr;
}

inline QWidget *Ctl(QDialog *d, int id) {
  for (QWidget *w : d->findChildren<QWidget *>())
    if (w->property("dlgId").toInt() == id)
      return w;
  return nullptr;
}
inline QLineEdit *Edit(QDialog *d, int id) {
  return qobject_cast<QLineEdit *>(Ctl(d, id));
}
inline std::string Text(QDialog *d, int id) {
  return qobject_cast<QLabel *>(Ctl(d, id))->text().toStdString();
}

inline void Key(QWidget *w, int key, const QString &text = {}) {
  // The press may close the dialog (and a box's loop may delete it).
  QPointer<QWidget> alive(w);
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
  QApplication::sendEvent(w, &press);
  if (alive.isNull())
    return;
  QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
  QApplication::sendEvent(w, &release);
}

inline void Type(QLineEdit *e, const std::string &text) {
  e->setFocus();
  for (char c : text)
    Key(e, std::toupper(static_cast<unsigned char>(c)), QString(QChar(c)));
}

// Opens the dialog with the settings button; `drive` gets it once shown
// and must close it. Returns when the button's action has returned.
inline void RunSettings(const std::function<void(QDialog *)> &drive) {
  bool driven = false;
  QTimer look;
  QObject::connect(&look, &QTimer::timeout, [&] {
    if (QDialog *d = driven ? nullptr : OpenSettings()) {
      driven = true;
      drive(d);
    }
  });
  look.start(10);
  MyLButtonUp(BTN_SETTINGS);
  ASSERT_TRUE(driven);
}
