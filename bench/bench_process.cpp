// The whole program against the door-unit simulator, on a real X display:
// CPU per displayed frame beside ffmpeg's on the same pictures, the hidden
// window's cost, latencies, reconnection and memory. Prints figures; never
// fails on a time. Started by bench/run.sh, which makes the pictures and the
// display.
//
// The program runs as it ships, from a data folder of its own, with
// VESTIBELL_TRACE pointing at a file: the timestamps of frame completion,
// drawing, presentation, ring and showing come from there.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "support/process.h"

namespace fs = std::filesystem;
using namespace bench;

namespace {

struct Settings {
  std::string vestibell, doorsim, ffmpeg = "/usr/bin/ffmpeg";
  std::string frames640, frames1080;
  double seconds = 15; // length of each CPU measurement
  int rings = 20;      // ring-to-shown samples
  int drops = 5;       // reconnection samples
  long memoryFrames = 10000;
  int repeat = 1;               // CPU samples per case; the median is shown
  std::string sections = "all"; // or a list of cpu,hidden,latency,ring,memory
} g;

bool Section(const char *name) {
  return g.sections == "all" ||
         ("," + g.sections + ",").find(std::string(",") + name + ",") !=
             std::string::npos;
}

// One door unit and one program, each in a folder of its own.
class Session {
public:
  Session(const std::string &frames, double fps, int width, int height,
          bool popUp) {
    dir_ = fs::temp_directory_path() /
           ("vestibell-bench-" + std::to_string(getpid()) + "-" +
            std::to_string(++count_));
    fs::create_directories(dir_ / "data" / "Vestibell");
    fs::create_directories(dir_ / "cwd" / "Skin");
    // A background picture keeps a configured size while not connected.
    for (const auto &e : fs::directory_iterator(frames)) {
      fs::copy_file(e.path(), dir_ / "cwd" / "Skin" / "pozadi.jpg");
      break;
    }
    std::ostringstream fpsText;
    fpsText << fps;
    sim_ = std::make_unique<Child>(std::vector<std::string>{
        g.doorsim, "--listen", "127.0.0.1:0", "--frames", frames, "--fps",
        fpsText.str(), "--title", "Bench door"});
    const auto line = sim_->ReadLine(10s);
    const std::string prefix = "listening 127.0.0.1:";
    if (!line || line->rfind(prefix, 0) != 0) {
      std::fprintf(stderr, "doorsim did not start\n");
      std::exit(1);
    }
    const std::string port = line->substr(prefix.size());
    std::ofstream ini(dir_ / "data" / "Vestibell" / "Vestibell.ini");
    ini << "[Window 0]\nIP_addr=127.0.0.1:" << port
        << "\npop=" << (popUp ? 1 : 0) << "\nWidth=" << width
        << "\nHeight=" << height << "\n";
    ini.close();
    trace_ = std::make_unique<Trace>((dir_ / "trace.txt").string());
    const fs::path previous = fs::current_path();
    fs::current_path(dir_ / "cwd");
    program_ = std::make_unique<Child>(
        std::vector<std::string>{g.vestibell},
        std::vector<std::string>{"ALLUSERSPROFILE=" + (dir_ / "data").string(),
                                 "VESTIBELL_TRACE=" +
                                     (dir_ / "trace.txt").string()});
    fs::current_path(previous);
    // Keep the simulator's log from filling its pipe.
    drain_ = std::thread([this] {
      while (!stop_)
        sim_->ReadLine(200ms);
    });
  }
  ~Session() {
    if (program_) {
      Signal(program_->pid(), SIGTERM);
      if (!program_->Wait(10s))
        Signal(program_->pid(), SIGKILL);
    }
    stop_ = true;
    if (drain_.joinable())
      drain_.join();
    sim_->Write("quit\n");
    sim_->Wait(5s);
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  pid_t pid() const { return program_->pid(); }
  Trace &trace() { return *trace_; }
  void Sim(const std::string &command) { sim_->Write(command + "\n"); }

private:
  static inline int count_ = 0;
  fs::path dir_;
  std::unique_ptr<Child> sim_, program_;
  std::unique_ptr<Trace> trace_;
  std::thread drain_;
  std::atomic<bool> stop_{false};
};

// CPU seconds per event `what` of the program over g.seconds, after the
// stream has settled.
double CpuPer(Session &s, const std::string &what) {
  if (!s.trace().WaitCount(what, 20, 20s))
    return -1;
  std::this_thread::sleep_for(1s);
  const std::size_t n0 = s.trace().Count(what);
  const double c0 = CpuSeconds(s.pid());
  std::this_thread::sleep_for(std::chrono::duration<double>(g.seconds));
  const std::size_t n1 = s.trace().Count(what);
  const double c1 = CpuSeconds(s.pid());
  return n1 > n0 ? (c1 - c0) / static_cast<double>(n1 - n0) : -1;
}

// ffmpeg, one thread, decoding and scaling the same pictures: CPU per frame
// from two runs of different length, so its start-up cancels out.
double FfmpegPer(const std::string &frames, int w, int h) {
  std::size_t files = 0;
  for (const auto &e : fs::directory_iterator(frames))
    files += e.path().extension() == ".jpg";
  auto run = [&](int loops) {
    rusage before{}, after{};
    getrusage(RUSAGE_CHILDREN, &before);
    Child c({g.ffmpeg, "-nostdin", "-v", "error", "-threads", "1",
             "-filter_threads", "1", "-stream_loop", std::to_string(loops),
             "-f", "image2", "-i", frames + "/f%04d.jpg", "-vf",
             "scale=" + std::to_string(w) + ":" + std::to_string(h) +
                 ":flags=bicubic,format=bgra",
             "-f", "null", "-"});
    c.Wait(300s);
    getrusage(RUSAGE_CHILDREN, &after);
    auto secs = [](const rusage &r) {
      return r.ru_utime.tv_sec + r.ru_stime.tv_sec +
             (r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
    };
    return secs(after) - secs(before);
  };
  const int loops = std::max(1, static_cast<int>(g.seconds * 150 / files));
  const double shortRun = run(0);
  const double longRun = run(loops);
  return (longRun - shortRun) / static_cast<double>(loops * files);
}

} // namespace

int main(int argc, char **argv) {
  if (!ReadOptions(argc, argv,
                   {{"--vestibell", &g.vestibell},
                    {"--doorsim", &g.doorsim},
                    {"--ffmpeg", &g.ffmpeg},
                    {"--frames640", &g.frames640},
                    {"--frames1080", &g.frames1080},
                    {"--seconds", &g.seconds},
                    {"--rings", &g.rings},
                    {"--drops", &g.drops},
                    {"--memory-frames", &g.memoryFrames},
                    {"--repeat", &g.repeat},
                    {"--sections", &g.sections}}))
    return 2;
  g.repeat = std::max(1, g.repeat);
  if (g.vestibell.empty() || g.doorsim.empty() || g.frames640.empty() ||
      g.frames1080.empty()) {
    std::fprintf(stderr, "usage: bench_process --vestibell P --doorsim P "
                         "--frames640 DIR --frames1080 DIR [--seconds S] "
                         "[--rings N] [--drops N] [--memory-frames N] "
                         "[--repeat N] [--sections cpu,hidden,latency,ring,"
                         "memory]\n");
    return 2;
  }

  struct Case {
    const char *name;
    std::string frames;
    int width, height, videoW, videoH;
  };
  const Case cases[] = {
      {"640x480 -> 320x240 (window 336x301)", g.frames640, 336, 301, 320, 240},
      {"640x480 -> 624x419 (window 640x480)", g.frames640, 640, 480, 624, 419},
      {"1920x1080 -> 320x240 (window 336x301)", g.frames1080, 336, 301, 320,
       240},
      {"1920x1080 -> 624x419 (window 640x480)", g.frames1080, 640, 480, 624,
       419},
  };

  // The machine may be shared: several samples, medians shown.
  auto medianOf = [](auto sample) {
    std::vector<double> v;
    for (int i = 0; i < g.repeat; ++i)
      v.push_back(sample());
    return Median(v);
  };
  std::map<std::string, double> visible;
  if (Section("cpu") || Section("hidden")) {
    std::printf("CPU per displayed frame (program: whole process; ffmpeg "
                "-threads 1: decode + scale bicubic + bgra)\n");
    for (const Case &c : cases) {
      std::printf(" %s\n", c.name);
      const double program = medianOf([&] {
        Session s(c.frames, 0, c.width, c.height, false);
        return CpuPer(s, "drawn");
      });
      visible[c.frames] = std::max(visible[c.frames], program);
      const double ffmpeg =
          medianOf([&] { return FfmpegPer(c.frames, c.videoW, c.videoH); });
      Figure("program, ms of CPU per frame drawn", program * 1e3, "ms");
      Figure("ffmpeg, ms of CPU per frame", ffmpeg * 1e3, "ms");
      Figure("ratio program / ffmpeg", program / ffmpeg, "x", "(goal <= 1.0)");
    }
  }

  if (Section("hidden"))
    std::printf("Hidden window (parse only), CPU per part\n");
  for (const auto &[frames, name] :
       {std::pair{g.frames640, "640x480 parts"},
        std::pair{g.frames1080, "1920x1080 parts"}}) {
    if (!Section("hidden"))
      break;
    const double hidden = medianOf([&] {
      Session s(frames, 0, 336, 301,
                true); // pop-up: the first quiet part hides
      return CpuPer(s, "frame");
    });
    std::printf(" %s\n", name);
    Figure("ms of CPU per part, hidden", hidden * 1e3, "ms");
    Figure("as a fraction of the visible cost (largest window)",
           hidden / visible[frames] * 100, "%", "(goal <= 5 %)");
  }

  if (Section("latency")) {
    std::printf("Latency (640x480 parts at 25 per second, window 336x301)\n");
    Session s(g.frames640, 25, 336, 301, false);
    s.trace().WaitCount("drawn", 10, 20s);
    std::this_thread::sleep_for(std::chrono::duration<double>(g.seconds));
    s.trace().Poll();
    auto &ev = s.trace().events;
    std::vector<double> toDrawn, toPresented;
    for (long long f : ev["frame"]) {
      auto next = [&](const std::string &name) -> std::optional<double> {
        auto it = std::upper_bound(ev[name].begin(), ev[name].end(), f);
        if (it == ev[name].end())
          return std::nullopt;
        return (*it - f) / 1e6;
      };
      const auto d = next("drawn"), p = next("presented");
      if (d && p && *d < 500 && *p < 500) {
        toDrawn.push_back(*d);
        toPresented.push_back(*p);
      }
    }
    Figure("frame complete -> drawn, median", Median(toDrawn), "ms");
    Figure("frame complete -> presented, median", Median(toPresented), "ms",
           "(goal <= 5 ms)");
    Figure("frame complete -> presented, 99th percentile", P99(toPresented),
           "ms");

    std::vector<double> reconnect;
    for (int i = 0; i < g.drops; ++i) {
      std::this_thread::sleep_for(500ms);
      const long long dropped = Now();
      s.Sim("drop");
      const auto back = s.trace().After("drawn", dropped + 50'000'000, 10s);
      if (back)
        reconnect.push_back((*back - dropped) / 1e6);
    }
    Figure("reconnect after a drop (drop -> next frame drawn), median",
           Median(reconnect), "ms", "(goal <= 1500 ms)");
    Figure("reconnect after a drop, worst", P99(reconnect), "ms");
  }

  if (Section("ring")) {
    std::printf("Ring to shown (pop-up mode, window hidden, 25 parts/s)\n");
    Session s(g.frames640, 25, 336, 301, true);
    s.trace().WaitCount("frame", 10, 20s);
    std::this_thread::sleep_for(500ms);
    std::vector<double> shown;
    for (int i = 0; i < g.rings; ++i) {
      const long long asked = Now();
      s.Sim("ring 1");
      const auto call = s.trace().After("call", asked, 5s);
      const auto seen =
          call ? s.trace().After("shown", *call, 5s) : std::nullopt;
      if (call && seen)
        shown.push_back((*seen - *call) / 1e6);
      s.Sim("ring 0");
      std::this_thread::sleep_for(400ms); // hidden again
    }
    Figure("call flag received -> window shown, median", Median(shown), "ms",
           "(goal <= 50 ms)");
    Figure("call flag received -> window shown, 99th percentile", P99(shown),
           "ms");
  }

  if (Section("memory")) {
    std::printf("Memory (640x480 -> 320x240, as fast as drawn)\n");
    Session s(g.frames640, 0, 336, 301, false);
    double last = 0;
    for (long n : {1000L, 10000L, 100000L}) {
      if (n > g.memoryFrames)
        break;
      if (!s.trace().WaitCount("drawn", static_cast<std::size_t>(n), 3600s))
        break;
      const double rss = RssMiB(s.pid());
      char label[64];
      std::snprintf(label, sizeof label, "RSS after %ld frames", n);
      Figure(label, rss, "MiB");
      if (n == 100000)
        Figure("RSS growth 10,000 -> 100,000 frames", rss - last, "MiB",
               "(goal < 2 MiB)");
      last = rss;
    }
  }
  return 0;
}
