#include "desktop/visitors_window.h"

#include <QAbstractTableModel>
#include <QCache>
#include <QCloseEvent>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFont>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeySequence>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QSaveFile>
#include <QScreen>
#include <QShortcut>
#include <QSlider>
#include <QSplitter>
#include <QStandardPaths>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>
#include <QWidget>

#include <algorithm>
#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "desktop/visit_text.h"
#include "desktop/visitors_worker.h"
#include "desktop/visits_model.h"
#include "visits/visit_rules.h"

namespace desktop {

namespace {

// How far a notice's time of a ring may lie from its row's start.
constexpr std::int64_t kVisitNearMs = 3000;

class VisitorsWindow final : public QWidget, public t_VisitorsView {
public:
  VisitorsWindow() {
    setWindowTitle(QStringLiteral("Visitors"));
    resize(1220, 620);

    model_ = new VisitsModel(this);
    list_ = new QTreeView;
    list_->setModel(model_);
    list_->setRootIsDecorated(false);
    list_->setUniformRowHeights(true);
    list_->setItemsExpandable(false);
    list_->setAllColumnsShowFocus(true);
    list_->setAlternatingRowColors(true);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->setIconSize(kThumbnailSize);
    list_->setTextElideMode(Qt::ElideRight);
    QHeaderView *header = list_->header();
    header->setStretchLastSection(true);
    header->setSectionResizeMode(kPicture, QHeaderView::Fixed);
    header->resizeSection(kPicture, kThumbnailSize.width() + 16);
    header->resizeSection(kWhen, 185);
    header->resizeSection(kDoor, 140);
    header->resizeSection(kHow, 210);

    status_ = PlainLabel(QStringLiteral("Reading the record\u2026"));
    deleteAll_ = new QPushButton(QStringLiteral("Delete all\u2026"));
    auto *listBar = new QHBoxLayout;
    listBar->addWidget(status_, 1);
    listBar->addWidget(deleteAll_);
    auto *listSide = new QWidget;
    auto *listLayout = new QVBoxLayout(listSide);
    listLayout->setContentsMargins(0, 0, 0, 0);
    listLayout->addWidget(list_, 1);
    listLayout->addLayout(listBar);

    picture_ = PlainLabel(QString());
    picture_->setAlignment(Qt::AlignCenter);
    picture_->setMinimumSize(320, 240);
    picture_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    picture_->setAutoFillBackground(true);
    QPalette dark = picture_->palette();
    dark.setColor(QPalette::Window, Qt::black);
    dark.setColor(QPalette::WindowText, QColor(0xC0, 0xC0, 0xC0));
    picture_->setPalette(dark);
    caption_ = PlainLabel(QString());
    play_ = new QPushButton(QStringLiteral("Play"));
    slider_ = new QSlider(Qt::Horizontal);
    slider_->setPageStep(4);
    save_ = new QPushButton(QStringLiteral("Save picture\u2026"));
    delete_ = new QPushButton(QStringLiteral("Delete"));
    auto *playBar = new QHBoxLayout;
    playBar->addWidget(play_);
    playBar->addWidget(slider_, 1);
    auto *actions = new QHBoxLayout;
    actions->addWidget(caption_, 1);
    actions->addWidget(save_);
    actions->addWidget(delete_);
    auto *replay = new QWidget;
    auto *replayLayout = new QVBoxLayout(replay);
    replayLayout->setContentsMargins(0, 0, 0, 0);
    replayLayout->addWidget(picture_, 1);
    replayLayout->addLayout(playBar);
    replayLayout->addLayout(actions);

    auto *split = new QSplitter(Qt::Horizontal);
    split->addWidget(listSide);
    split->addWidget(replay);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 2);
    split->setSizes({790, 410});
    auto *top = new QVBoxLayout(this);
    top->addWidget(split);

    timer_ = new QTimer(this);
    timer_->setSingleShot(true);
    connect(timer_, &QTimer::timeout, this, [this] { Advance(); });
    // A paused picture is made again at the new size once resizing rests.
    refit_ = new QTimer(this);
    refit_->setSingleShot(true);
    refit_->setInterval(150);
    connect(refit_, &QTimer::timeout, this, [this] {
      if (!playing_ && shownIndex_ >= 0)
        Show(shownIndex_);
    });
    connect(list_->selectionModel(), &QItemSelectionModel::currentRowChanged,
            this, [this](const QModelIndex &now) { Select(now.row()); });
    connect(play_, &QPushButton::clicked, this, [this] { PlayOrPause(); });
    connect(slider_, &QSlider::valueChanged, this, [this](int value) {
      if (settingSlider_)
        return;
      Pause();
      Show(value);
    });
    connect(save_, &QPushButton::clicked, this, [this] { SavePicture(); });
    connect(delete_, &QPushButton::clicked, this, [this] { DeleteVisit(); });
    connect(deleteAll_, &QPushButton::clicked, this, [this] { DeleteAll(); });
    auto *del = new QShortcut(QKeySequence::Delete, this);
    connect(del, &QShortcut::activated, this, [this] { DeleteVisit(); });
    auto *save = new QShortcut(QKeySequence::Save, this);
    connect(save, &QShortcut::activated, this, [this] { SavePicture(); });
    ClearReplay(QString());
  }

  void Open(const std::string &dataFolder, const t_VisitorsAt &at) {
    at_ = at;
    if (!worker_) {
      worker_ = std::make_unique<t_VisitorsWorker>(dataFolder, this);
      model_->SetWorker(worker_.get());
    }
    firstList_ = true;
    worker_->SetPolling(true);
    worker_->List();
    if (!placed_) {
      // Where the user looks first: the middle of the screen, whatever
      // the skinned window's place.
      placed_ = true;
      if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(0, 0), size());
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
      }
    }
    show();
    raise();
    activateWindow();
  }

  void End() {
    timer_->stop();
    hide();
    model_->SetWorker(nullptr);
    worker_.reset();
    current_ = 0;
    listed_ = false;
    model_->Forget();
    ClearReplay(QString());
  }

  t_VisitorsShown Shown() const {
    t_VisitorsShown shown;
    shown.shown = isVisible();
    shown.listed = listed_;
    shown.rows = model_->rowCount();
    shown.thumbnails = model_->Made();
    const QModelIndex first = list_->indexAt(QPoint(2, 2));
    if (first.isValid()) {
      const int height = list_->viewport()->height();
      for (int row = first.row(); row < shown.rows; ++row) {
        if (list_->visualRect(model_->index(row, 0)).top() >= height)
          break;
        ++shown.rowsOnScreen;
        shown.thumbnailsOnScreen += model_->HasThumbnail(row) ? 1 : 0;
      }
    }
    return shown;
  }

  // --- t_VisitorsView ---------------------------------------------------
  void Opened(bool usable) override {
    if (!usable)
      status_->setText(QStringLiteral(
          "The visitors' record cannot be read (the program's messages say "
          "why)."));
  }

  void Listed(std::vector<t_Visit> newestFirst) override {
    const std::int64_t keep = current_;
    listed_ = true;
    model_->SetRows(std::move(newestFirst));
    const int rows = model_->rowCount();
    status_->setText(rows == 1 ? QStringLiteral("1 visit")
                               : QStringLiteral("%1 visits").arg(rows));
    deleteAll_->setEnabled(rows > 0);
    // Opening looks at every visit listed; what comes in later while the
    // window is open is seen once the window is the user's (changeEvent).
    if (firstList_ || isActiveWindow())
      MarkListedSeen();
    // The visit being looked at stays selected; on opening, the newest.
    int row = model_->RowOf(keep);
    if (firstList_ || row < 0)
      row = rows > 0 ? 0 : -1;
    if (firstList_ && at_.startedMs != 0) {
      const int near =
          model_->RowStartedNear(at_.startedMs, at_.sip, kVisitNearMs);
      if (near >= 0)
        row = near;
    }
    firstList_ = false;
    if (row < 0) {
      current_ = 0;
      ClearReplay(QStringLiteral("No visitors yet."));
      return;
    }
    const QModelIndex at = model_->index(row, 0);
    list_->selectionModel()->setCurrentIndex(
        at, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    list_->scrollTo(at);
  }

  void PicturesOf(std::int64_t visit,
                  std::vector<t_VisitPicture> pictures) override {
    if (visit != current_)
      return;
    pictures_ = std::move(pictures);
    if (pictures_.empty()) {
      ClearReplay(QStringLiteral("No pictures were kept of this visit."));
      delete_->setEnabled(true);
      return;
    }
    settingSlider_ = true;
    slider_->setRange(0, static_cast<int>(pictures_.size()) - 1);
    slider_->setValue(0);
    settingSlider_ = false;
    slider_->setEnabled(true);
    play_->setEnabled(true);
    delete_->setEnabled(true);
    Play(0);
  }

  void PictureReady(t_PictureShown picture) override {
    if (picture.visit != current_ || picture.index != wanted_ ||
        picture.index >= static_cast<int>(pictures_.size()))
      return;
    const t_VisitPicture &p =
        pictures_[static_cast<std::size_t>(picture.index)];
    if (picture.image.isNull()) {
      picture_->setPixmap({});
      picture_->setText(QStringLiteral("This picture cannot be read."));
      shownBytes_.clear();
    } else {
      picture_->setPixmap(QPixmap::fromImage(picture.image));
      shownBytes_ = picture.bytes;
    }
    shownIndex_ = picture.index;
    save_->setEnabled(!shownBytes_.isEmpty());
    caption_->setText(QStringLiteral("%1 (%2 of %3)")
                          .arg(PictureTimeText(p.atMs))
                          .arg(picture.index + 1)
                          .arg(pictures_.size()));
    settingSlider_ = true;
    slider_->setValue(picture.index);
    settingSlider_ = false;
    if (!playing_)
      return;
    if (picture.index + 1 >= static_cast<int>(pictures_.size())) {
      Pause();
      return;
    }
    // At the pictures' own pace: the next one as long after this one as
    // it was taken, less the time making this one took.
    const int gap =
        pictures_[static_cast<std::size_t>(picture.index) + 1].atMs - p.atMs;
    const qint64 left = std::clamp<qint64>(gap, 10, 2000) - tick_.elapsed();
    timer_->start(static_cast<int>(std::max<qint64>(left, 0)));
  }

  void ThumbnailReady(std::int64_t visit, QImage image) override {
    model_->ThumbnailMade(visit, image);
  }

protected:
  void closeEvent(QCloseEvent *event) override {
    Pause();
    if (worker_)
      worker_->SetPolling(false);
    model_->ForgetOpening();
    event->accept();
  }

  void resizeEvent(QResizeEvent *event) override {
    refit_->start();
    QWidget::resizeEvent(event);
  }

  void changeEvent(QEvent *event) override {
    // What arrived while the window was open is seen once it is looked at.
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
      MarkListedSeen();
    QWidget::changeEvent(event);
  }

private:
  static QLabel *PlainLabel(const QString &text) {
    auto *label = new QLabel(text);
    label->setTextFormat(Qt::PlainText);
    return label;
  }

  void MarkListedSeen() {
    if (worker_ && isVisible())
      worker_->MarkSeen(model_->NotSeen());
  }

  void ClearReplay(const QString &why) {
    Pause();
    pictures_.clear();
    shownBytes_.clear();
    wanted_ = shownIndex_ = -1;
    picture_->setPixmap({});
    picture_->setText(why);
    caption_->clear();
    settingSlider_ = true;
    slider_->setRange(0, 0);
    settingSlider_ = false;
    slider_->setEnabled(false);
    play_->setEnabled(false);
    save_->setEnabled(false);
    delete_->setEnabled(current_ != 0);
  }

  void Select(int row) {
    const t_Visit *visit = model_->At(row);
    current_ = visit ? visit->id : 0;
    ClearReplay(QString());
    if (visit && worker_)
      worker_->Pictures(visit->id);
  }

  void Show(int index) {
    if (index < 0 || index >= static_cast<int>(pictures_.size()) || !worker_)
      return;
    wanted_ = index;
    tick_.start();
    worker_->Picture(current_, index,
                     pictures_[static_cast<std::size_t>(index)].path,
                     picture_->size());
  }

  void Play(int from) {
    playing_ = true;
    play_->setText(QStringLiteral("Pause"));
    Show(from);
  }

  void Pause() {
    playing_ = false;
    timer_->stop();
    play_->setText(QStringLiteral("Play"));
  }

  void PlayOrPause() {
    if (playing_) {
      Pause();
      return;
    }
    const int last = static_cast<int>(pictures_.size()) - 1;
    Play(shownIndex_ >= last || shownIndex_ < 0 ? 0 : shownIndex_ + 1);
  }

  void Advance() {
    if (playing_)
      Show(wanted_ + 1);
  }

  void SavePicture() {
    if (shownBytes_.isEmpty() || shownIndex_ < 0)
      return;
    Pause();
    const QByteArray bytes = shownBytes_;
    const t_Visit *visit = model_->At(model_->RowOf(current_));
    const int atMs = pictures_[static_cast<std::size_t>(shownIndex_)].atMs;
    QString name = QStringLiteral("visitor");
    if (visit != nullptr) {
      if (const auto ms = visits::ParseUtcText(visit->started))
        name += QDateTime::fromMSecsSinceEpoch(*ms).toLocalTime().toString(
            QStringLiteral("-yyyy-MM-dd-HHmmss"));
    }
    name += QString::fromStdString(visits::PictureName(atMs));
    QString folder =
        QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    if (folder.isEmpty() || !QDir(folder).exists())
      folder = QDir::homePath();
    const QString path = QFileDialog::getSaveFileName(
        this, QStringLiteral("Save picture"), folder + "/" + name,
        QStringLiteral("JPEG pictures (*.jpg *.jpeg)"));
    if (path.isEmpty())
      return;
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() &&
        file.commit())
      return;
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Save picture"),
                    QStringLiteral("The picture could not be saved as %1: %2")
                        .arg(path, file.errorString()),
                    QMessageBox::Ok, this);
    box.setTextFormat(Qt::PlainText);
    box.exec();
  }

  void DeleteVisit() {
    if (current_ == 0 || !worker_)
      return;
    const int row = model_->RowOf(current_);
    worker_->Delete(current_);
    model_->Remove(current_);
    current_ = 0;
    ClearReplay(QString());
    const int rows = model_->rowCount();
    status_->setText(rows == 1 ? QStringLiteral("1 visit")
                               : QStringLiteral("%1 visits").arg(rows));
    if (rows == 0) {
      ClearReplay(QStringLiteral("No visitors yet."));
      return;
    }
    const QModelIndex next = model_->index(std::min(row, rows - 1), 0);
    list_->selectionModel()->setCurrentIndex(
        next, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  }

  void DeleteAll() {
    const int rows = model_->rowCount();
    if (rows == 0 || !worker_)
      return;
    Pause();
    QMessageBox box(
        QMessageBox::Question, QStringLiteral("Delete all visits"),
        (rows == 1 ? QStringLiteral("Delete the one visit")
                   : QStringLiteral("Delete all %1 visits").arg(rows)) +
            QStringLiteral(" and their pictures? This cannot be undone."),
        QMessageBox::Yes | QMessageBox::No, this);
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(QMessageBox::No);
    if (box.exec() != QMessageBox::Yes)
      return;
    worker_->DeleteAll();
    current_ = 0;
    model_->SetRows({});
    status_->setText(QStringLiteral("0 visits"));
    deleteAll_->setEnabled(false);
    ClearReplay(QStringLiteral("No visitors yet."));
  }

  VisitsModel *model_;
  QTreeView *list_;
  QLabel *status_, *picture_, *caption_;
  QPushButton *deleteAll_, *play_, *save_, *delete_;
  QSlider *slider_;
  QTimer *timer_, *refit_;
  std::unique_ptr<t_VisitorsWorker> worker_;

  bool placed_ = false;
  bool listed_ = false;
  bool firstList_ = true;
  t_VisitorsAt at_; // the visit to select at this opening, if any
  std::int64_t current_ = 0;
  std::vector<t_VisitPicture> pictures_;
  bool playing_ = false;
  bool settingSlider_ = false;
  int wanted_ = -1;     // the picture asked of the worker
  int shownIndex_ = -1; // the picture shown
  QByteArray shownBytes_;
  QElapsedTimer tick_;
};

// Made at the first opening and kept: the worker's results may still be
// on their way to it.
VisitorsWindow *g_window = nullptr;

} // namespace

void OpenVisitorsWindow(const std::string &dataFolder, const t_VisitorsAt &at) {
  if (g_window == nullptr)
    g_window = new VisitorsWindow;
  g_window->Open(dataFolder, at);
}

void CloseVisitorsWindow() {
  if (g_window != nullptr)
    g_window->End();
}

t_VisitorsShown VisitorsWindowShown() {
  return g_window != nullptr ? g_window->Shown() : t_VisitorsShown{};
}

} // namespace desktop
