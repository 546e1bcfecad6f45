// The edit field of a dialog made from a template, found by its control id.
#pragma once

#include <QDialog>
#include <QLineEdit>
#include <QPushButton>

inline QLineEdit *Field(QDialog *dialog, int id) {
  for (QLineEdit *e : dialog->findChildren<QLineEdit *>())
    if (e->property("dlgId").toInt() == id)
      return e;
  return nullptr;
}

// Clicks the push button of `dialog` that reads `text`; false when there
// is none.
inline bool Click(QWidget *dialog, const char *text) {
  if (dialog == nullptr)
    return false;
  for (QPushButton *b : dialog->findChildren<QPushButton *>())
    if (b->text() == QLatin1String(text)) {
      b->click();
      return true;
    }
  return false;
}
