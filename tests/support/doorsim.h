// The door-unit simulator as a real process on a free loopback port.
#pragma once

#include <string>
#include <vector>

#include "support/process.h"

class DoorSim {
public:
  // On a free port, or on `port` when given (a door unit coming back).
  explicit DoorSim(std::vector<std::string> options = {}, int port = 0) {
    std::vector<std::string> argv{DOORSIM, "--listen",
                                  "127.0.0.1:" + std::to_string(port)};
    argv.insert(argv.end(), options.begin(), options.end());
    child_ = std::make_unique<Child>(argv);
    const auto line = child_->ReadLine();
    const std::string prefix = "listening 127.0.0.1:";
    if (line && line->rfind(prefix, 0) == 0)
      port_ = std::stoi(line->substr(prefix.size()));
  }
  ~DoorSim() {
    if (child_) {
      child_->Write("quit\n");
      child_->Wait(std::chrono::seconds(5));
    }
  }

  int port() const { return port_; }
  // "127.0.0.1:PORT", what IP_addr holds to reach it.
  std::string address() const { return "127.0.0.1:" + std::to_string(port_); }
  std::string url(const std::string &path) const {
    return "http://" + address() + path;
  }
  // A control command on the simulator's standard input.
  void Command(const std::string &line) { child_->Write(line + "\n"); }
  // The next line the simulator prints (log lines, command answers).
  std::optional<std::string>
  NextLine(std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    return child_->ReadLine(limit);
  }
  // Reads lines until one contains `text`; false on time-out.
  bool WaitForLine(const std::string &text,
                   std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0)
        return false;
      const auto line = child_->ReadLine(left);
      if (!line)
        return false;
      if (line->find(text) != std::string::npos)
        return true;
    }
  }
  // One figure of the simulator's status line ("frames_sent",
  // "connections", "relay1", ...); -1 when it does not answer.
  long Status(const std::string &name) {
    Command("status");
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
      const auto line = NextLine();
      if (!line)
        break;
      if (line->empty() || (*line)[0] != '{')
        continue;
      const std::string key = "\"" + name + "\":";
      const auto at = line->find(key);
      if (at == std::string::npos)
        return -1;
      return std::strtol(line->c_str() + at + key.size(), nullptr, 10);
    }
    return -1;
  }
  void Kill() {
    kill(child_->pid(), SIGKILL);
    child_->Wait(std::chrono::seconds(5));
    child_.reset();
  }

private:
  std::unique_ptr<Child> child_;
  int port_ = 0;
};
