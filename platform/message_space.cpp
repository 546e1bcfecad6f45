// The message space over Unix-domain sockets: one listening socket per
// instance, named by its window's handle value, in a folder of the user's
// private runtime folder named after the space. One connection carries one
// message (and, for a send, its reply).
//
// What arrives is served in message_space_io.cpp.
#include "platform/message_space.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <map>
#include <mutex>
#include <poll.h>
#include <string>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

#include "platform/message_frame.h"
#include "platform/message_space_internal.h"
#include "platform/runtime_folder.h"
#include "platform/window_internal.h"

namespace plat {

using namespace space;

namespace {

// Handles of other processes are kept for good (a thread may still hold
// one); a peer naming ever new windows gets no more than this many.
constexpr std::size_t kMaxRemoteHandles = 4096;

// Handle values: the process id above the low 16 bits, a window number in
// them, so no value is 0, 1 or 0xFFFF, and no two processes share one.
constexpr int kPidShift = 16;

std::mutex g_handleMutex;
std::map<LPARAM, Window *> g_localHandles; // value -> window of ours
std::map<Window *, LPARAM> g_localValues;  // and back
// value -> stand-in. Never destroyed: a stand-in may be named by a message
// until the process ends, so the table outlives every other object.
std::map<LPARAM, Window *> &g_remoteHandles = *new std::map<LPARAM, Window *>;
LPARAM g_nextWindowNumber = 1;

// The space this process joined. Written by the window thread at join and
// leave under the lock; every sender reads the folder under it. The joined
// window is kept even when the space could not be made: broadcasts from
// this process still reach it.
std::mutex g_spaceMutex;
std::string g_folder;
Window *g_joined = nullptr;
LPARAM g_joinedValue = 0;

std::string SocketPath(const std::string &folder, LPARAM value) {
  return folder + "/" + std::to_string(value);
}

bool FillAddress(const std::string &path, sockaddr_un *addr) {
  std::memset(addr, 0, sizeof *addr);
  addr->sun_family = AF_UNIX;
  if (path.size() >= sizeof addr->sun_path)
    return false;
  std::memcpy(addr->sun_path, path.c_str(), path.size() + 1);
  return true;
}

// The stand-in for the window with handle value `value` of another process.
Window *RemoteHandle(LPARAM value) {
  std::lock_guard lock(g_handleMutex);
  auto it = g_remoteHandles.find(value);
  if (it != g_remoteHandles.end())
    return it->second;
  if (g_remoteHandles.size() >= kMaxRemoteHandles)
    return nullptr;
  auto *w = new Window;
  w->remote = value;
  g_remoteHandles[value] = w;
  return w;
}

// A socket left by an instance that ended without leaving: its process is
// gone. A live process's socket is never taken away.
void CleanLeftover(const std::string &path, LPARAM value) {
  const pid_t pid = static_cast<pid_t>(value >> kPidShift);
  if (pid <= 0 || kill(pid, 0) == 0 || errno != ESRCH)
    return;
  struct stat st {};
  if (lstat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode) &&
      st.st_uid == geteuid())
    unlink(path.c_str());
}

// A connection to the instance with handle value `value`; -1 when it is not
// there or cannot take one now.
int Connect(LPARAM value) {
  std::string folder;
  {
    std::lock_guard lock(g_spaceMutex);
    folder = g_folder;
  }
  if (folder.empty())
    return -1;
  const std::string path = SocketPath(folder, value);
  sockaddr_un addr;
  if (!FillAddress(path, &addr))
    return -1;
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0)
    return -1;
  // A stopped instance's queue fills up; a non-blocking connect then fails
  // at once instead of waiting on it.
  if (connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
    const int error = errno;
    close(fd);
    if (error == ECONNREFUSED)
      CleanLeftover(path, value);
    return -1;
  }
  return fd;
}

MessageFrame FrameOf(FrameKind kind, UINT message, WPARAM wParam, LPARAM lParam,
                     bool *ok) {
  MessageFrame frame;
  frame.kind = kind;
  frame.message = message;
  frame.wParam = wParam;
  frame.lParam = lParam;
  *ok = true;
  if (message == WM_COPYDATA) {
    const auto *cds = reinterpret_cast<const COPYDATASTRUCT *>(lParam);
    if (cds == nullptr || cds->cbData > kMaxCopyData ||
        (cds->cbData != 0 && cds->lpData == nullptr)) {
      *ok = false;
      return frame;
    }
    frame.copyData = true;
    frame.lParam = 0;
    frame.dwData = cds->dwData;
    const auto *bytes = static_cast<const unsigned char *>(cds->lpData);
    frame.block.assign(bytes, bytes + cds->cbData);
  }
  return frame;
}

// Sends to one instance of another process and waits for its answer. The
// window thread handles what is sent to its own window meanwhile.
LRESULT SendToRemote(LPARAM value, UINT message, WPARAM wParam, LPARAM lParam) {
  bool ok;
  const MessageFrame frame =
      FrameOf(FrameKind::Send, message, wParam, lParam, &ok);
  if (!ok)
    return 0;
  const int fd = Connect(value);
  if (fd < 0)
    return 0;
  const auto deadline =
      Clock::now() + std::chrono::milliseconds(kSendTimeoutMs);
  LRESULT result = 0;
  if (WriteAll(fd, EncodeFrame(frame), deadline)) {
    const bool windowThread = IsWindowThread();
    std::vector<unsigned char> bytes;
    for (;;) {
      // Only the window thread serves its own window's connections; a
      // handler run meanwhile may have left the space.
      pollfd fds[2] = {{fd, POLLIN, 0},
                       {windowThread ? ServingPollFd() : -1, POLLIN, 0}};
      const int ready = poll(fds, 2, RemainingMs(deadline));
      if (ready < 0 && errno == EINTR)
        continue;
      if (ready <= 0) {
        Log("no answer in time from instance", std::to_string(value));
        break;
      }
      if ((fds[1].revents & POLLIN) != 0)
        ServeIncoming();
      if (fds[0].revents != 0) {
        MessageFrame reply;
        const ReadResult r = ReadSome(fd, bytes, &reply);
        if (r == ReadResult::Waiting)
          continue;
        if (r == ReadResult::Frame && reply.kind == FrameKind::Reply)
          result = static_cast<LRESULT>(reply.lParam);
        break;
      }
    }
  }
  close(fd);
  return result;
}

bool PostToRemote(LPARAM value, UINT message, WPARAM wParam, LPARAM lParam) {
  // A posted block could not outlive the sender's memory on Windows either.
  if (message == WM_COPYDATA)
    return false;
  bool ok;
  const MessageFrame frame =
      FrameOf(FrameKind::Post, message, wParam, lParam, &ok);
  const int fd = Connect(value);
  if (fd < 0)
    return false;
  const bool sent =
      WriteAll(fd, EncodeFrame(frame),
               Clock::now() + std::chrono::milliseconds(kSendTimeoutMs));
  close(fd);
  return sent;
}

// The handle values of every instance of the space, in ascending order;
// `own` (this process's window, when not 0) among them, whether or not the
// space has it.
std::vector<LPARAM> Members(LPARAM own = 0) {
  std::string folder;
  {
    std::lock_guard lock(g_spaceMutex);
    folder = g_folder;
  }
  std::vector<LPARAM> values;
  if (own != 0)
    values.push_back(own);
  DIR *dir = folder.empty() ? nullptr : opendir(folder.c_str());
  while (dir != nullptr) {
    const dirent *entry = readdir(dir);
    if (entry == nullptr)
      break;
    char *end = nullptr;
    errno = 0;
    const long long v = std::strtoll(entry->d_name, &end, 10);
    if (errno == 0 && end != entry->d_name && *end == '\0' && v > 0xFFFF &&
        v != own)
      values.push_back(static_cast<LPARAM>(v));
  }
  if (dir != nullptr)
    closedir(dir);
  std::sort(values.begin(), values.end());
  return values;
}

void LeaveAtExit() {
  std::lock_guard lock(g_spaceMutex);
  if (!g_folder.empty() && g_joinedValue != 0)
    unlink(SocketPath(g_folder, g_joinedValue).c_str());
}

std::string FolderName(const char *name) {
  std::string file;
  // Never a path of its own, nor a hidden or parent folder.
  for (const char *p = name; *p != '\0' && file.size() < 64; ++p)
    file += (*p == '/' || (*p == '.' && file.empty())) ? '_' : *p;
  return file;
}

} // namespace

namespace space {

Window *JoinedWindow(LPARAM *value) {
  std::lock_guard lock(g_spaceMutex);
  if (value != nullptr)
    *value = g_joinedValue;
  return g_joined;
}

} // namespace space

LPARAM HandleValue(HWND window) {
  if (window == nullptr || window == HWND_BROADCAST)
    return 0;
  if (window->remote != 0)
    return window->remote;
  std::lock_guard lock(g_handleMutex);
  auto it = g_localValues.find(window);
  if (it != g_localValues.end())
    return it->second;
  const LPARAM value = (static_cast<LPARAM>(getpid()) << kPidShift) |
                       (g_nextWindowNumber++ & 0xFFFF);
  g_localValues[window] = value;
  g_localHandles[value] = window;
  return value;
}

HWND HandleFromValue(LPARAM value) {
  if (value <= 0xFFFF)
    return nullptr;
  {
    std::lock_guard lock(g_handleMutex);
    auto it = g_localHandles.find(value);
    if (it != g_localHandles.end())
      return it->second;
  }
  if ((value >> kPidShift) == static_cast<LPARAM>(getpid()))
    return nullptr;
  return RemoteHandle(value);
}

bool JoinMessageSpace(HWND window, const char *name) {
  if (!IsWindow(window) || !IsWindowThread() || name == nullptr ||
      *name == '\0' || Serving())
    return false;
  // Whatever becomes of the transport, this process's broadcasts reach
  // this window.
  const LPARAM value = HandleValue(window);
  {
    std::lock_guard lock(g_spaceMutex);
    g_joined = window;
    g_joinedValue = value;
  }
  // A refused runtime folder is said where it is looked at.
  const std::string base = PrivateRuntimeFolder();
  if (base.empty())
    return false;
  const std::string folder = base + "/" + FolderName(name);
  std::string why;
  if (!OwnPrivateFolder(folder, &why)) {
    Log("cannot use the folder", folder + ": " + why);
    return false;
  }
  const std::string path = SocketPath(folder, value);
  sockaddr_un addr;
  if (!FillAddress(path, &addr)) {
    Log("the folder's name is too long for a socket", folder);
    return false;
  }
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  const int pollFd = epoll_create1(EPOLL_CLOEXEC);
  epoll_event event{};
  event.events = EPOLLIN;
  event.data.fd = fd;
  if (fd < 0 || pollFd < 0 ||
      epoll_ctl(pollFd, EPOLL_CTL_ADD, fd, &event) != 0) {
    Log("cannot listen", std::strerror(errno));
    if (fd >= 0)
      close(fd);
    if (pollFd >= 0)
      close(pollFd);
    return false;
  }
  // The name holds our process id: what lies there was left by an ended
  // process that had the same id.
  unlink(path.c_str());
  if (bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 ||
      listen(fd, 64) != 0) {
    Log("cannot listen", path + ": " + std::strerror(errno));
    close(fd);
    close(pollFd);
    return false;
  }
  {
    std::lock_guard lock(g_spaceMutex);
    g_folder = folder;
  }
  StartServing(fd, pollFd);
  static bool atExitSet = false;
  if (!atExitSet) {
    atExitSet = true;
    std::atexit(LeaveAtExit);
  }
  // Leftovers of instances that ended without leaving go now.
  for (const LPARAM member : Members())
    if (member != value)
      CleanLeftover(SocketPath(folder, member), member);
  return true;
}

void LeaveMessageSpace() {
  if (!IsWindowThread())
    return;
  LPARAM value;
  std::string folder;
  {
    std::lock_guard lock(g_spaceMutex);
    value = g_joinedValue;
    folder = g_folder;
    // Broadcasts from this process still reach the others until it ends.
    g_joined = nullptr;
    g_joinedValue = 0;
  }
  if (!Serving())
    return;
  StopServing();
  unlink(SocketPath(folder, value).c_str());
}

void LeaveSpaceOf(HWND w) {
  if (JoinedWindow(nullptr) == w && w != nullptr)
    LeaveMessageSpace();
}

bool IsSpaceTarget(HWND w) {
  return w == HWND_BROADCAST || (w != nullptr && w->remote != 0);
}

LRESULT SpaceSend(HWND w, UINT message, WPARAM wParam, LPARAM lParam) {
  if (w != HWND_BROADCAST)
    return Travels(message) ? SendToRemote(w->remote, message, wParam, lParam)
                            : 0;
  if (!Travels(message))
    return 0;
  // Every member in turn, this process's window included, each send done
  // before the next begins.
  LPARAM own = 0;
  Window *joined = JoinedWindow(&own);
  for (const LPARAM member : Members(own)) {
    if (member == own && joined != nullptr)
      SendMessage(joined, message, wParam, lParam);
    else if ((member >> kPidShift) != static_cast<LPARAM>(getpid()))
      SendToRemote(member, message, wParam, lParam);
  }
  return 0;
}

bool SpacePost(HWND w, UINT message, WPARAM wParam, LPARAM lParam) {
  if (!Travels(message))
    return false;
  if (w != HWND_BROADCAST)
    return PostToRemote(w->remote, message, wParam, lParam);
  if (message == WM_COPYDATA)
    return false;
  LPARAM own = 0;
  Window *joined = JoinedWindow(&own);
  for (const LPARAM member : Members(own)) {
    if (member == own && joined != nullptr)
      PostMessage(joined, message, wParam, lParam);
    else if ((member >> kPidShift) != static_cast<LPARAM>(getpid()))
      PostToRemote(member, message, wParam, lParam);
  }
  return true;
}

} // namespace plat
