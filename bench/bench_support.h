// What the benchmark programs share: CPU and memory of a process from
// /proc, the program's trace file read as it grows, medians and the printed
// figure lines.
#pragma once

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <sys/types.h>
#include <thread>
#include <type_traits>
#include <unistd.h>
#include <variant>
#include <vector>

namespace bench {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Nanoseconds on the clock of the trace file's time stamps.
inline long long Now() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             Clock::now().time_since_epoch())
      .count();
}

// CPU seconds so far (user + system) from a stat file of /proc: a
// process's, or one thread's (/proc/PID/task/TID/stat).
inline double CpuSecondsOf(const std::string &statFile) {
  std::ifstream in(statFile);
  std::string text((std::istreambuf_iterator<char>(in)), {});
  const auto close = text.rfind(')');
  if (close == std::string::npos)
    return 0;
  std::istringstream rest(text.substr(close + 2));
  std::string field;
  unsigned long long utime = 0, stime = 0;
  for (int i = 3; i <= 15 && rest >> field; ++i) {
    if (i == 14)
      utime = std::stoull(field);
    if (i == 15)
      stime = std::stoull(field);
  }
  return static_cast<double>(utime + stime) / sysconf(_SC_CLK_TCK);
}

// CPU seconds of a whole process so far.
inline double CpuSeconds(pid_t pid) {
  return CpuSecondsOf("/proc/" + std::to_string(pid) + "/stat");
}

// CPU seconds so far of a process's living threads, from the scheduler's
// own count (nanoseconds, where /proc/PID/stat counts clock ticks): for
// differences of a few per cent in a short sample. Threads that ended are
// not in it.
inline double ThreadsCpuSeconds(pid_t pid) {
  const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
  double sum = 0;
  std::error_code error;
  for (const auto &t : std::filesystem::directory_iterator(tasks, error)) {
    std::ifstream in(t.path() / "schedstat");
    unsigned long long ns = 0;
    if (in >> ns)
      sum += static_cast<double>(ns) / 1e9;
  }
  return sum;
}

// A signal to a child that started; never to -1 (every process) or 0 (the
// group) when starting it failed.
inline bool Signal(pid_t pid, int signal) {
  return pid > 0 && kill(pid, signal) == 0;
}

inline double RssMiB(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(in, line);)
    if (line.rfind("VmRSS:", 0) == 0)
      return std::stod(line.substr(6)) / 1024.0;
  return 0;
}

// The trace file, read as it grows.
class Trace {
public:
  explicit Trace(std::string path) : path_(std::move(path)) {}
  void Poll() {
    std::ifstream in(path_);
    in.seekg(offset_);
    std::string line;
    while (std::getline(in, line)) {
      if (in.eof())
        break; // a line still being written
      offset_ += static_cast<std::streamoff>(line.size() + 1);
      const auto space = line.find(' ');
      if (space == std::string::npos)
        continue;
      events[line.substr(0, space)].push_back(
          std::stoll(line.substr(space + 1)));
    }
  }
  std::size_t Count(const std::string &name) {
    Poll();
    return events[name].size();
  }
  // The first event `name` after time t, waiting up to `limit`.
  std::optional<long long> After(const std::string &name, long long t,
                                 std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    for (;;) {
      Poll();
      for (long long e : events[name])
        if (e > t)
          return e;
      if (Clock::now() > deadline)
        return std::nullopt;
      std::this_thread::sleep_for(2ms);
    }
  }
  bool WaitCount(const std::string &name, std::size_t n,
                 std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    while (Count(name) < n) {
      if (Clock::now() > deadline)
        return false;
      std::this_thread::sleep_for(20ms);
    }
    return true;
  }
  std::map<std::string, std::vector<long long>> events;

private:
  std::string path_;
  std::streamoff offset_ = 0;
};

// The standard output of a shell command.
inline std::string Run(const std::string &command) {
  std::string out;
  if (std::FILE *p = popen(command.c_str(), "r")) {
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, p))
      out += buffer;
    pclose(p);
  }
  return out;
}

// Clicks the centre of a button given in dialog units (x, y, cx, cy) of a
// call dialog 120 x 45 units large.
inline void ClickDialogButton(const std::string &window, int x, int y, int cx,
                              int cy) {
  std::istringstream in(Run("xdotool getwindowgeometry --shell " + window));
  int width = 0, height = 0;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("WIDTH=", 0) == 0)
      width = std::stoi(line.substr(6));
    if (line.rfind("HEIGHT=", 0) == 0)
      height = std::stoi(line.substr(7));
  }
  const int px = (2 * x + cx) * width / 240;
  const int py = (2 * y + cy) * height / 90;
  Run("xdotool mousemove --window " + window + " " + std::to_string(px) + " " +
      std::to_string(py) + " click 1");
}

inline double Median(std::vector<double> v) {
  if (v.empty())
    return 0;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}
inline double P99(std::vector<double> v) {
  if (v.empty())
    return 0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<std::size_t>(v.size() * 0.99))];
}

inline void Figure(const char *name, double value, const char *unit,
                   const char *target = "") {
  std::printf("  %-52s %10.3f %-6s %s\n", name, value, unit, target);
  std::fflush(stdout);
}

// A benchmark's "--name value" option and the setting it fills.
struct Option {
  const char *name;
  std::variant<std::string *, int *, long *, double *, bool *> into;
};

// Fills the settings from the command line's pairs. False, with a message,
// for a name no option has or a number that does not read.
inline bool ReadOptions(int argc, char **argv,
                        std::initializer_list<Option> options) {
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i], value = argv[i + 1];
    const Option *option = nullptr;
    for (const Option &o : options)
      if (name == o.name)
        option = &o;
    if (option == nullptr) {
      std::fprintf(stderr, "unknown option %s\n", name.c_str());
      return false;
    }
    try {
      std::visit(
          [&value](auto *into) {
            using T = std::remove_pointer_t<decltype(into)>;
            if constexpr (std::is_same_v<T, std::string>)
              *into = value;
            else if constexpr (std::is_same_v<T, bool>)
              *into = value != "0";
            else if constexpr (std::is_same_v<T, double>)
              *into = std::stod(value);
            else
              *into = static_cast<T>(std::stol(value));
          },
          option->into);
    } catch (const std::exception &) {
      std::fprintf(stderr, "%s: not a number: %s\n", name.c_str(),
                   value.c_str());
      return false;
    }
  }
  return true;
}

} // namespace bench
