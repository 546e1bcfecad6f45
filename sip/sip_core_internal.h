// What the two halves of the SIP adapter share: the core's record, the
// process lock and the events queued for the SIP thread. Library types may
// show here: only the adapter's own files include it.
#pragma once

#include <linphone/core.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "platform/net.h"
#include "sip/sip_core.h"

namespace sip_adapter {

inline std::recursive_mutex &ProcessLock() {
  static std::recursive_mutex lock;
  return lock;
}

struct Event {
  enum Kind { kInvite, kAuth, kStatus, kMessage, kBusy, kOutcome } kind;
  std::string first, second;
  SipCallId call = 0;
  std::int64_t when = 0;
  SipOutcome outcome = SipOutcome::kFailed;
};

inline std::string Text(const char *text) { return text ? text : ""; }

// A core's hold on the process lock. A call from another thread than the
// one that iterates (a call placed, an answer, a new account) may leave the
// library work for its next round, so letting go of the lock then ends the
// iterating thread's wait.
class CoreLock {
public:
  explicit CoreLock(plat::DatagramWait &wait) : wait_(wait) {}
  void lock() { ProcessLock().lock(); }
  bool try_lock() { return ProcessLock().try_lock(); }
  void unlock() {
    ProcessLock().unlock();
    if (iterating.load(std::memory_order_relaxed) != std::this_thread::get_id())
      wait_.Wake();
  }
  std::atomic<std::thread::id> iterating{};

private:
  plat::DatagramWait &wait_;
};

} // namespace sip_adapter

struct SipCore {
  using Event = sip_adapter::Event;
  LinphoneCore *lc = nullptr;
  SipCallbacks callbacks{};
  // Every call into `lc`; recursive because the library reports events
  // from inside calls made under it. One for all cores of the process: the
  // library's parsers and its locale switching are process-wide and not
  // thread-safe, so two cores must not run at once either.
  plat::DatagramWait wait; // the SIP thread's, between iterations
  sip_adapter::CoreLock lock{wait};
  bool after_datagram = false; // the last wait ended on one (SIP thread)
  std::mutex events_lock;      // guards events and dropping
  std::deque<Event> events;
  bool dropping = false;
  // Calls whose failure was already reported, so their End is not a second
  // event; and calls this side ended, whose End is always a plain end.
  // Both touched only under `lock`.
  std::set<const LinphoneCall *> failed, ended_here;
  // Calls placed here that rang at the other side (under `lock`).
  std::set<const LinphoneCall *> rang;
  // A call was released since the call history was last dropped (under
  // `lock`).
  bool history_left = false;
  // The numbers of the calls the library holds, and the last one given.
  // Under `lock`.
  std::map<const LinphoneCall *, SipCallId> ids;
  SipCallId last_id = 0;
  // The address the core was made to bind; set before it is shared.
  std::string bind_address;

  void Queue(Event event) {
    std::lock_guard guard(events_lock);
    if (!dropping)
      events.push_back(std::move(event));
  }
  void Queue(Event::Kind kind, SipCallId call, std::string first,
             std::string second = {}) {
    Queue(Event{kind, std::move(first), std::move(second), call});
  }
  SipCallId IdOf(const LinphoneCall *call) const {
    const auto it = ids.find(call);
    return it == ids.end() ? 0 : it->second;
  }
};

struct SipAuthInfo {
  LinphoneAuthInfo *info;
};

struct SipProxyConfig {
  SipCore *core;
  LinphoneProxyConfig *cfg;
};
