#include "telephony/sip_thread.h"

#include <condition_variable>
#include <mutex>

#include "telephony/sip_core.h"

struct SipThread::Shared {
  SipCore *core = nullptr;
  std::mutex mutex; // guards stop and ended; held around each iteration
  std::condition_variable ended_now;
  bool stop = false;
  bool ended = false;
};

namespace {

void Run(std::shared_ptr<SipThread::Shared> shared, SipCore *core) {
  std::unique_lock lock(shared->mutex);
  while (!shared->stop) {
    // The iteration runs under the thread's own lock, so Stop can wait for
    // the one in progress; the callbacks run without it, so a callback that
    // waits for the window thread never blocks a Stop made there.
    SipCoreIterate(core);
    lock.unlock();
    SipCoreDispatch(core);
    // A quiet core is left alone longer: most of an idle thread's cost is
    // its waking up. A datagram, or Stop, ends the wait at once.
    SipCoreWait(core, SipThread::kPeriod, SipThread::kQuietPeriod);
    lock.lock();
  }
  shared->ended = true;
  shared->ended_now.notify_all();
}

} // namespace

void SipThread::Start(SipCore *core) {
  if (thread_.joinable())
    return;
  shared_ = std::make_shared<Shared>();
  shared_->core = core;
  thread_ = std::thread(Run, shared_, core);
}

bool SipThread::Stop(std::chrono::milliseconds limit) {
  if (!thread_.joinable())
    return true;
  std::unique_lock lock(shared_->mutex);
  shared_->stop = true;
  SipCoreWake(shared_->core);
  if (!shared_->ended_now.wait_for(lock, limit,
                                   [&] { return shared_->ended; })) {
    thread_.detach();
    return false;
  }
  lock.unlock();
  thread_.join();
  return true;
}
