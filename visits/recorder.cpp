// The recorder: what the reader, the window thread and the SIP thread hand
// in, and the worker thread that turns it into visits on disk. The picture
// buffer and the pictures of visits still collecting live under one small
// lock, so the reader only ever appends; everything that waits (the
// database, the files) happens on the worker.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "instance/settings.h"
#include "platform/report.h"
#include "platform/trace.h"
#include "visits/visits.h"

using namespace visits;

namespace {

std::int64_t SteadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::int64_t WallMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// How long closing waits for the worker to write what it holds.
constexpr auto kStopWait = std::chrono::seconds(3);
// Visits grow too old while nobody rings: retention runs this often too.
constexpr std::int64_t kRetainEveryMs = 3600000;

std::atomic<int> g_unseenMissed{0};
std::atomic<void (*)(int)> g_unseenHook{nullptr};

// What a hand-in leaves for the worker, in the order it happened.
struct t_Job {
  enum Kind { Begin, RingEnd, RingAgain, InCall, Sip, Recount } kind;
  explicit t_Job(Kind k) : kind(k) {}
  std::uint64_t visit = 0; // the recorder's own number of a stream visit
  std::int64_t steady = 0; // when, on the ring's clock
  std::int64_t wall = 0;   // when, since 1970
  bool on = false;         // InCall
  std::string door, address;
  std::vector<t_TimedPicture> before; // Begin: the seconds before the ring
  t_SipVisit sip;
};

// The pictures after a ring, the newest of each slot, until its 10 s are
// over. Under the lock.
struct t_Collecting {
  std::uint64_t visit;
  std::int64_t ring;
  std::map<int, t_TimedPicture> slots;
};

// A visit the worker still writes.
struct t_Open {
  std::uint64_t visit = 0;
  std::int64_t row = 0;
  std::int64_t wallStart = 0;
  std::string folder;
  t_Ring ring;
  bool collecting = false;
  bool decided = false;
  bool endWritten = false;
  bool picturesFailed = false;
  std::optional<int> ringSlot; // the slot of the ring picture chosen so far
};

class t_Recorder {
public:
  explicit t_Recorder(t_VisitsSetup setup) : setup_(std::move(setup)) {
    worker_ = std::thread([this] { Work(); });
  }

  // --- hand-ins, any producer thread -------------------------------------
  void Picture(t_PictureBytes picture) {
    std::lock_guard lock(mutex_);
    if (disabled_)
      return;
    const std::int64_t now = SteadyMs();
    for (t_Collecting &c : collecting_)
      if (const std::optional<int> slot = SlotOf(now - c.ring))
        c.slots[*slot] = {now, picture};
    buffer_.Add(now, std::move(picture));
  }

  void Ring(bool ringing, const char *title) {
    std::lock_guard lock(mutex_);
    if (disabled_ || ringing == ringing_)
      return;
    ringing_ = ringing;
    t_Job job(ringing ? t_Job::Begin : t_Job::RingEnd);
    job.steady = SteadyMs();
    job.wall = WallMs();
    if (!ringing) {
      lastEnd_ = job.steady;
    } else if (current_ != 0 && job.steady - lastEnd_ < kSameVisitMs) {
      job.kind = t_Job::RingAgain;
    } else {
      current_ = ++numbered_;
      job.door = title != nullptr ? title : "";
      char address[64];
      IP_addr.CopyTo(address, sizeof address);
      job.address = address;
      if (setup_.settings.pictures) {
        job.before = buffer_.Before(job.steady);
        collecting_.push_back({current_, job.steady, {}});
      }
    }
    job.visit = current_;
    Push(std::move(job));
  }

  void InCall(bool inCall) {
    std::lock_guard lock(mutex_);
    t_Job job(t_Job::InCall);
    job.steady = SteadyMs();
    job.on = inCall;
    Push(std::move(job));
  }

  void Sip(const t_SipVisit &call) {
    std::lock_guard lock(mutex_);
    t_Job job(t_Job::Sip);
    job.steady = SteadyMs();
    job.sip = call;
    Push(std::move(job));
  }

  void Recount() {
    std::lock_guard lock(mutex_);
    Push(t_Job(t_Job::Recount));
  }

  // Window thread. True when the worker ended in time.
  bool Stop() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_all();
    std::unique_lock lock(mutex_);
    if (!wake_.wait_for(lock, kStopWait, [this] { return ended_; })) {
      worker_.detach();
      return false;
    }
    lock.unlock();
    worker_.join();
    return true;
  }

private:
  void Push(t_Job job) {
    if (disabled_)
      return;
    jobs_.push_back(std::move(job));
    wake_.notify_all();
  }

  // --- the worker ----------------------------------------------------------
  void Work() {
    store_ = t_VisitStore::Open(setup_.dataFolder, true);
    if (!store_) {
      std::lock_guard lock(mutex_);
      disabled_ = true;
      jobs_.clear();
      collecting_.clear();
      buffer_ = t_PictureBuffer{};
    } else {
      Retain();
      Recount(true);
      Run();
    }
    std::lock_guard lock(mutex_);
    ended_ = true;
    wake_.notify_all();
  }

  void Run() {
    std::int64_t lastPoll = SteadyMs(), lastRetain = lastPoll;
    std::optional<std::int64_t> version = store_->DataVersion();
    for (;;) {
      std::deque<t_Job> jobs;
      bool stopping;
      {
        std::unique_lock lock(mutex_);
        const std::int64_t due = NextDue(lastPoll + kRecountMs);
        const auto until = std::chrono::steady_clock::time_point(
            std::chrono::milliseconds(due));
        wake_.wait_until(lock, until,
                         [this] { return !jobs_.empty() || stopping_; });
        jobs.swap(jobs_);
        stopping = stopping_;
      }
      bool changed = false;
      for (t_Job &job : jobs)
        changed = Handle(job) || changed;
      const std::int64_t now = SteadyMs();
      changed = Advance(now, stopping) || changed;
      if (now - lastPoll >= kRecountMs) {
        lastPoll = now;
        const std::optional<std::int64_t> seen = store_->DataVersion();
        changed = changed || seen != version;
        version = seen;
      }
      if (now - lastRetain >= kRetainEveryMs) {
        lastRetain = now;
        Retain();
      }
      if (changed)
        Recount(false);
      if (stopping)
        return;
    }
  }

  // The next moment the worker has something to do: a slot of a collecting
  // visit closes, a ring that ended is decided, or the next poll.
  std::int64_t NextDue(std::int64_t poll) const {
    std::int64_t due = poll;
    const std::int64_t now = SteadyMs();
    for (const t_Collecting &c : collecting_) {
      const std::int64_t into = std::max<std::int64_t>(now - c.ring, 0);
      due = std::min(due, c.ring + (into / kSlotMs + 1) * kSlotMs);
    }
    for (const t_Open &o : open_)
      if (!o.decided)
        if (const std::optional<std::int64_t> by = DecidedBy(o.ring))
          due = std::min(due, *by);
    return due;
  }

  t_Open *Find(std::uint64_t visit) {
    for (t_Open &o : open_)
      if (o.visit == visit)
        return &o;
    return nullptr;
  }

  // True when the record changed.
  bool Handle(t_Job &job) {
    switch (job.kind) {
    case t_Job::Begin:
      Begin(job);
      return true;
    case t_Job::RingEnd:
      if (t_Open *o = Find(job.visit))
        o->ring.end = job.steady;
      return false;
    case t_Job::RingAgain:
      // Rings on: a visit thought missed may still be answered.
      if (t_Open *o = Find(job.visit)) {
        o->ring.end.reset();
        o->endWritten = false;
        o->decided = o->decided &&
                     StreamOutcome(o->ring, job.steady) == Outcome::Answered;
      }
      return false;
    case t_Job::InCall:
      inCall_ = job.on;
      // A call answers the newest ring alone: a visitor who rang before
      // somebody else came and was answered was still missed.
      if (t_Open *o = Find(latest_);
          o != nullptr && job.on && !o->decided && !o->ring.inCallAt)
        o->ring.inCallAt = job.steady;
      return false;
    case t_Job::Sip:
      return WriteSip(job.sip);
    case t_Job::Recount:
      return true;
    }
    return false;
  }

  void Begin(t_Job &job) {
    latest_ = job.visit;
    t_Open o;
    o.visit = job.visit;
    o.wallStart = job.wall;
    o.ring.start = job.steady;
    if (inCall_)
      o.ring.inCallAt = job.steady;
    o.collecting = setup_.settings.pictures;
    if (setup_.settings.pictures) {
      o.folder = store_->MakeVisitFolder(job.wall, setup_.copy);
      WriteFailed();
    }
    t_NewVisit row;
    row.startedMs = job.wall;
    row.door = job.door;
    row.address = job.address;
    row.folder = o.folder;
    o.row = store_->Begin(row);
    if (o.row == 0) {
      WriteFailed();
      o.picturesFailed = true;
    }
    o.picturesFailed = o.picturesFailed || o.folder.empty();
    std::vector<std::pair<int, t_PictureBytes>> before;
    for (t_TimedPicture &p : job.before)
      before.push_back({*SlotOf(p.at - job.steady), std::move(p.bytes)});
    open_.push_back(std::move(o));
    WritePictures(open_.back(), before);
  }

  // Writes a visit's pictures and their rows; stops writing them after a
  // failure.
  void WritePictures(t_Open &o,
                     const std::vector<std::pair<int, t_PictureBytes>> &taken) {
    if (o.picturesFailed || taken.empty())
      return;
    std::vector<t_VisitPicture> written;
    for (const auto &[slot, bytes] : taken) {
      const PictureWrite result = store_->WritePicture(o.folder, slot, *bytes);
      if (result != PictureWrite::Written) {
        WriteFailed();
        o.picturesFailed = true;
        break;
      }
      t_VisitPicture p;
      p.atMs = slot;
      p.file = PictureName(slot);
      p.bytes = static_cast<std::int64_t>(bytes->size());
      written.push_back(std::move(p));
      // The ring's moment: the first picture from it on, else the newest
      // before it.
      if (!o.ringSlot || (*o.ringSlot < 0 && slot >= 0) ||
          (*o.ringSlot < 0 && slot > *o.ringSlot))
        o.ringSlot = slot;
    }
    if (written.empty())
      return;
    const std::string ring = o.ringSlot ? PictureName(*o.ringSlot) : "";
    if (!store_->AddPictures(o.row, written, ring)) {
      WriteFailed();
      o.picturesFailed = true;
    }
  }

  bool WriteSip(const t_SipVisit &call) {
    const auto open = sipRows_.find(call.call);
    if (call.outcome == VisitOutcome::Undecided || open == sipRows_.end()) {
      t_NewVisit row;
      row.startedMs = call.whenMs;
      row.how = "sip";
      row.caller = call.caller;
      row.outcome = call.outcome;
      if (call.outcome != VisitOutcome::Undecided)
        row.endedMs = call.whenMs;
      const std::int64_t id = store_->Begin(row);
      if (id == 0)
        WriteFailed();
      else if (call.outcome == VisitOutcome::Undecided && call.call != 0)
        sipRows_[call.call] = id;
      return id != 0;
    }
    const std::int64_t id = open->second;
    sipRows_.erase(open);
    if (!store_->Finish(id, call.outcome, call.whenMs)) {
      WriteFailed();
      return false;
    }
    return true;
  }

  // Takes the pictures of the slots that have closed, decides what can be
  // decided and lets go of the visits that are done. Closing (`stopping`)
  // takes everything and decides every visit as it stands.
  bool Advance(std::int64_t now, bool stopping) {
    std::vector<
        std::pair<std::uint64_t, std::vector<std::pair<int, t_PictureBytes>>>>
        taken;
    std::vector<std::uint64_t> completed;
    {
      std::lock_guard lock(mutex_);
      for (auto c = collecting_.begin(); c != collecting_.end();) {
        // A visit whose beginning came in after the jobs were taken waits
        // for the next round.
        if (Find(c->visit) == nullptr) {
          ++c;
          continue;
        }
        std::vector<std::pair<int, t_PictureBytes>> closed;
        for (auto s = c->slots.begin(); s != c->slots.end();) {
          if (!stopping && c->ring + s->first + kSlotMs > now)
            break;
          closed.push_back({s->first, std::move(s->second.bytes)});
          s = c->slots.erase(s);
        }
        if (!closed.empty())
          taken.push_back({c->visit, std::move(closed)});
        if (stopping || now - c->ring >= kAfterMs) {
          completed.push_back(c->visit);
          c = collecting_.erase(c);
        } else {
          ++c;
        }
      }
    }
    bool changed = false;
    for (auto &[visit, pictures] : taken)
      if (t_Open *o = Find(visit))
        WritePictures(*o, pictures);
    for (std::uint64_t visit : completed)
      if (t_Open *o = Find(visit)) {
        o->collecting = false;
        if (!o->picturesFailed)
          plat::Trace(plat::TRACE_VISIT_SAVED);
      }

    for (t_Open &o : open_) {
      if (stopping && !o.ring.end)
        o.ring.end = now;
      const std::int64_t at =
          stopping ? std::max(now, DecidedBy(o.ring).value_or(now)) : now;
      const Outcome outcome = StreamOutcome(o.ring, at);
      const bool decideNow = !o.decided && outcome != Outcome::Undecided;
      const bool endNow =
          (o.decided || decideNow) && o.ring.end && !o.endWritten;
      if (!decideNow && !endNow)
        continue;
      o.decided = true;
      std::optional<std::int64_t> ended;
      if (o.ring.end) {
        ended = o.wallStart + (*o.ring.end - o.ring.start);
        o.endWritten = true;
      }
      if (o.row != 0 &&
          !store_->Finish(o.row,
                          outcome == Outcome::Answered ? VisitOutcome::Answered
                                                       : VisitOutcome::Missed,
                          ended))
        WriteFailed();
      changed = true;
    }
    // Kept a while after its end, for a ring that continues it.
    const auto done = [now, stopping](const t_Open &o) {
      return o.decided && o.endWritten && !o.collecting &&
             (stopping || now - *o.ring.end >= kSameVisitMs);
    };
    const bool finished = std::any_of(open_.begin(), open_.end(), done);
    std::erase_if(open_, done);

    if (stopping)
      for (const auto &[call, id] : sipRows_)
        store_->Finish(id, VisitOutcome::Missed, WallMs());
    if (finished && !stopping)
      Retain();
    return changed;
  }

  void Retain() {
    const t_VisitSettings &kept = setup_.settings;
    const t_Limits limits{kept.keepDays, kept.keepCount,
                          static_cast<std::int64_t>(kept.keepMB) << 20};
    if (!store_->Retain(limits, WallMs()).empty())
      Recount(false);
  }

  void Recount(bool always) {
    const int count = store_->CountUnseenMissed();
    if (g_unseenMissed.exchange(count) == count && !always)
      return;
    if (void (*hook)(int) = g_unseenHook.load())
      hook(count);
  }

  // A write that failed for want of space is said once, on standard error
  // only: nothing on the screen changes for it.
  void WriteFailed() {
    if (!store_->LastWriteFailed() || toldFull_)
      return;
    toldFull_ = true;
    plat::Report("cannot write the visitors' record in %s (is the disk "
                 "full?); visits are not recorded while it lasts",
                 store_->Folder().c_str());
  }

  const t_VisitsSetup setup_;
  std::thread worker_;

  std::mutex mutex_; // guards what follows, up to the worker's own
  std::condition_variable wake_;
  t_PictureBuffer buffer_;
  std::vector<t_Collecting> collecting_;
  std::deque<t_Job> jobs_;
  bool ringing_ = false;
  std::uint64_t numbered_ = 0;
  std::uint64_t current_ = 0; // the visit the last ring began
  std::int64_t lastEnd_ = 0;  // when the flag last fell
  bool disabled_ = false;
  bool stopping_ = false;
  bool ended_ = false;

  // The worker's own.
  std::unique_ptr<t_VisitStore> store_;
  std::vector<t_Open> open_;
  std::map<std::uint32_t, std::int64_t> sipRows_;
  std::uint64_t latest_ = 0; // the visit the newest ring began
  bool inCall_ = false;
  bool toldFull_ = false;
};

// Set by start-up and cleared at closing (window thread); read by every
// hand-in. A stopped recorder is kept, never freed: a hand-in may still
// hold it.
std::atomic<t_Recorder *> g_recorder{nullptr};
std::vector<t_Recorder *> *g_retired = new std::vector<t_Recorder *>;

} // namespace

void StartVisits(const t_VisitsSetup &setup) {
  if (g_recorder.load() == nullptr)
    g_recorder = new t_Recorder(setup);
}

void StopVisits() {
  t_Recorder *recorder = g_recorder.exchange(nullptr);
  if (recorder == nullptr)
    return;
  recorder->Stop();
  g_retired->push_back(recorder);
}

void VisitPicture(t_PictureBytes picture) {
  if (t_Recorder *r = g_recorder.load())
    r->Picture(std::move(picture));
}

void VisitRing(bool ringing, const char *title) {
  if (t_Recorder *r = g_recorder.load())
    r->Ring(ringing, title);
}

void VisitInCall(bool inCall) {
  if (t_Recorder *r = g_recorder.load())
    r->InCall(inCall);
}

void VisitSipCall(const t_SipVisit &call) {
  if (t_Recorder *r = g_recorder.load())
    r->Sip(call);
}

int UnseenMissedVisits() { return g_unseenMissed.load(); }

void SetUnseenMissedHook(void (*hook)(int count)) { g_unseenHook = hook; }

void RecountVisits() {
  if (t_Recorder *r = g_recorder.load())
    r->Recount();
}
