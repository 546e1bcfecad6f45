// The SIP thread: drives a core every 30 ms and runs its callbacks, until
// it is asked to stop; a quiet core (no call, nothing awaited) every 200 ms,
// or at once when a datagram comes for it or another thread calls into it.
#pragma once

#include <chrono>
#include <memory>
#include <thread>

struct SipCore;

class SipThread {
public:
  static constexpr std::chrono::milliseconds kPeriod{30};
  static constexpr std::chrono::milliseconds kQuietPeriod{200};

  SipThread() = default;
  ~SipThread() { Stop(); }
  SipThread(const SipThread &) = delete;
  SipThread &operator=(const SipThread &) = delete;

  void Start(SipCore *core);
  // Once Stop returns, no iteration runs or will start. True when the
  // thread has ended within `limit`; false when a callback still holds it
  // (waiting for a dialog, say): the thread is then left to end by itself,
  // and the core must stay alive, since the callback may still call it.
  bool Stop(std::chrono::milliseconds limit = std::chrono::seconds(5));
  bool running() const { return thread_.joinable(); }

  struct Shared;

private:
  std::shared_ptr<Shared> shared_; // outlives a thread left to end alone
  std::thread thread_;
};
