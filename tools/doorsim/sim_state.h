// The simulator's shared state: its options, the settings that control
// commands change, the counters of /sim/status, and its log.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "test_picture.h"

using Clock = std::chrono::steady_clock;

struct Options {
  std::string host = "127.0.0.1";
  int port = 8080;
  TestPictureSize size;
  double fps = 10;
  int quality = 80;
  std::string frames_dir;
  std::string title = "Vestibell door";
  char flag = '0';
  double ring_every = 0;
  double ring_length = 5;
  unsigned long seed = 1;
  bool chunked = false;
  std::string record_dir;
  std::string log_file;
  std::vector<std::string> commands;
  std::string sip_host; // empty: no SIP
  int sip_port = 0;
  std::string ring_sip; // called by each ring by itself; empty: none
};

// Set once at start-up, read by every thread afterwards.
extern Options g_options;
extern std::vector<std::string> g_folder_frames; // --frames, loaded at start

// Settings that commands change and streams read; guarded by g_mutex.
struct Settings {
  char flag = '0';
  std::string title;
  int drop_after = 0;
  int tiny_max = 0;
  int tiny_gap_ms = 0;
  int error_code = 0;
  int error_left = -1; // -1: until "error off"
  double stall_seconds = 0;
  int garbage_bytes = 300;
  int longtitle_length = 100;
  int colour = -1; // 0xRRGGBB: the generated picture is that colour alone
};

// One-shot faults: each stream remembers the generation it has seen and
// applies a fault once when the generation moves on.
struct Generations {
  unsigned long drop = 0, stall = 0, garbage = 0, badjpeg = 0, nodigits = 0,
                longtitle = 0;
};

extern std::mutex g_mutex;
extern Settings g_settings;       // guarded by g_mutex
extern Generations g_generations; // guarded by g_mutex

extern std::atomic<bool> g_stopping;
extern std::atomic<unsigned long> g_frames_sent;
extern std::atomic<unsigned long> g_connections;
extern std::atomic<long> g_open_streams;
extern std::atomic<unsigned long> g_relay1;
extern std::atomic<unsigned long> g_relay2;
extern std::atomic<unsigned long> g_error_pages;

// One timestamped line to standard output and the --log file.
void Log(const std::string &line);
// A command's answer to standard output, between log lines.
void Print(const std::string &text);
bool OpenLogFile(const std::string &path);

bool ParseInt(const std::string &text, int &value, int low, int high);
bool ParseSeconds(const std::string &text, double &value);

// The settings of a fresh start: the start flag and title, no faults.
void ResetSettings();
// Runs one command: `name` and its arguments. The answer starts with "ok"
// or "error:".
std::string RunCommand(const std::string &name,
                       const std::vector<std::string> &args);
// Runs one line of standard input; "" for an empty line.
std::string RunLine(const std::string &line);
// The counts and current settings as one JSON line.
std::string StatusJson();

// Sleeps up to `duration`, in short steps so that a stop or a drop is seen
// promptly. Returns false when `keep_going` turns false.
template <typename Predicate>
bool SleepWhile(Clock::duration duration, Predicate keep_going) {
  auto until = Clock::now() + duration;
  while (Clock::now() < until) {
    if (!keep_going())
      return false;
    auto step = std::min<Clock::duration>(std::chrono::milliseconds(20),
                                          until - Clock::now());
    std::this_thread::sleep_for(step);
  }
  return keep_going();
}
