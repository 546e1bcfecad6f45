// The window thread: starting the toolkit, the queue that hands work to
// the window thread, sending and posting messages, timers and the message
// loop.
#include <QApplication>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <sys/eventfd.h>
#include <unistd.h>

#include "platform/window_internal.h"

namespace plat {

QApplication *g_app = nullptr;

namespace {

std::atomic<bool> g_loopEnded{false};

// Work handed to the window thread, in the order it was handed over. The
// queue is ours rather than the toolkit's so that every hand-over is a
// plain lock that thread checkers can see; an eventfd wakes the loop.
std::mutex g_taskMutex;
std::deque<std::function<void()>> g_tasks;
int g_wakeFd = -1;

void Wake() {
  const std::uint64_t one = 1;
  [[maybe_unused]] ssize_t n = write(g_wakeFd, &one, sizeof one);
}

void RunQueuedTasks() {
  std::uint64_t count;
  [[maybe_unused]] ssize_t n = read(g_wakeFd, &count, sizeof count);
  for (;;) {
    std::function<void()> task;
    bool more;
    {
      std::lock_guard lock(g_taskMutex);
      if (g_tasks.empty())
        return;
      task = std::move(g_tasks.front());
      g_tasks.pop_front();
      more = !g_tasks.empty();
    }
    // A task may run a modal loop of its own (a box, a dialog); the tasks
    // queued behind it are then run by that loop rather than waiting for
    // the user to close it.
    if (more)
      Wake();
    task();
  }
}

std::mutex g_messageMutex;
std::map<std::string, UINT> g_registeredMessages;

} // namespace

void RunOnWindowThread(std::function<void()> task) {
  if (g_app == nullptr)
    return;
  if (IsWindowThread()) {
    task();
    return;
  }
  QueueOnWindowThread(std::move(task));
}

void QueueOnWindowThread(std::function<void()> task) {
  if (g_app == nullptr || g_wakeFd < 0)
    return;
  {
    std::lock_guard lock(g_taskMutex);
    g_tasks.push_back(std::move(task));
  }
  Wake();
}

void PostToWindowThread(std::function<void()> task) {
  QueueOnWindowThread(std::move(task));
}

bool Initialize() {
  if (g_app != nullptr)
    return true;
  const bool platformChosen = !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
  const bool x11 = !qEnvironmentVariableIsEmpty("DISPLAY");
  if (!platformChosen) {
    if (!x11)
      return false;
    // The window is placed at a saved screen position and kept on top; only
    // X11 (also through XWayland) lets a program do both.
    qputenv("QT_QPA_PLATFORM", "xcb");
  }
  // The command line is not the toolkit's to read either.
  static int argc = 1;
  static char name[] = "vestibell";
  static char *argv[] = {name, nullptr};
  g_app = new QApplication(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  g_wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  auto *wake = new QSocketNotifier(g_wakeFd, QSocketNotifier::Read, g_app);
  QObject::connect(wake, &QSocketNotifier::activated, g_app, RunQueuedTasks);
  return true;
}

bool IsWindowThread() {
  return g_app != nullptr && QThread::currentThread() == g_app->thread();
}

bool WindowLoopEnded() { return g_loopEnded.load(); }

bool RunOnWindowThreadAndWait(std::function<void()> task,
                              const std::function<bool()> &giveUp) {
  if (g_app == nullptr)
    return false;
  if (IsWindowThread()) {
    task();
    return true;
  }
  if (g_loopEnded.load())
    return false;
  struct Done {
    std::mutex mutex;
    std::condition_variable changed;
    bool finished = false;
    bool ran = false;
    void Set(bool r) {
      std::lock_guard lock(mutex);
      if (finished)
        return;
      finished = true;
      ran = r;
      changed.notify_all();
    }
  };
  // Whatever happens to the queued task (run, or dropped with the loop),
  // the waiting thread is released.
  struct Releaser {
    explicit Releaser(std::shared_ptr<Done> d) : done(std::move(d)) {}
    Releaser(const Releaser &) = delete;
    ~Releaser() { done->Set(false); }
    std::shared_ptr<Done> done;
  };
  auto done = std::make_shared<Done>();
  auto releaser = std::make_shared<Releaser>(done);
  QueueOnWindowThread([releaser, task = std::move(task)] {
    task();
    releaser->done->Set(true);
  });
  releaser.reset();
  std::unique_lock lock(done->mutex);
  while (!done->finished) {
    if (g_loopEnded.load() || (giveUp && giveUp()))
      return false;
    done->changed.wait_for(lock, std::chrono::milliseconds(100));
  }
  return done->ran;
}

LRESULT SendMessage(HWND w, UINT message, WPARAM wParam, LPARAM lParam) {
  if (IsSpaceTarget(w))
    return SpaceSend(w, message, wParam, lParam);
  if (!IsWindow(w) || g_app == nullptr)
    return 0;
  // Kept by the task: a sender that gave up leaves it nothing to write to.
  auto result = std::make_shared<LRESULT>(0);
  RunOnWindowThreadAndWait(
      [result, w, message, wParam, lParam] {
        *result = CallProc(w, message, wParam, lParam);
      },
      [w] { return !IsWindow(w); });
  return *result;
}

bool PostMessage(HWND w, UINT message, WPARAM wParam, LPARAM lParam) {
  if (IsSpaceTarget(w))
    return SpacePost(w, message, wParam, lParam);
  if (!IsWindow(w) || g_app == nullptr)
    return false;
  QueueOnWindowThread(
      [w, message, wParam, lParam] { CallProc(w, message, wParam, lParam); });
  return true;
}

UINT RegisterWindowMessage(const char *name) {
  if (name == nullptr || *name == '\0')
    return 0;
  std::lock_guard lock(g_messageMutex);
  auto it = g_registeredMessages.find(name);
  if (it != g_registeredMessages.end())
    return it->second;
  // The same name gives the same number in every process (FNV-1a into the
  // registered range), so traces of different instances agree.
  std::uint32_t hash = 2166136261u;
  for (const char *p = name; *p; ++p)
    hash = (hash ^ static_cast<unsigned char>(*p)) * 16777619u;
  UINT id = 0xC000u + hash % 0x4000u;
  auto taken = [&](UINT candidate) {
    for (const auto &[n, v] : g_registeredMessages)
      if (v == candidate)
        return true;
    return false;
  };
  while (taken(id))
    id = 0xC000u + (id - 0xC000u + 1) % 0x4000u;
  g_registeredMessages[name] = id;
  return id;
}

int RunMessageLoop() {
  if (g_app == nullptr)
    return 0;
  g_loopEnded = false;
  const int code = QApplication::exec();
  g_loopEnded = true;
  return code;
}

void PostQuitMessage(int exitCode) {
  if (g_app == nullptr)
    return;
  QueueOnWindowThread([exitCode] { QCoreApplication::exit(exitCode); });
}

bool SetTimer(HWND w, std::uintptr_t id, unsigned ms) {
  if (!IsWindow(w))
    return false;
  {
    std::lock_guard lock(w->stateMutex);
    w->timers[id] = std::max(ms, 1u);
    ++w->timerGeneration[id];
  }
  QueueSync(w);
  return true;
}

bool KillTimer(HWND w, std::uintptr_t id) {
  if (!IsWindow(w))
    return false;
  bool had;
  {
    std::lock_guard lock(w->stateMutex);
    had = w->timers.erase(id) != 0;
  }
  QueueSync(w);
  return had;
}

bool IsTimerSet(HWND w, std::uintptr_t id) {
  if (!IsWindow(w))
    return false;
  std::lock_guard lock(w->stateMutex);
  return w->timers.count(id) != 0;
}

void SyncTimers(Window *w, QObject *owner,
                const std::map<std::uintptr_t, unsigned> &timers,
                std::map<std::uintptr_t, unsigned long> &generation) {
  // Start what was asked for, restart what was asked again, stop what was
  // killed.
  for (auto it = w->liveTimers.begin(); it != w->liveTimers.end();) {
    if (timers.count(it->first) == 0) {
      it->second->stop();
      it->second->deleteLater();
      w->liveGeneration.erase(it->first);
      it = w->liveTimers.erase(it);
    } else {
      ++it;
    }
  }
  for (const auto &[id, period] : timers) {
    QTimer *&timer = w->liveTimers[id];
    if (timer == nullptr) {
      timer = new QTimer(owner);
      const std::uintptr_t timerId = id;
      QObject::connect(timer, &QTimer::timeout, owner, [w, timerId] {
        bool stillSet;
        {
          std::lock_guard lock(w->stateMutex);
          stillSet = w->timers.count(timerId) != 0;
        }
        if (stillSet)
          CallProc(w, WM_TIMER, timerId, 0);
      });
    }
    if (w->liveGeneration[id] != generation[id] || !timer->isActive()) {
      w->liveGeneration[id] = generation[id];
      timer->start(static_cast<int>(period));
    }
  }
}

} // namespace plat
