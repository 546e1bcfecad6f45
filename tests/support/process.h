// Child processes for tests: start a program, talk to it over its standard
// input and output, wait for it with a time limit.
#pragma once

#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

class Child {
public:
  // `env` entries ("NAME=value") are added to this process's environment;
  // a bare "NAME" removes that variable. With `mergeStderr` its standard
  // error is read with its standard output.
  explicit Child(const std::vector<std::string> &argv,
                 const std::vector<std::string> &env = {},
                 bool mergeStderr = false) {
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0)
      return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    if (mergeStderr)
      posix_spawn_file_actions_adddup2(&actions, out[1], 2);
    std::vector<char *> args;
    for (const auto &a : argv)
      args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    std::vector<std::string> envText;
    for (char **e = environ; *e; ++e)
      envText.emplace_back(*e);
    for (const auto &e : env) {
      const bool removal = e.find('=') == std::string::npos;
      const std::string name = removal ? e + "=" : e.substr(0, e.find('=') + 1);
      std::erase_if(envText, [&](const std::string &x) {
        return x.compare(0, name.size(), name) == 0;
      });
      if (!removal)
        envText.push_back(e);
    }
    std::vector<char *> envp;
    for (auto &e : envText)
      envp.push_back(e.data());
    envp.push_back(nullptr);
    if (posix_spawn(&pid_, args[0], &actions, nullptr, args.data(),
                    envp.data()) != 0)
      pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    stdin_ = in[1];
    stdout_ = out[0];
  }
  ~Child() {
    if (pid_ > 0 && !exited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (stdin_ >= 0)
      close(stdin_);
    if (stdout_ >= 0)
      close(stdout_);
  }
  Child(const Child &) = delete;
  Child &operator=(const Child &) = delete;

  bool started() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }

  void Write(const std::string &text) {
    [[maybe_unused]] ssize_t n = write(stdin_, text.data(), text.size());
  }
  void CloseInput() {
    if (stdin_ >= 0)
      close(stdin_);
    stdin_ = -1;
  }

  // One line of the child's output, without its end; nullopt on time-out
  // or end of output.
  std::optional<std::string>
  ReadLine(std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
      const auto nl = buffered_.find('\n');
      if (nl != std::string::npos) {
        std::string line = buffered_.substr(0, nl);
        buffered_.erase(0, nl + 1);
        return line;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0)
        return std::nullopt;
      pollfd p{stdout_, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left.count())) <= 0)
        continue;
      char chunk[4096];
      const ssize_t got = read(stdout_, chunk, sizeof chunk);
      if (got <= 0)
        return std::nullopt;
      buffered_.append(chunk, static_cast<std::size_t>(got));
    }
  }

  // The exit status (as waitpid gives it), or nullopt on time-out.
  std::optional<int>
  Wait(std::chrono::milliseconds limit = std::chrono::seconds(30)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
      int status;
      const pid_t r = waitpid(pid_, &status, WNOHANG);
      if (r == pid_) {
        exited_ = true;
        return status;
      }
      usleep(5000);
    }
    return std::nullopt;
  }

private:
  pid_t pid_ = -1;
  int stdin_ = -1;
  int stdout_ = -1;
  bool exited_ = false;
  std::string buffered_;
};
