// The whole program against the door-unit simulator, on a real X display:
// its CPU live at the door unit's rate beside ffmpeg and mpv on the same
// stream, its CPU per picture when flooded beside ffmpeg's on the same
// pictures, the hidden window's cost, latencies, reconnection and memory.
// Prints figures; never fails on a time. Started by bench/run.sh, which
// makes the pictures and the display.
//
// The program runs as it ships, from a data folder of its own, with
// VESTIBELL_TRACE pointing at a file: the timestamps of frame completion,
// drawing, presentation, ring and showing come from there.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "support/process.h"

namespace fs = std::filesystem;
using namespace bench;

namespace {

constexpr double kDoorRate = 25; // the door unit's pictures a second

struct Settings {
  std::string vestibell, doorsim, ffmpeg = "/usr/bin/ffmpeg";
  std::string mpv;      // empty: the live figures go without mpv's
  std::string baseline; // another build of the program, measured alongside
  std::string frames640, frames1080;
  double seconds = 15; // length of each CPU measurement
  int rings = 20;      // ring-to-shown samples
  int drops = 5;       // reconnection samples
  long memoryFrames = 10000;
  int repeat = 1;               // CPU samples per case; the median is shown
  long xserver = 0;             // the display's server, whose share is shown
  std::string sections = "all"; // or a list of live,cpu,hidden,latency,ring,
                                // memory
} g;

bool Section(const char *name) {
  return g.sections == "all" ||
         ("," + g.sections + ",").find(std::string(",") + name + ",") !=
             std::string::npos;
}

fs::path FreshFolder(const char *kind) {
  static int count = 0;
  return fs::temp_directory_path() /
         ("vestibell-bench-" + std::string(kind) + std::to_string(getpid()) +
          "-" + std::to_string(++count));
}

// A door unit: the simulator sending `frames` at `fps` parts a second (0: as
// fast as they are taken).
class Door {
public:
  Door(const std::string &frames, double fps) {
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
    port_ = line->substr(prefix.size());
    // Keep the simulator's log from filling its pipe; keep its status.
    drain_ = std::thread([this] {
      while (!stop_)
        if (const auto l = sim_->ReadLine(200ms); l && l->rfind("{", 0) == 0) {
          std::lock_guard lock(mutex_);
          status_ = *l;
          statusCame_.notify_all();
        }
    });
  }
  ~Door() {
    stop_ = true;
    drain_.join();
    sim_->Write("quit\n");
    sim_->Wait(5s);
  }
  const std::string &port() const { return port_; }
  std::string Url() const {
    return "http://127.0.0.1:" + port_ + "/video.mjpg";
  }
  void Sim(const std::string &command) { sim_->Write(command + "\n"); }
  // Parts sent so far on all its streams; -1 when it does not say.
  long PartsSent() {
    std::unique_lock lock(mutex_);
    status_.clear();
    Sim("status");
    statusCame_.wait_for(lock, 5s, [this] { return !status_.empty(); });
    const std::string key = "\"frames_sent\":";
    const auto at = status_.find(key);
    return at == std::string::npos
               ? -1
               : std::atol(status_.c_str() + at + key.size());
  }

private:
  std::unique_ptr<Child> sim_;
  std::string port_;
  std::thread drain_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::condition_variable statusCame_;
  std::string status_;
};

// One door unit and one program, each in a folder of its own.
class Session {
public:
  Session(const std::string &frames, double fps, int width, int height,
          bool popUp, const std::string &program = g.vestibell)
      : dir_(FreshFolder("")), door_(frames, fps) {
    fs::create_directories(dir_ / "data" / "Vestibell");
    fs::create_directories(dir_ / "cwd" / "Skin");
    // A background picture keeps a configured size while not connected.
    for (const auto &e : fs::directory_iterator(frames)) {
      fs::copy_file(e.path(), dir_ / "cwd" / "Skin" / "pozadi.jpg");
      break;
    }
    std::ofstream ini(dir_ / "data" / "Vestibell" / "Vestibell.ini");
    ini << "[Window 0]\nIP_addr=127.0.0.1:" << door_.port()
        << "\npop=" << (popUp ? 1 : 0) << "\nWidth=" << width
        << "\nHeight=" << height << "\n";
    ini.close();
    trace_ = std::make_unique<Trace>((dir_ / "trace.txt").string());
    const fs::path previous = fs::current_path();
    fs::current_path(dir_ / "cwd");
    program_ = std::make_unique<Child>(
        std::vector<std::string>{program},
        std::vector<std::string>{"ALLUSERSPROFILE=" + (dir_ / "data").string(),
                                 "VESTIBELL_TRACE=" +
                                     (dir_ / "trace.txt").string()});
    fs::current_path(previous);
  }
  ~Session() {
    if (program_) {
      Signal(program_->pid(), SIGTERM);
      if (!program_->Wait(10s))
        Signal(program_->pid(), SIGKILL);
    }
    program_.reset();
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  pid_t pid() const { return program_->pid(); }
  Trace &trace() { return *trace_; }
  Door &door() { return door_; }
  void Sim(const std::string &command) { door_.Sim(command); }

private:
  fs::path dir_;
  Door door_;
  std::unique_ptr<Child> program_;
  std::unique_ptr<Trace> trace_;
};

// The program's CPU seconds per picture drawn and per picture parsed over
// g.seconds, after the stream has settled.
struct Flooded {
  double perDrawn = -1, perParsed = -1;
};
Flooded CpuPerPicture(Session &s) {
  if (!s.trace().WaitCount("drawn", 20, 20s))
    return {};
  std::this_thread::sleep_for(1s);
  const std::size_t d0 = s.trace().Count("drawn"),
                    p0 = s.trace().Count("frame");
  const double c0 = CpuSeconds(s.pid());
  std::this_thread::sleep_for(std::chrono::duration<double>(g.seconds));
  const std::size_t d1 = s.trace().Count("drawn"),
                    p1 = s.trace().Count("frame");
  const double used = CpuSeconds(s.pid()) - c0;
  Flooded f;
  if (d1 > d0)
    f.perDrawn = used / static_cast<double>(d1 - d0);
  if (p1 > p0)
    f.perParsed = used / static_cast<double>(p1 - p0);
  return f;
}

// CPU seconds of the hidden window per part parsed.
double CpuPerParsed(Session &s) {
  if (!s.trace().WaitCount("frame", 20, 20s))
    return -1;
  std::this_thread::sleep_for(1s);
  const std::size_t n0 = s.trace().Count("frame");
  const double c0 = CpuSeconds(s.pid());
  std::this_thread::sleep_for(std::chrono::duration<double>(g.seconds));
  const std::size_t n1 = s.trace().Count("frame");
  const double c1 = CpuSeconds(s.pid());
  return n1 > n0 ? (c1 - c0) / static_cast<double>(n1 - n0) : -1;
}

// mpv's properties, asked over its JSON IPC socket.
class MpvControl {
public:
  explicit MpvControl(const std::string &path) {
    for (int i = 0; i < 200 && fd_ < 0; ++i) {
      const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
      sockaddr_un where{};
      where.sun_family = AF_UNIX;
      std::snprintf(where.sun_path, sizeof where.sun_path, "%s", path.c_str());
      if (connect(fd, reinterpret_cast<sockaddr *>(&where), sizeof where) == 0)
        fd_ = fd;
      else {
        close(fd);
        std::this_thread::sleep_for(50ms);
      }
    }
    const timeval wait{2, 0};
    if (fd_ >= 0)
      setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
  }
  ~MpvControl() {
    if (fd_ >= 0)
      close(fd_);
  }
  // A numeric property, or nullopt when mpv does not have it (yet).
  std::optional<double> Get(const std::string &property) {
    if (fd_ < 0)
      return std::nullopt;
    const int id = ++request_;
    const std::string ask = "{\"command\":[\"get_property\",\"" + property +
                            "\"],\"request_id\":" + std::to_string(id) + "}\n";
    if (write(fd_, ask.data(), ask.size()) != static_cast<ssize_t>(ask.size()))
      return std::nullopt;
    // Events come on the same socket: the answer is the line with our id.
    const std::string mine = "\"request_id\":" + std::to_string(id);
    for (;;) {
      const auto nl = buffered_.find('\n');
      if (nl == std::string::npos) {
        char chunk[4096];
        const ssize_t got = read(fd_, chunk, sizeof chunk);
        if (got <= 0)
          return std::nullopt;
        buffered_.append(chunk, static_cast<std::size_t>(got));
        continue;
      }
      const std::string line = buffered_.substr(0, nl);
      buffered_.erase(0, nl + 1);
      if (line.find(mine) == std::string::npos)
        continue;
      const auto data = line.find("\"data\":");
      if (data == std::string::npos)
        return std::nullopt;
      return std::atof(line.c_str() + data + 7);
    }
  }

private:
  int fd_ = -1;
  int request_ = 0;
  std::string buffered_;
};

// One sample of something playing the live stream: its CPU as a share of
// one core, the pictures it took a second, and the X server's share
// meanwhile.
struct Live {
  double cpu = -1, pictures = -1, xserver = -1;
};

// Measures `pid` over g.seconds; `pictures` counts what it has shown so far.
template <class F> Live SampleLive(pid_t pid, F pictures) {
  Live l;
  const double p0 = pictures();
  const double c0 = CpuSeconds(pid);
  const double x0 =
      g.xserver > 0 ? CpuSeconds(static_cast<pid_t>(g.xserver)) : 0;
  const auto t0 = Clock::now();
  std::this_thread::sleep_for(std::chrono::duration<double>(g.seconds));
  const double c1 = CpuSeconds(pid);
  const double x1 =
      g.xserver > 0 ? CpuSeconds(static_cast<pid_t>(g.xserver)) : 0;
  const double p1 = pictures();
  const double t = std::chrono::duration<double>(Clock::now() - t0).count();
  l.cpu = (c1 - c0) / t * 100;
  l.pictures = p0 >= 0 && p1 >= 0 ? (p1 - p0) / t : -1;
  if (g.xserver > 0)
    l.xserver = (x1 - x0) / t * 100;
  return l;
}

// The program in a window of `width` x `height`, the door unit sending at
// its own rate: pictures drawn.
Live LiveProgram(int width, int height,
                 const std::string &program = g.vestibell) {
  Session s(g.frames640, kDoorRate, width, height, false, program);
  if (!s.trace().WaitCount("drawn", 25, 20s))
    return {};
  std::this_thread::sleep_for(2s);
  return SampleLive(
      s.pid(), [&] { return static_cast<double>(s.trace().Count("drawn")); });
}

// ffmpeg, one thread, reading the same live stream and decoding and scaling
// each picture to the video area, showing nothing: pictures sent to it.
Live LiveFfmpeg(int videoW, int videoH) {
  Door door(g.frames640, kDoorRate);
  Child c({g.ffmpeg, "-nostdin", "-v", "error", "-threads", "1",
           "-filter_threads", "1", "-f", "mpjpeg", "-i", door.Url(), "-vf",
           "scale=" + std::to_string(videoW) + ":" + std::to_string(videoH) +
               ":flags=bicubic,format=bgra",
           "-f", "null", "-"});
  std::this_thread::sleep_for(3s);
  const Live l = SampleLive(
      c.pid(), [&] { return static_cast<double>(door.PartsSent()); });
  Signal(c.pid(), SIGTERM);
  c.Wait(5s);
  return l;
}

// mpv showing the same live stream in a window of the same size on the same
// display, at the stream's pace: the pictures it played, from its own
// counts (media time at its assumed rate, less the pictures it dropped).
Live LiveMpv(int width, int height) {
  Door door(g.frames640, kDoorRate);
  const fs::path dir = FreshFolder("mpv-");
  fs::create_directories(dir);
  const std::string control = (dir / "control").string();
  Child c({g.mpv, "--no-config", "--vo=x11", "--vd-lavc-threads=1",
           "--hwdec=no", "--no-audio", "--no-osc", "--no-terminal",
           "--no-input-default-bindings", "--idle=no",
           "--geometry=" + std::to_string(width) + "x" +
               std::to_string(height) + "+0+0",
           "--input-ipc-server=" + control, "--demuxer-lavf-format=mpjpeg",
           door.Url()},
          {"HOME=" + dir.string()});
  MpvControl mpv(control);
  Live l;
  for (int i = 0; i < 100 && !mpv.Get("time-pos"); ++i)
    std::this_thread::sleep_for(100ms);
  std::this_thread::sleep_for(3s);
  const auto fps = mpv.Get("estimated-vf-fps");
  if (fps)
    l = SampleLive(c.pid(), [&] {
      const auto at = mpv.Get("time-pos");
      const auto dropped = mpv.Get("frame-drop-count");
      return at && dropped ? *at * *fps - *dropped : -1;
    });
  Signal(c.pid(), SIGTERM);
  c.Wait(5s);
  std::error_code ignored;
  fs::remove_all(dir, ignored);
  return l;
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
                    {"--mpv", &g.mpv},
                    {"--baseline", &g.baseline},
                    {"--xserver", &g.xserver},
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
                         "--frames640 DIR --frames1080 DIR [--ffmpeg P] "
                         "[--mpv P] [--xserver PID] [--baseline P] "
                         "[--seconds S] "
                         "[--rings N] [--drops N] [--memory-frames N] "
                         "[--repeat N] [--sections live,cpu,hidden,latency,"
                         "ring,memory]\n");
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
  if (Section("live")) {
    std::printf("Live at the door unit's rate (640x480 parts, %.0f a second; "
                "CPU of one core, whole process)\n",
                kDoorRate);
    std::printf("  beside ffmpeg -threads 1 reading the same stream (decode + "
                "scale bicubic + bgra, no display)%s\n",
                g.mpv.empty() ? ""
                              : " and mpv showing it (--vo=x11, one "
                                "decoding thread)");
    for (const Case &c : cases) {
      if (c.frames != g.frames640)
        continue;
      std::printf(" %s\n", c.name);
      // Interleaved, so that what else the machine does falls on all three.
      std::vector<Live> program, ffmpeg, mpv, baseline;
      for (int i = 0; i < g.repeat; ++i) {
        program.push_back(LiveProgram(c.width, c.height));
        if (!g.baseline.empty())
          baseline.push_back(LiveProgram(c.width, c.height, g.baseline));
        ffmpeg.push_back(LiveFfmpeg(c.videoW, c.videoH));
        if (!g.mpv.empty())
          mpv.push_back(LiveMpv(c.width, c.height));
      }
      auto median = [](const std::vector<Live> &v, double Live::*field) {
        std::vector<double> values;
        for (const Live &l : v)
          values.push_back(l.*field);
        return Median(values);
      };
      const double p = median(program, &Live::cpu);
      const double f = median(ffmpeg, &Live::cpu);
      Figure("program, CPU", p, "%");
      Figure("  pictures drawn a second", median(program, &Live::pictures),
             "/s");
      Figure("ffmpeg, CPU", f, "%");
      Figure("  pictures sent to it a second", median(ffmpeg, &Live::pictures),
             "/s");
      if (!mpv.empty()) {
        Figure("mpv, CPU", median(mpv, &Live::cpu), "%");
        Figure("  pictures played a second (its own count)",
               median(mpv, &Live::pictures), "/s");
      }
      Figure("ratio program / ffmpeg", p / f, "x", "(goal <= 0.75)");
      if (!baseline.empty()) {
        const double b = median(baseline, &Live::cpu);
        Figure("baseline program, CPU", b, "%");
        Figure("ratio baseline / ffmpeg", b / f, "x");
        Figure("ratio program / baseline", p / b, "x");
      }
      if (!mpv.empty())
        Figure("ratio program / mpv", p / median(mpv, &Live::cpu), "x");
      if (g.xserver > 0) {
        Figure("X server meanwhile: with the program",
               median(program, &Live::xserver), "%");
        if (!mpv.empty())
          Figure("X server meanwhile: with mpv", median(mpv, &Live::xserver),
                 "%");
      }
    }
  }

  std::map<std::string, double> visible;
  if (Section("cpu") || Section("hidden")) {
    std::printf("Flooded: the door unit sends as fast as the pictures are "
                "taken; CPU per picture (program: whole process, skipping "
                "pictures while it draws; ffmpeg -threads 1: decode + scale "
                "bicubic + bgra of every picture)\n");
    for (const Case &c : cases) {
      std::printf(" %s\n", c.name);
      std::vector<double> drawn, parsed;
      for (int i = 0; i < g.repeat; ++i) {
        Session s(c.frames, 0, c.width, c.height, false);
        const Flooded f = CpuPerPicture(s);
        drawn.push_back(f.perDrawn);
        parsed.push_back(f.perParsed);
      }
      const double perDrawn = Median(drawn), perParsed = Median(parsed);
      visible[c.frames] = std::max(visible[c.frames], perDrawn);
      const double ffmpeg =
          medianOf([&] { return FfmpegPer(c.frames, c.videoW, c.videoH); });
      Figure("program, ms of CPU per picture drawn", perDrawn * 1e3, "ms",
             "(skipped pictures' parsing included)");
      Figure("program, ms of CPU per picture parsed", perParsed * 1e3, "ms",
             "(drawn or skipped)");
      Figure("ffmpeg, ms of CPU per picture", ffmpeg * 1e3, "ms");
      Figure("ratio program per drawn / ffmpeg", perDrawn / ffmpeg, "x");
      Figure("ratio program per parsed / ffmpeg", perParsed / ffmpeg, "x");
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
      return CpuPerParsed(s);
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
