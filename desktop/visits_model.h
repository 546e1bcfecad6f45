// The Visitors window's list: the visits, newest first, with their
// thumbnails made as rows come into view. Window thread only.
#pragma once

#include <QAbstractTableModel>
#include <QCache>
#include <QColor>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFont>
#include <QPixmap>

#include <cstdint>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "desktop/visit_text.h"
#include "desktop/visitors_worker.h"
#include "visits/visit_rules.h"
#include "visits/visit_store.h"

namespace desktop {

using visits::t_Visit;
using visits::t_VisitPicture;

enum Column { kPicture, kWhen, kDoor, kHow, kOutcome, kColumns };

// A thumbnail asked for and not come back within this long was dropped by
// the worker (its row scrolled past): it is asked for again when shown.
inline constexpr qint64 kThumbnailRetryMs = 2000;
// Thumbnails kept: about 20 KB each.
inline constexpr int kThumbnailsKept = 3000;

inline const QColor kMissedRed(0xC6, 0x28, 0x28);

// The visits, newest first, with their thumbnails made as rows come into
// view.
class VisitsModel final : public QAbstractTableModel {
public:
  explicit VisitsModel(QObject *parent)
      : QAbstractTableModel(parent), thumbnails_(kThumbnailsKept) {
    clock_.start();
    placeholder_ = QPixmap(kThumbnailSize);
    placeholder_.fill(QColor(0x30, 0x30, 0x30));
  }

  void SetWorker(t_VisitorsWorker *worker) { worker_ = worker; }

  int rowCount(const QModelIndex &parent = {}) const override {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
  }
  int columnCount(const QModelIndex &parent = {}) const override {
    return parent.isValid() ? 0 : kColumns;
  }

  QVariant headerData(int section, Qt::Orientation orientation,
                      int role) const override {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
      return {};
    switch (section) {
    case kPicture:
      return QStringLiteral("Picture");
    case kWhen:
      return QStringLiteral("When");
    case kDoor:
      return QStringLiteral("Door");
    case kHow:
      return QStringLiteral("How");
    case kOutcome:
      return QStringLiteral("Outcome");
    default:
      return {};
    }
  }

  QVariant data(const QModelIndex &index, int role) const override {
    if (!index.isValid() || index.row() >= rowCount())
      return {};
    const t_Visit &visit = rows_[static_cast<std::size_t>(index.row())];
    const int column = index.column();
    if (role == Qt::DisplayRole) {
      switch (column) {
      case kWhen:
        return LocalTimeText(visit.started);
      case kDoor:
        return DoorText(visit);
      case kHow:
        return HowText(visit);
      case kOutcome:
        return OutcomeText(visit);
      default:
        return {};
      }
    }
    if (role == Qt::DecorationRole && column == kPicture)
      return Thumbnail(visit);
    if (role == Qt::SizeHintRole && column == kPicture)
      return kThumbnailSize + QSize(8, 4);
    if (MarkedMissed(visit) && column == kOutcome) {
      if (role == Qt::ForegroundRole)
        return kMissedRed;
      if (role == Qt::FontRole) {
        QFont bold;
        bold.setBold(true);
        return bold;
      }
    }
    return {};
  }

  // The rows as read; those nobody had seen when this opening first
  // listed them stay marked until the window closes.
  void SetRows(std::vector<t_Visit> rows) {
    beginResetModel();
    rows_ = std::move(rows);
    byId_.clear();
    for (std::size_t i = 0; i < rows_.size(); ++i) {
      t_Visit &visit = rows_[i];
      byId_[visit.id] = static_cast<int>(i);
      if (!visit.seen)
        newThisOpening_.insert(visit.id);
      else if (newThisOpening_.count(visit.id) != 0)
        visit.seen = false;
    }
    endResetModel();
  }

  void ForgetOpening() { newThisOpening_.clear(); }

  // Everything, as before the first opening.
  void Forget() {
    SetRows({});
    newThisOpening_.clear();
    markedSeen_.clear();
    thumbnails_.clear();
    asked_.clear();
    made_ = 0;
  }

  // Ids of the rows the record still holds as not seen.
  std::vector<std::int64_t> NotSeen() {
    std::vector<std::int64_t> ids;
    for (const t_Visit &visit : rows_)
      if (newThisOpening_.count(visit.id) != 0 &&
          markedSeen_.insert(visit.id).second)
        ids.push_back(visit.id);
    return ids;
  }

  void Remove(std::int64_t id) {
    const auto it = byId_.find(id);
    if (it == byId_.end())
      return;
    const int row = it->second;
    beginRemoveRows({}, row, row);
    rows_.erase(rows_.begin() + row);
    endRemoveRows();
    byId_.clear();
    for (std::size_t i = 0; i < rows_.size(); ++i)
      byId_[rows_[i].id] = static_cast<int>(i);
  }

  void ThumbnailMade(std::int64_t id, const QImage &image) {
    asked_.erase(id);
    thumbnails_.insert(
        id,
        new QPixmap(image.isNull() ? placeholder_ : QPixmap::fromImage(image)));
    ++made_;
    const auto it = byId_.find(id);
    if (it != byId_.end()) {
      const QModelIndex at = index(it->second, kPicture);
      emit dataChanged(at, at, {Qt::DecorationRole});
    }
  }

  const t_Visit *At(int row) const {
    if (row < 0 || row >= rowCount())
      return nullptr;
    return &rows_[static_cast<std::size_t>(row)];
  }
  int RowOf(std::int64_t id) const {
    const auto it = byId_.find(id);
    return it == byId_.end() ? -1 : it->second;
  }
  // The row of the visit that started nearest `startedMs` (within
  // `withinMs`) and came the way asked, or -1: a notice knows its ring by
  // its time, as the record's row is written after it.
  int RowStartedNear(std::int64_t startedMs, bool sip,
                     std::int64_t withinMs) const {
    int best = -1;
    std::int64_t bestOff = withinMs + 1;
    for (std::size_t row = 0; row < rows_.size(); ++row) {
      if ((rows_[row].how == "sip") != sip)
        continue;
      const auto at = visits::ParseUtcText(rows_[row].started);
      if (!at)
        continue;
      const std::int64_t off =
          *at > startedMs ? *at - startedMs : startedMs - *at;
      if (off < bestOff) {
        bestOff = off;
        best = static_cast<int>(row);
      }
    }
    return best;
  }
  bool HasThumbnail(int row) const {
    const t_Visit *visit = At(row);
    return visit != nullptr && thumbnails_.contains(visit->id);
  }
  int Made() const { return made_; }

private:
  QVariant Thumbnail(const t_Visit &visit) const {
    if (const QPixmap *made = thumbnails_.object(visit.id))
      return *made;
    if (visit.ringPicture.empty())
      return placeholder_;
    const qint64 now = clock_.elapsed();
    auto [it, first] = asked_.emplace(visit.id, now);
    if ((first || now - it->second > kThumbnailRetryMs) && worker_) {
      it->second = now;
      worker_->Thumbnail(visit);
    }
    return placeholder_;
  }

  std::vector<t_Visit> rows_;
  std::unordered_map<std::int64_t, int> byId_;
  std::unordered_set<std::int64_t> newThisOpening_;
  std::unordered_set<std::int64_t> markedSeen_;
  t_VisitorsWorker *worker_ = nullptr;
  mutable QCache<std::int64_t, QPixmap> thumbnails_;
  mutable std::unordered_map<std::int64_t, qint64> asked_;
  QElapsedTimer clock_;
  QPixmap placeholder_;
  int made_ = 0;
};

} // namespace desktop
