// Control commands, shared by /sim/... and standard input, and the log.
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iostream>
#include <sstream>

#include "sim_sip.h"
#include "sim_state.h"

Options g_options;
std::vector<std::string> g_folder_frames;
std::mutex g_mutex;
Settings g_settings;
Generations g_generations;
std::atomic<bool> g_stopping{false};
std::atomic<unsigned long> g_frames_sent{0};
std::atomic<unsigned long> g_connections{0};
std::atomic<long> g_open_streams{0};
std::atomic<unsigned long> g_relay1{0};
std::atomic<unsigned long> g_relay2{0};
std::atomic<unsigned long> g_error_pages{0};

namespace {

std::mutex g_log_mutex;
std::ofstream g_log_file;

std::string Timestamp() {
  auto now = std::chrono::system_clock::now();
  std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  int ms =
      static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                           now.time_since_epoch())
                           .count() %
                       1000);
  std::tm local{};
  localtime_r(&seconds, &local);
  char text[40];
  std::size_t length =
      std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
  std::snprintf(text + length, sizeof text - length, ".%03d", ms);
  return text;
}

std::string JsonText(const std::string &text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c >= 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

// Splits a line of standard input into the command and its arguments. The
// title takes the rest of the line as it is.
void SplitLine(const std::string &line, std::string &name,
               std::vector<std::string> &args) {
  std::size_t start = line.find_first_not_of(" \t");
  if (start == std::string::npos)
    return;
  std::size_t end = line.find_first_of(" \t", start);
  name = line.substr(start, end == std::string::npos ? end : end - start);
  if (end == std::string::npos) {
    if (name == "title")
      args.push_back("");
    return;
  }
  std::string rest = line.substr(end + 1);
  if (name == "title") {
    args.push_back(rest);
    return;
  }
  std::istringstream words(rest);
  for (std::string word; words >> word;)
    args.push_back(word);
}

} // namespace

void Log(const std::string &line) {
  std::string stamped = Timestamp() + " " + line + "\n";
  std::lock_guard lock(g_log_mutex);
  std::fwrite(stamped.data(), 1, stamped.size(), stdout);
  std::fflush(stdout);
  if (g_log_file.is_open())
    g_log_file << stamped << std::flush;
}

void Print(const std::string &text) {
  std::lock_guard lock(g_log_mutex);
  std::cout << text << std::endl;
}

bool OpenLogFile(const std::string &path) {
  std::lock_guard lock(g_log_mutex);
  g_log_file.open(path, std::ios::app);
  return g_log_file.is_open();
}

std::string StatusJson() {
  Settings settings;
  {
    std::lock_guard lock(g_mutex);
    settings = g_settings;
  }
  std::ostringstream out;
  out << "{\"frames_sent\":" << g_frames_sent
      << ",\"connections\":" << g_connections
      << ",\"open_streams\":" << g_open_streams << ",\"relay1\":" << g_relay1
      << ",\"relay2\":" << g_relay2 << ",\"error_pages\":" << g_error_pages
      << ",\"flag\":" << JsonText(std::string(1, settings.flag))
      << ",\"title\":" << JsonText(settings.title);
  const std::string sip = SipStatusJson();
  if (!sip.empty())
    out << "," << sip;
  out << "}";
  return out.str();
}

// Sleeps up to `duration`, in short steps so that a stop or a drop is seen
// promptly. Returns false when `keep_going` turns false.
bool ParseInt(const std::string &text, int &value, int low, int high) {
  try {
    std::size_t used = 0;
    long v = std::stol(text, &used);
    if (used != text.size() || v < low || v > high)
      return false;
    value = static_cast<int>(v);
    return true;
  } catch (...) {
    return false;
  }
}

bool ParseSeconds(const std::string &text, double &value) {
  try {
    std::size_t used = 0;
    value = std::stod(text, &used);
    return used == text.size() && value >= 0 && value <= 86400;
  } catch (...) {
    return false;
  }
}

void ResetSettings() {
  g_settings.flag = g_options.flag;
  g_settings.title = g_options.title;
  g_settings.drop_after = 0;
  g_settings.tiny_max = 0;
  g_settings.tiny_gap_ms = 0;
  g_settings.error_code = 0;
  g_settings.error_left = -1;
  g_settings.colour = -1;
}

// Runs one command: `name` and its arguments. The answer starts with "ok"
// or "error:".
std::string RunCommand(const std::string &name,
                       const std::vector<std::string> &args) {
  if (IsSipCommand(name))
    return RunSipCommand(name, args);
  auto arg = [&](std::size_t i) {
    return i < args.size() ? args[i] : std::string();
  };
  std::lock_guard lock(g_mutex);
  if (name == "ring") {
    if (arg(0).size() != 1)
      return "error: ring takes one byte: 0, 1 or 2";
    g_settings.flag = arg(0)[0];
    return "ok flag " + arg(0);
  }
  if (name == "title") {
    std::string text = arg(0);
    if (text.find_first_of("\r\n") != std::string::npos)
      return "error: a title holds no CR or LF";
    g_settings.title = text;
    return "ok title " + text;
  }
  if (name == "drop") {
    ++g_generations.drop;
    return "ok dropping open streams";
  }
  if (name == "drop-after") {
    int count = 0;
    if (!ParseInt(arg(0), count, 0, 1000000000))
      return "error: drop-after takes a number of parts";
    g_settings.drop_after = count;
    return "ok drop-after " + std::to_string(count);
  }
  if (name == "stall") {
    double seconds = 0;
    if (!ParseSeconds(arg(0), seconds))
      return "error: stall takes seconds";
    g_settings.stall_seconds = seconds;
    ++g_generations.stall;
    return "ok stall " + arg(0);
  }
  if (name == "garbage") {
    int bytes = 300;
    if (!arg(0).empty() && !ParseInt(arg(0), bytes, 1, 10000000))
      return "error: garbage takes a number of bytes";
    g_settings.garbage_bytes = bytes;
    ++g_generations.garbage;
    return "ok garbage " + std::to_string(bytes);
  }
  if (name == "error") {
    if (arg(0) == "off" || arg(0) == "0") {
      g_settings.error_code = 0;
      return "ok error off";
    }
    int code = 0, count = -1;
    if (!ParseInt(arg(0), code, 100, 599) ||
        (!arg(1).empty() && !ParseInt(arg(1), count, 1, 1000000000)))
      return "error: error takes a status code (100-599) and a count, or off";
    g_settings.error_code = code;
    g_settings.error_left = count;
    return "ok error " + std::to_string(code);
  }
  if (name == "tiny") {
    if (arg(0) == "off" || arg(0) == "0") {
      g_settings.tiny_max = 0;
      return "ok tiny off";
    }
    int max = 0, gap = 0;
    if (!ParseInt(arg(0), max, 1, 1000000) ||
        (!arg(1).empty() && !ParseInt(arg(1), gap, 0, 10000)))
      return "error: tiny takes a largest piece in bytes and a gap in ms";
    g_settings.tiny_max = max;
    g_settings.tiny_gap_ms = gap;
    return "ok tiny " + std::to_string(max);
  }
  if (name == "badjpeg") {
    ++g_generations.badjpeg;
    return "ok badjpeg";
  }
  if (name == "nodigits") {
    ++g_generations.nodigits;
    return "ok nodigits";
  }
  if (name == "longtitle") {
    int length = 100;
    if (!arg(0).empty() && !ParseInt(arg(0), length, 0, 100000))
      return "error: longtitle takes a length";
    g_settings.longtitle_length = length;
    ++g_generations.longtitle;
    return "ok longtitle " + std::to_string(length);
  }
  if (name == "colour") {
    if (arg(0) == "off") {
      g_settings.colour = -1;
      return "ok colour off";
    }
    const std::string hex = arg(0);
    if (hex.size() != 6 ||
        hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
      return "error: colour takes RRGGBB (hexadecimal) or off";
    g_settings.colour = std::stoi(hex, nullptr, 16);
    return "ok colour " + hex;
  }
  if (name == "reset") {
    ResetSettings();
    return "ok reset";
  }
  return "error: unknown command " + name + " (try help)";
}

std::string RunLine(const std::string &line) {
  std::string name;
  std::vector<std::string> args;
  SplitLine(line, name, args);
  if (name.empty())
    return "";
  if (name == "status")
    return StatusJson();
  std::string answer = RunCommand(name, args);
  Log("command " + line + ": " + answer);
  return answer;
}
