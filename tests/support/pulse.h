// A PulseAudio server of the test's own: a null sink and a private socket,
// which this process then plays into (PULSE_SERVER).
#pragma once

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/process.h"
#include "support/temp_dir.h"

// What a shell command prints.
inline std::string Run(const std::string &command) {
  std::string out;
  if (FILE *p = popen(command.c_str(), "r")) {
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, p))
      out += buffer;
    pclose(p);
  }
  return out;
}

// Polls `done` for up to 5 s.
inline bool Eventually(const std::function<bool()> &done) {
  for (int i = 0; i < 500; ++i) {
    if (done())
      return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

class PulseServer {
public:
  PulseServer() {
    std::filesystem::create_directories(dir_ / "run");
    server_ = std::make_unique<Child>(
        std::vector<std::string>{
            "/usr/bin/pulseaudio", "-n", "--daemonize=no",
            "--exit-idle-time=-1", "--use-pid-file=false", "--disable-shm=yes",
            "--log-target=file:" + (dir_ / "pulse.log"), "-L",
            "module-null-sink", "-L",
            "module-native-protocol-unix socket=" + (dir_ / "s") +
                " auth-anonymous=1"},
        std::vector<std::string>{"HOME=" + dir_.path(),
                                 "XDG_RUNTIME_DIR=" + (dir_ / "run"),
                                 "DBUS_SESSION_BUS_ADDRESS"});
    setenv("PULSE_SERVER", address().c_str(), 1);
    up_ = Eventually([] {
      return Run("pactl info 2>&1").find("Server Name") != std::string::npos;
    });
  }
  bool up() const { return up_; }
  const TempDir &dir() const { return dir_; }
  std::string address() const { return "unix:" + (dir_ / "s"); }

private:
  TempDir dir_;
  std::unique_ptr<Child> server_;
  bool up_ = false;
};

// The sample formats ("s16le 2ch 44100Hz") of the server's playing streams
// whose media name is `media`: pactl's "Sample ..." line of each.
inline std::vector<std::string> StreamsNamed(const std::string &media) {
  const std::string all = Run("pactl list sink-inputs 2>&1");
  std::vector<std::string> formats;
  const std::string start = "Sink Input #";
  for (std::size_t at = all.find(start); at != std::string::npos;) {
    const std::size_t next = all.find(start, at + 1);
    const std::string block = all.substr(at, next - at);
    at = next;
    if (block.find("media.name = \"" + media + "\"") == std::string::npos)
      continue;
    const std::size_t line = block.find("\tSample ");
    const std::size_t colon =
        line == std::string::npos ? line : block.find(": ", line);
    if (colon == std::string::npos)
      continue;
    const std::size_t end = block.find('\n', colon);
    formats.push_back(block.substr(colon + 2, end - colon - 2));
  }
  return formats;
}

// The value of property `key` of every playing stream that has it: pactl's
// `key = "value"` lines.
inline std::vector<std::string> StreamProperties(const std::string &key) {
  const std::string all = Run("pactl list sink-inputs 2>&1");
  std::vector<std::string> values;
  const std::string at = "\t\t" + key + " = \"";
  for (std::size_t i = all.find(at); i != std::string::npos;
       i = all.find(at, i + 1)) {
    const std::size_t from = i + at.size();
    values.push_back(all.substr(from, all.find('"', from) - from));
  }
  return values;
}
