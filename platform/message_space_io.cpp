// The message space's sockets: reading and writing a frame, and the
// window thread's serving of what arrives.
//
// The window thread never waits on a peer that writes to it: it reads what
// a connection has, keeps the part of a frame that came, acts once the
// frame is whole, and drops a connection whose frame is not whole in time.
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <map>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/message_space.h"
#include "platform/message_space_internal.h"
#include "platform/report.h"

namespace plat::space {

namespace {

// A peer that has connected gets this long to deliver its whole frame
// (frames are small: a sender writes one at once).
constexpr int kFrameReadMs = 1000;
// Connections whose frame is not whole yet, at most; beyond that the
// oldest is dropped, so a peer that opens many and says nothing cannot
// keep the others out.
constexpr std::size_t kMaxIncoming = 64;
// What one wake-up of the window thread takes on before it returns to the
// rest of its work; what is left wakes it again.
constexpr int kEventsPerWake = 64;
// The window thread's own: the listening socket, an epoll set of it and of
// every connection whose frame is not whole yet, and those connections.
struct Incoming {
  pid_t pid = 0;
  Clock::time_point deadline;
  std::vector<unsigned char> bytes; // what has come of its frame
};
int g_listenFd = -1;
int g_pollFd = -1;
std::map<int, Incoming> g_incoming;
QSocketNotifier *g_notifier = nullptr;
QTimer *g_expiry = nullptr; // drops the connections past their deadline

} // namespace

void Log(const char *what, const std::string &detail) {
  Report("message space: %s%s%s", what, detail.empty() ? "" : ": ",
         detail.c_str());
}

int RemainingMs(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - Clock::now());
  return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

// Writes all of `bytes` before the deadline.
bool WriteAll(int fd, const std::vector<unsigned char> &bytes,
              Clock::time_point deadline) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = send(fd, bytes.data() + done, bytes.size() - done,
                           MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
      return false;
    pollfd p{fd, POLLOUT, 0};
    if (poll(&p, 1, RemainingMs(deadline)) <= 0)
      return false;
  }
  return true;
}

ReadResult ReadSome(int fd, std::vector<unsigned char> &bytes,
                    MessageFrame *frame) {
  for (;;) {
    std::size_t wanted = kFrameHeaderSize;
    if (!bytes.empty()) {
      std::size_t used = 0;
      const FrameResult r =
          DecodeFrame(bytes.data(), bytes.size(), frame, &used);
      if (r == FrameResult::Complete)
        return ReadResult::Frame;
      if (r == FrameResult::Malformed)
        return ReadResult::Malformed;
      wanted = used;
    }
    const std::size_t have = bytes.size();
    bytes.resize(wanted);
    const ssize_t n =
        recv(fd, bytes.data() + have, wanted - have, MSG_DONTWAIT);
    bytes.resize(have + static_cast<std::size_t>(n > 0 ? n : 0));
    if (n > 0)
      continue;
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
      return ReadResult::Waiting;
    return ReadResult::Closed;
  }
}

bool Travels(UINT message) {
  return message == WM_COPYDATA || (message >= 0xC000u && message <= 0xFFFFu);
}

namespace {

void Forget(std::map<int, Incoming>::iterator it) {
  if (g_pollFd >= 0)
    epoll_ctl(g_pollFd, EPOLL_CTL_DEL, it->first, nullptr);
  close(it->first);
  g_incoming.erase(it);
}

// Keeps the expiry timer on the earliest deadline of the waiting
// connections.
void ArmExpiry() {
  if (g_expiry == nullptr)
    return;
  if (g_incoming.empty()) {
    g_expiry->stop();
    return;
  }
  auto earliest = g_incoming.begin()->second.deadline;
  for (const auto &[fd, in] : g_incoming)
    earliest = std::min(earliest, in.deadline);
  g_expiry->start(RemainingMs(earliest) + 1);
}

void DropExpired() {
  const auto now = Clock::now();
  for (auto it = g_incoming.begin(); it != g_incoming.end();) {
    auto next = std::next(it);
    if (it->second.deadline <= now) {
      Log("dropped an incomplete frame from process",
          std::to_string(it->second.pid));
      Forget(it);
    }
    it = next;
  }
}

// Acts on a whole frame from process `pid`: the joined window's procedure
// handles it, a send is answered. The connection is already out of the
// set, so the handler may send and be sent to meanwhile.
void Act(int fd, pid_t pid, const MessageFrame &frame) {
  if (frame.kind == FrameKind::Reply || !Travels(frame.message) ||
      frame.copyData != (frame.message == WM_COPYDATA)) {
    Log("dropped a frame that does not travel, from process",
        std::to_string(pid));
    return;
  }
  // A sender that gave up waiting has closed its end: what it asked for is
  // no longer wanted (a call placed seconds late would surprise the user).
  char probe;
  if (frame.kind == FrameKind::Send &&
      recv(fd, &probe, 1, MSG_PEEK | MSG_DONTWAIT) == 0) {
    Log("dropped a send its sender gave up, from process", std::to_string(pid));
    return;
  }
  Window *w = JoinedWindow(nullptr);
  if (w == nullptr)
    return;
  const UINT message = frame.message;
  const WPARAM wParam = static_cast<WPARAM>(frame.wParam);
  if (frame.kind == FrameKind::Post) {
    const LPARAM lParam = static_cast<LPARAM>(frame.lParam);
    QueueOnWindowThread(
        [w, message, wParam, lParam] { CallProc(w, message, wParam, lParam); });
    return;
  }
  LRESULT result;
  if (frame.copyData) {
    COPYDATASTRUCT cds{static_cast<std::uintptr_t>(frame.dwData),
                       static_cast<std::uint32_t>(frame.block.size()),
                       frame.block.empty() ? nullptr : frame.block.data()};
    result = CallProc(w, message, wParam, reinterpret_cast<LPARAM>(&cds));
  } else {
    result = CallProc(w, message, wParam, static_cast<LPARAM>(frame.lParam));
  }
  MessageFrame reply;
  reply.kind = FrameKind::Reply;
  reply.message = message;
  reply.lParam = result;
  // A fresh connection takes the few bytes at once; a sender that gave up
  // meanwhile is not waited for.
  const auto bytes = EncodeFrame(reply);
  [[maybe_unused]] const ssize_t n =
      send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
}

// Reads what the waiting connection `fd` has; acts once its frame is whole.
void ServeConnection(int fd) {
  auto it = g_incoming.find(fd);
  if (it == g_incoming.end())
    return;
  MessageFrame frame;
  const pid_t pid = it->second.pid;
  switch (ReadSome(fd, it->second.bytes, &frame)) {
  case ReadResult::Waiting:
    return;
  case ReadResult::Closed:
    if (!it->second.bytes.empty())
      Log("dropped an incomplete frame from process", std::to_string(pid));
    Forget(it);
    return;
  case ReadResult::Malformed:
    Log("dropped a malformed frame from process", std::to_string(pid));
    Forget(it);
    return;
  case ReadResult::Frame:
    break;
  }
  if (g_pollFd >= 0)
    epoll_ctl(g_pollFd, EPOLL_CTL_DEL, fd, nullptr);
  g_incoming.erase(it);
  Act(fd, pid, frame);
  close(fd);
}

// Takes the waiting connections of processes of this user; each is served
// at once as far as its bytes have come.
void AcceptWaiting() {
  for (int taken = 0; taken < kEventsPerWake && g_listenFd >= 0; ++taken) {
    const int fd =
        accept4(g_listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) {
      if (errno == EINTR || errno == ECONNABORTED)
        continue;
      return;
    }
    ucred cred{};
    socklen_t length = sizeof cred;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &length) != 0 ||
        cred.uid != geteuid()) {
      Log("refused a connection from user", std::to_string(cred.uid));
      close(fd);
      continue;
    }
    if (g_incoming.size() >= kMaxIncoming) {
      auto oldest = g_incoming.begin();
      for (auto it = g_incoming.begin(); it != g_incoming.end(); ++it)
        if (it->second.deadline < oldest->second.deadline)
          oldest = it;
      Log("dropped an incomplete frame from process",
          std::to_string(oldest->second.pid));
      Forget(oldest);
    }
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = fd;
    if (g_pollFd < 0 || epoll_ctl(g_pollFd, EPOLL_CTL_ADD, fd, &event) != 0) {
      close(fd);
      continue;
    }
    g_incoming[fd] = {
        cred.pid, Clock::now() + std::chrono::milliseconds(kFrameReadMs), {}};
    ServeConnection(fd);
  }
}

} // namespace

// Every step looks its connection up afresh: this runs again from within a
// handler that waits in a send.
void ServeIncoming() {
  DropExpired();
  epoll_event events[kEventsPerWake];
  const int n =
      g_pollFd < 0 ? 0 : epoll_wait(g_pollFd, events, kEventsPerWake, 0);
  for (int i = 0; i < n; ++i) {
    if (events[i].data.fd == g_listenFd)
      AcceptWaiting();
    else
      ServeConnection(events[i].data.fd);
  }
  ArmExpiry();
}

void StartServing(int listenFd, int pollFd) {
  g_listenFd = listenFd;
  g_pollFd = pollFd;
  g_notifier = new QSocketNotifier(pollFd, QSocketNotifier::Read);
  QObject::connect(g_notifier, &QSocketNotifier::activated, g_notifier,
                   [] { ServeIncoming(); });
  g_expiry = new QTimer;
  g_expiry->setSingleShot(true);
  QObject::connect(g_expiry, &QTimer::timeout, g_expiry, [] {
    DropExpired();
    ArmExpiry();
  });
}

void StopServing() {
  if (g_listenFd < 0)
    return;
  // Possibly from within one of their own signals: they go once it is
  // done.
  g_notifier->setEnabled(false);
  g_notifier->deleteLater();
  g_notifier = nullptr;
  g_expiry->stop();
  g_expiry->deleteLater();
  g_expiry = nullptr;
  for (const auto &[fd, in] : g_incoming)
    close(fd);
  g_incoming.clear();
  close(g_pollFd);
  g_pollFd = -1;
  close(g_listenFd);
  g_listenFd = -1;
}

bool Serving() { return g_listenFd >= 0; }

int ServingPollFd() { return g_pollFd; }

} // namespace plat::space
