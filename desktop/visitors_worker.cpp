#include "desktop/visitors_worker.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>

#include <algorithm>
#include <chrono>
#include <limits>
#include <utility>

#include "platform/window.h"
#include "visits/visit_rules.h"
#include "visits/visits.h"

namespace desktop {

QByteArray ReadPictureFile(const std::string &path) {
  QFile file(QString::fromStdString(path));
  if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxPictureBytes)
    return {};
  return file.read(kMaxPictureBytes);
}

QImage DecodePicture(const QByteArray &bytes, QSize fit) {
  QBuffer buffer;
  buffer.setData(bytes);
  QImageReader reader(&buffer, "jpeg");
  const QSize size = reader.size();
  if (size.isValid() && fit.isValid() && !fit.isEmpty()) {
    // Made at the size shown: a smaller one at a fraction of the decoder's
    // work.
    reader.setScaledSize(size.scaled(fit, Qt::KeepAspectRatio));
  }
  return reader.read();
}

t_VisitorsWorker::t_VisitorsWorker(std::string dataFolder, t_VisitorsView *view)
    : dataFolder_(std::move(dataFolder)), view_(view),
      thread_([this] { Run(); }) {}

t_VisitorsWorker::~t_VisitorsWorker() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void t_VisitorsWorker::Wake() { wake_.notify_all(); }

void t_VisitorsWorker::List() {
  {
    std::lock_guard lock(mutex_);
    list_ = true;
  }
  Wake();
}

void t_VisitorsWorker::MarkSeen(std::vector<std::int64_t> ids) {
  if (ids.empty())
    return;
  {
    std::lock_guard lock(mutex_);
    seen_.insert(seen_.end(), ids.begin(), ids.end());
  }
  Wake();
}

void t_VisitorsWorker::Pictures(std::int64_t visit) {
  {
    std::lock_guard lock(mutex_);
    pictures_ = visit;
    picture_.reset();
  }
  Wake();
}

void t_VisitorsWorker::Picture(std::int64_t visit, int index, std::string path,
                               QSize fit) {
  {
    std::lock_guard lock(mutex_);
    picture_ = t_PictureJob{visit, index, std::move(path), fit};
  }
  Wake();
}

void t_VisitorsWorker::Thumbnail(const visits::t_Visit &visit) {
  {
    std::lock_guard lock(mutex_);
    // The record's folder is known once the worker has opened it; until
    // then the row's names go along and are joined there.
    thumbnails_.push_back({visit.id, visit.folder + "/" + visit.ringPicture});
    if (!visits::IsPlainName(visit.folder) ||
        !visits::IsPictureName(visit.ringPicture))
      thumbnails_.back().path.clear();
    if (thumbnails_.size() > kThumbnailQueue)
      thumbnails_.pop_front();
  }
  Wake();
}

void t_VisitorsWorker::Delete(std::int64_t visit) {
  {
    std::lock_guard lock(mutex_);
    deletes_.push_back(visit);
  }
  Wake();
}

void t_VisitorsWorker::DeleteAll() {
  {
    std::lock_guard lock(mutex_);
    deleteAll_ = true;
    deletes_.clear();
  }
  Wake();
}

void t_VisitorsWorker::SetPolling(bool polling) {
  {
    std::lock_guard lock(mutex_);
    polling_ = polling;
  }
  Wake();
}

void t_VisitorsWorker::Run() {
  store_ = visits::t_VisitStore::Open(dataFolder_, false);
  const bool usable = store_ != nullptr;
  t_VisitorsView *view = view_;
  plat::PostToWindowThread([view, usable] { view->Opened(usable); });
  if (usable)
    version_ = store_->DataVersion();
  std::unique_lock lock(mutex_);
  while (!stop_) {
    if (DoOne(lock))
      continue;
    const bool woken =
        wake_.wait_for(lock, std::chrono::milliseconds(kPollMs), [this] {
          return stop_ || list_ || deleteAll_ || !deletes_.empty() ||
                 !seen_.empty() || pictures_ || picture_ ||
                 !thumbnails_.empty();
        });
    if (woken || !polling_ || !store_)
      continue;
    // Another copy, or the recorder, wrote: the list is read again.
    lock.unlock();
    const auto version = store_->DataVersion();
    lock.lock();
    if (version != version_) {
      version_ = version;
      list_ = true;
    }
  }
  lock.unlock();
  store_.reset();
}

// One job, the most urgent first: the user's writes, the list, the
// replay, then thumbnails. False when there was none.
bool t_VisitorsWorker::DoOne(std::unique_lock<std::mutex> &lock) {
  t_VisitorsView *view = view_;
  if (!store_) {
    // Nothing can be read: every job is dropped.
    list_ = deleteAll_ = false;
    deletes_.clear();
    seen_.clear();
    pictures_.reset();
    picture_.reset();
    thumbnails_.clear();
    return false;
  }
  if (deleteAll_ || !deletes_.empty()) {
    const bool all = std::exchange(deleteAll_, false);
    std::vector<std::int64_t> ids = std::move(deletes_);
    deletes_.clear();
    list_ = true;
    lock.unlock();
    if (all)
      store_->DeleteAll();
    for (std::int64_t id : ids)
      store_->Delete(id);
    RecountVisits();
    lock.lock();
    return true;
  }
  if (!seen_.empty()) {
    std::vector<std::int64_t> ids = std::move(seen_);
    seen_.clear();
    lock.unlock();
    store_->MarkSeen(ids);
    RecountVisits();
    lock.lock();
    return true;
  }
  if (list_) {
    list_ = false;
    lock.unlock();
    version_ = store_->DataVersion();
    const std::int64_t count = store_->Count();
    std::vector<visits::t_Visit> rows =
        store_->List(0, static_cast<int>(std::min<std::int64_t>(
                            count + 64, std::numeric_limits<int>::max())));
    plat::PostToWindowThread([view, rows = std::move(rows)]() mutable {
      view->Listed(std::move(rows));
    });
    lock.lock();
    return true;
  }
  if (pictures_) {
    const std::int64_t id = *pictures_;
    pictures_.reset();
    lock.unlock();
    std::vector<visits::t_VisitPicture> pictures = store_->Pictures(id);
    plat::PostToWindowThread(
        [view, id, pictures = std::move(pictures)]() mutable {
          view->PicturesOf(id, std::move(pictures));
        });
    lock.lock();
    return true;
  }
  if (picture_) {
    t_PictureJob job = std::move(*picture_);
    picture_.reset();
    lock.unlock();
    t_PictureShown shown;
    shown.visit = job.visit;
    shown.index = job.index;
    shown.bytes = ReadPictureFile(job.path);
    shown.image = DecodePicture(shown.bytes, job.fit);
    plat::PostToWindowThread([view, shown = std::move(shown)]() mutable {
      view->PictureReady(std::move(shown));
    });
    lock.lock();
    return true;
  }
  if (!thumbnails_.empty()) {
    t_ThumbnailJob job = std::move(thumbnails_.back());
    thumbnails_.pop_back();
    lock.unlock();
    QImage image;
    if (!job.path.empty())
      image = DecodePicture(ReadPictureFile(store_->Folder() + "/" + job.path),
                            kThumbnailSize);
    const std::int64_t id = job.visit;
    plat::PostToWindowThread([view, id, image = std::move(image)]() mutable {
      view->ThumbnailReady(id, std::move(image));
    });
    lock.lock();
    return true;
  }
  return false;
}

} // namespace desktop
