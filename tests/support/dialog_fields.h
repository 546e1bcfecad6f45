// The edit field of a dialog made from a template, found by its control id.
#pragma once

#include <QDialog>
#include <QLineEdit>

inline QLineEdit *Field(QDialog *dialog, int id) {
  for (QLineEdit *e : dialog->findChildren<QLineEdit *>())
    if (e->property("dlgId").toInt() == id)
      return e;
  return nullptr;
}
