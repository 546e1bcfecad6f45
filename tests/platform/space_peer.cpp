// One instance of a test message space. Joins the space named on its command
// line, prints "ready VALUE" (its handle value; "alone VALUE" when the space
// could not be joined) and then a line for every message it handles; does
// what its standard input asks:
//   broadcast              sends record (50) to every instance
//   nest TARGET DEPTH      starts an exchange DEPTH sends deep with TARGET
//   copy TARGET TEXT       sends TEXT as copy-data (dwData 6, 128 bytes)
//   post TARGET            posts record-later (60) to TARGET
//   postall                posts record-later (60) to every instance
// and answers each with "done WHAT RESULT MILLISECONDS".
#include <QCoreApplication>
#include <QSocketNotifier>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <unistd.h>

#include "platform/message_space.h"
#include "platform/window.h"

using namespace plat;

namespace {

UINT g_message = 0;
HWND g_window = nullptr;

LRESULT Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == g_message && wParam == 50) {
    std::printf("got 50 %lld\n", static_cast<long long>(lParam));
    return 7;
  }
  if (message == g_message && wParam == 60) {
    std::printf("posted %lld\n", static_cast<long long>(lParam));
    return 0;
  }
  if (message == g_message && wParam >= 100 && wParam <= 110) {
    const int depth = static_cast<int>(wParam - 100);
    if (depth == 0)
      return 1;
    return SendMessage(HandleFromValue(lParam), g_message, 100 + depth - 1,
                       HandleValue(g_window)) +
           1;
  }
  if (message == WM_COPYDATA) {
    const auto *cds = reinterpret_cast<const COPYDATASTRUCT *>(lParam);
    const char *text = static_cast<const char *>(cds->lpData);
    std::printf("copy %llu %u %s\n",
                static_cast<unsigned long long>(cds->dwData), cds->cbData,
                std::string(text, strnlen(text, cds->cbData)).c_str());
    return cds->cbData;
  }
  return DefWindowProc(hwnd, message, wParam, lParam);
}

void Command(const std::string &line) {
  std::istringstream in(line);
  std::string what;
  long long target = 0;
  in >> what >> target;
  const auto start = std::chrono::steady_clock::now();
  LRESULT result = 0;
  if (what == "broadcast") {
    result = SendMessage(HWND_BROADCAST, g_message, 50, HandleValue(g_window));
  } else if (what == "nest") {
    int depth = 0;
    in >> depth;
    result = SendMessage(HandleFromValue(target), g_message, 100 + depth,
                         HandleValue(g_window));
  } else if (what == "copy") {
    std::string text;
    in >> text;
    char buffer[128];
    std::memset(buffer, ' ', sizeof buffer);
    std::snprintf(buffer, sizeof buffer, "%s", text.c_str());
    COPYDATASTRUCT cds{6, sizeof buffer, buffer};
    result = SendMessage(HandleFromValue(target), WM_COPYDATA,
                         HandleValue(g_window), reinterpret_cast<LPARAM>(&cds));
  } else if (what == "post") {
    result = PostMessage(HandleFromValue(target), g_message, 60,
                         HandleValue(g_window));
  } else if (what == "postall") {
    result = PostMessage(HWND_BROADCAST, g_message, 60, HandleValue(g_window));
  }
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - start)
                      .count();
  std::printf("done %s %lld %lld\n", what.c_str(),
              static_cast<long long>(result), static_cast<long long>(ms));
}

} // namespace

int main(int argc, char **argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  if (argc < 2 || !Initialize())
    return 2;
  g_message = RegisterWindowMessage(argv[1]);
  WindowClass wc;
  wc.name = "SpacePeer";
  wc.proc = Proc;
  RegisterClass(wc);
  g_window = CreateWindow("SpacePeer", "peer", WS_POPUP, 0, 0, 10, 10);
  const bool joined = JoinMessageSpace(g_window, argv[1]);
  std::printf("%s %lld\n", joined ? "ready" : "alone",
              static_cast<long long>(HandleValue(g_window)));

  std::string pending;
  QSocketNotifier input(0, QSocketNotifier::Read);
  QObject::connect(&input, &QSocketNotifier::activated, [&] {
    char chunk[512];
    const ssize_t n = read(0, chunk, sizeof chunk);
    if (n <= 0) {
      PostQuitMessage(0);
      input.setEnabled(false);
      return;
    }
    pending.append(chunk, static_cast<std::size_t>(n));
    for (auto nl = pending.find('\n'); nl != std::string::npos;
         nl = pending.find('\n')) {
      Command(pending.substr(0, nl));
      pending.erase(0, nl + 1);
    }
  });
  return RunMessageLoop();
}
