// Termination requests from the system (SIGTERM, SIGINT, SIGHUP) turned
// into a WM_CLOSE on the window thread.
#include <QApplication>
#include <QSocketNotifier>

#include <csignal>
#include <unistd.h>

#include "platform/window_internal.h"

namespace plat {

namespace {

// The handler only writes a byte; the window thread reads it and posts.
int g_signalPipe[2] = {-1, -1};
HWND g_signalWindow = nullptr;

void OnTerminationSignal(int signo) {
  const char byte = static_cast<char>(signo);
  [[maybe_unused]] ssize_t written = write(g_signalPipe[1], &byte, 1);
  // A second request ends the process at once, should closing ever hang.
  std::signal(signo, SIG_DFL);
}

} // namespace

void CloseOnTerminationSignals(HWND w) {
  if (g_app == nullptr || g_signalPipe[0] >= 0)
    return;
  if (pipe(g_signalPipe) != 0)
    return;
  g_signalWindow = w;
  auto *notifier =
      new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, g_app);
  QObject::connect(notifier, &QSocketNotifier::activated, g_app, [] {
    char byte;
    [[maybe_unused]] ssize_t got = read(g_signalPipe[0], &byte, 1);
    PostMessage(g_signalWindow, WM_CLOSE, 0, 0);
  });
  struct sigaction action {};
  action.sa_handler = OnTerminationSignal;
  sigemptyset(&action.sa_mask);
  for (int signo : {SIGTERM, SIGINT, SIGHUP})
    sigaction(signo, &action, nullptr);
}

} // namespace plat
