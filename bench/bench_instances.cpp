// The message space between two instances: one send's round trip, measured
// from a sender that joins the space to a copy of itself that answers.
//   bench_instances [--sends N]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "platform/message_space.h"
#include "platform/window.h"

using namespace plat;

namespace {

constexpr char kSpace[] = "Vestibell_bench_space";
UINT g_message = 0;

LRESULT Answer(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == g_message)
    return static_cast<LRESULT>(wParam) + 1;
  return DefWindowProc(hwnd, message, wParam, lParam);
}

HWND Join() {
  WindowClass wc;
  wc.name = "BenchInstance";
  wc.proc = Answer;
  RegisterClass(wc);
  HWND w = CreateWindow("BenchInstance", "bench", WS_POPUP, 0, 0, 10, 10);
  return JoinMessageSpace(w, kSpace) ? w : nullptr;
}

double Percentile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  return v[static_cast<std::size_t>(p * static_cast<double>(v.size() - 1))];
}

} // namespace

int main(int argc, char **argv) {
  int sends = 20000;
  for (int i = 1; i + 1 < argc; i += 2)
    if (std::string(argv[i]) == "--sends")
      sends = std::max(100, std::atoi(argv[i + 1]));
  // A space of this run's own.
  char folder[] = "/tmp/vestibell-bench-XXXXXX";
  if (mkdtemp(folder) == nullptr)
    return 1;
  setenv("XDG_RUNTIME_DIR", folder, 1);
  setenv("QT_QPA_PLATFORM", "offscreen", 1);

  int ready[2];
  if (pipe(ready) != 0)
    return 1;
  const pid_t peer = fork();
  if (peer == 0) {
    close(ready[0]);
    if (!Initialize())
      _exit(2);
    g_message = RegisterWindowMessage(kSpace);
    HWND w = Join();
    const LPARAM value = HandleValue(w);
    if (write(ready[1], &value, sizeof value) != sizeof value)
      _exit(3);
    _exit(RunMessageLoop());
  }
  close(ready[1]);
  LPARAM peerValue = 0;
  if (read(ready[0], &peerValue, sizeof peerValue) != sizeof peerValue)
    return 1;
  if (!Initialize())
    return 1;
  g_message = RegisterWindowMessage(kSpace);
  if (Join() == nullptr)
    return 1;
  HWND target = HandleFromValue(peerValue);

  std::vector<double> us;
  us.reserve(static_cast<std::size_t>(sends));
  int wrong = 0;
  for (int i = 0; i < sends + 200; ++i) {
    const auto start = std::chrono::steady_clock::now();
    const LRESULT r = SendMessage(target, g_message, static_cast<WPARAM>(i), 0);
    const auto end = std::chrono::steady_clock::now();
    if (r != i + 1)
      ++wrong;
    if (i >= 200) // the first sends warm the caches up
      us.push_back(
          std::chrono::duration<double, std::micro>(end - start).count());
  }
  std::printf("message space: send round trip between two instances, %d "
              "sends: median %.1f us, p95 %.1f us, p99 %.1f us (goal median "
              "<= 200 us); wrong answers %d\n",
              sends, Percentile(us, 0.5), Percentile(us, 0.95),
              Percentile(us, 0.99), wrong);
  if (peer > 0) // never -1, every process
    kill(peer, SIGTERM);
  waitpid(peer, nullptr, 0);
  LeaveMessageSpace();
  std::system((std::string("rm -rf ") + folder).c_str());
  return wrong == 0 ? 0 : 1;
}
