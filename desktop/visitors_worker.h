// The Visitors window's worker: its own connection to the visitors'
// record, the reading and decoding of pictures, and the window's writes,
// all off the window thread. What it finds goes to the window thread, to
// the view, through plat::PostToWindowThread.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "visits/visit_store.h"

namespace desktop {

// A thumbnail's size: door cameras send 4:3 pictures.
inline const QSize kThumbnailSize(80, 60);
// Thumbnails asked for and not yet made: the newest asked first (the rows
// on screen now), the oldest dropped beyond this many (rows scrolled past).
inline constexpr std::size_t kThumbnailQueue = 200;
// A picture file larger than this is not a door unit's.
inline constexpr qint64 kMaxPictureBytes = 16 << 20;
// How often an open window looks for what others wrote.
inline constexpr int kPollMs = 1000;

struct t_PictureShown {
  std::int64_t visit = 0;
  int index = 0;
  QByteArray bytes; // the JPEG as received
  QImage image;     // decoded, fitted to the size asked for
};

// What the worker tells; every call on the window thread.
class t_VisitorsView {
public:
  virtual ~t_VisitorsView() = default;
  virtual void Opened(bool usable) = 0;
  virtual void Listed(std::vector<visits::t_Visit> newestFirst) = 0;
  virtual void PicturesOf(std::int64_t visit,
                          std::vector<visits::t_VisitPicture> pictures) = 0;
  virtual void PictureReady(t_PictureShown picture) = 0;
  virtual void ThumbnailReady(std::int64_t visit, QImage image) = 0;
};

class t_VisitorsWorker {
public:
  // `view` outlives the worker.
  t_VisitorsWorker(std::string dataFolder, t_VisitorsView *view);
  ~t_VisitorsWorker(); // ends the thread after the job in hand
  t_VisitorsWorker(const t_VisitorsWorker &) = delete;
  t_VisitorsWorker &operator=(const t_VisitorsWorker &) = delete;

  // Each from any thread; none waits for the disk.
  void List();
  void MarkSeen(std::vector<std::int64_t> ids);
  void Pictures(std::int64_t visit);
  // Only the newest picture asked for is made.
  void Picture(std::int64_t visit, int index, std::string path, QSize fit);
  void Thumbnail(const visits::t_Visit &visit);
  void Delete(std::int64_t visit);
  void DeleteAll();
  // While the window is shown it looks for others' writes every kPollMs.
  void SetPolling(bool polling);

private:
  struct t_PictureJob {
    std::int64_t visit = 0;
    int index = 0;
    std::string path;
    QSize fit;
  };
  struct t_ThumbnailJob {
    std::int64_t visit = 0;
    std::string path;
  };
  void Run();
  void Wake();
  bool DoOne(std::unique_lock<std::mutex> &lock);

  const std::string dataFolder_;
  t_VisitorsView *const view_;

  std::mutex mutex_; // guards what follows
  std::condition_variable wake_;
  bool stop_ = false;
  bool polling_ = false;
  bool list_ = false;
  bool deleteAll_ = false;
  std::vector<std::int64_t> deletes_;
  std::vector<std::int64_t> seen_;
  std::optional<std::int64_t> pictures_;
  std::optional<t_PictureJob> picture_;
  std::deque<t_ThumbnailJob> thumbnails_;

  // The worker's own.
  std::unique_ptr<visits::t_VisitStore> store_;
  std::optional<std::int64_t> version_;

  std::thread thread_; // last: starts once the rest is made
};

// A picture file's bytes, or empty when it cannot be read or is too large.
QByteArray ReadPictureFile(const std::string &path);
// The picture decoded and fitted within `fit`, keeping its shape (its own
// size when `fit` is empty).
QImage DecodePicture(const QByteArray &bytes, QSize fit);

} // namespace desktop
