// The real window of a handle: presents the surface and turns pointer and
// close requests into the window procedure's messages. Not for use outside
// platform/.
#pragma once

#include <QWidget>

#include <cstdint>

#include "platform/present.h"
#include "platform/window.h"

namespace plat {

class WindowWidget : public QWidget {
public:
  WindowWidget(Window *w);

  // Set by DestroyWindow: the close that follows is the program's own.
  bool closingByProc = false;

  QPaintEngine *paintEngine() const override;

  // A tooltip of this window that shows asks for its text again.
  void RefreshToolTip();

protected:
  bool event(QEvent *event) override;
  void paintEvent(QPaintEvent *event) override;
  void resizeEvent(QResizeEvent *) override;
  void moveEvent(QMoveEvent *) override;
  void closeEvent(QCloseEvent *event) override;
  void changeEvent(QEvent *event) override;
  bool eventFilter(QObject *watched, QEvent *event) override;
  void mousePressEvent(QMouseEvent *event) override;
  void mouseDoubleClickEvent(QMouseEvent *event) override;
  void mouseMoveEvent(QMouseEvent *event) override;
  void mouseReleaseEvent(QMouseEvent *event) override;

private:
  enum class Drag { None, Move, Resize };

  void BroughtBack();
  bool StillMapped();
  LRESULT HitTest(const QPoint &global);
  LRESULT Where(const QPoint &global, const QPoint &local);
  void Press(QMouseEvent *event);
  void BeginDrag(Drag kind, const QPoint &global);
  QString ToolTipAt(const QPoint &global, const QPoint &local);
  void ShowToolTip(const QPoint &global, const QString &text);

  Window *w_;
  WindowPresenter presenter_;
  Drag drag_ = Drag::None;
  QPoint pressGlobal_;
  QRect start_;
  QString tip_; // the text of the tooltip this window showed last
};

} // namespace plat
