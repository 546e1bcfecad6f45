#include "platform/process.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace plat {

namespace {

constexpr auto kPoliteWait = std::chrono::seconds(1);

// Whether the child has ended, leaving it unreaped: its id, and so its
// group's, stays ours until it is waited for.
bool Ended(int pid) {
  siginfo_t info{};
  if (waitid(P_PID, pid, &info, WEXITED | WNOHANG | WNOWAIT) != 0)
    return errno == ECHILD;
  return info.si_pid == pid;
}

} // namespace

bool StartProcess(const std::vector<std::string> &argv, ChildProcess *out) {
  if (out == nullptr)
    return false;
  out->pid = 0;
  if (argv.empty() || argv[0].empty())
    return false;
  std::vector<char *> args;
  for (const std::string &a : argv)
    args.push_back(const_cast<char *>(a.c_str()));
  args.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attr);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  // Its own group, and signals at their defaults whatever this process set.
  sigset_t all, none;
  sigfillset(&all);
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&attr, &all);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setpgroup(&attr, 0);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP |
                                      POSIX_SPAWN_SETSIGDEF |
                                      POSIX_SPAWN_SETSIGMASK);
  pid_t pid = 0;
  const int rc =
      posix_spawnp(&pid, args[0], &actions, &attr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  if (rc != 0)
    return false;
  out->pid = pid;
  return true;
}

void EndProcess(ChildProcess &process) {
  const int pid = process.pid;
  process.pid = 0;
  if (pid <= 0)
    return;
  kill(-pid, SIGTERM);
  const auto until = std::chrono::steady_clock::now() + kPoliteWait;
  while (!Ended(pid) && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  // Whatever is left of the group goes too, while the id is still ours.
  kill(-pid, SIGKILL);
  waitpid(pid, nullptr, 0);
}

bool ProgramOnPath(const char *name) {
  if (name == nullptr || *name == '\0')
    return false;
  const char *path = std::getenv("PATH");
  std::string folders = path ? path : "/usr/bin:/bin";
  std::size_t start = 0;
  while (start <= folders.size()) {
    std::size_t end = folders.find(':', start);
    if (end == std::string::npos)
      end = folders.size();
    // An empty entry is the current folder.
    const std::string file =
        (end > start ? folders.substr(start, end - start) : std::string(".")) +
        "/" + name;
    struct stat st;
    if (stat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
        access(file.c_str(), X_OK) == 0)
      return true;
    start = end + 1;
  }
  return false;
}

} // namespace plat
