// The program's telephony against the simulator's SIP side, on a real X
// display: incoming call to ringing Accept dialog (also while the Error box
// of a failed call is open), the user's hang-up to the
// SIP message on the wire, the core owner's idle CPU while registered at a
// loopback kamailio, and memory over many calls. Prints figures; never fails
// on a time. Started by bench/run.sh, which makes the display and runs it
// where only loopback is reachable.
//
// Times come from three places on one clock: the program's trace file
// (VESTIBELL_TRACE), this program's own, and a packet socket on loopback
// that sees every SIP datagram as it is sent (root only; without it the
// figures on the wire are left out).
#include <arpa/inet.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <netinet/udp.h>
#include <sys/socket.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <mutex>

#include "bench_support.h"
#include "support/free_port.h"
#include "support/kamailio.h"
#include "support/process.h"
#include "support/voice.h"

namespace fs = std::filesystem;
using namespace bench;

namespace {

struct Settings {
  std::string vestibell, doorsim, kamailioCfg;
  int calls = 20;          // samples of incoming call -> ringing
  int hangups = 10;        // samples of each hang-up kind
  double idleSeconds = 30; // length of the idle CPU measurement
  int memoryCalls = 500;
  bool sound = true;            // a PulseAudio null sink for the ring
  std::string sections = "all"; // or a list of ring,hangup,idle,memory,voice
} g;

bool Section(const char *name) {
  return g.sections == "all" ||
         ("," + g.sections + ",").find(std::string(",") + name + ",") !=
             std::string::npos;
}

// One SIP datagram seen on loopback.
struct Packet {
  long long t; // send time, on the trace clock
  int from, to;
  std::string first; // the request or status line
  std::string cseq;  // "N METHOD"
};

// Every UDP datagram on loopback that looks like SIP, with its kernel time
// stamp moved from the real-time clock to the monotonic one.
class Wire {
public:
  Wire() {
    fd_ = socket(AF_PACKET, SOCK_DGRAM, htons(ETH_P_IP));
    if (fd_ < 0)
      return;
    sockaddr_ll where{};
    where.sll_family = AF_PACKET;
    where.sll_protocol = htons(ETH_P_IP);
    where.sll_ifindex = static_cast<int>(if_nametoindex("lo"));
    const int on = 1;
    const timeval wait{0, 100000};
    if (bind(fd_, reinterpret_cast<sockaddr *>(&where), sizeof where) != 0 ||
        setsockopt(fd_, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on) != 0 ||
        setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait) != 0) {
      close(fd_);
      fd_ = -1;
      return;
    }
    timespec real{}, mono{};
    clock_gettime(CLOCK_REALTIME, &real);
    clock_gettime(CLOCK_MONOTONIC, &mono);
    offset_ = (real.tv_sec - mono.tv_sec) * 1000000000LL +
              (real.tv_nsec - mono.tv_nsec);
    reader_ = std::thread([this] { Read(); });
  }
  ~Wire() {
    stop_ = true;
    if (reader_.joinable())
      reader_.join();
    if (fd_ >= 0)
      close(fd_);
  }
  bool on() const { return fd_ >= 0; }

  // The first datagram after t that `match` accepts, waiting up to `limit`.
  template <class F>
  std::optional<Packet> After(long long t, std::chrono::milliseconds limit,
                              F match) {
    const auto deadline = Clock::now() + limit;
    do {
      {
        std::lock_guard lock(mutex_);
        for (const Packet &p : packets_)
          if (p.t > t && match(p))
            return p;
      }
      std::this_thread::sleep_for(2ms);
    } while (on() && Clock::now() < deadline);
    return std::nullopt;
  }
  template <class F> int Count(long long from, long long to, F match) {
    std::lock_guard lock(mutex_);
    int n = 0;
    for (const Packet &p : packets_)
      n += p.t > from && p.t <= to && match(p);
    return n;
  }
  void Forget() {
    std::lock_guard lock(mutex_);
    packets_.clear();
  }

private:
  void Read() {
    char data[9000];
    char control[256];
    while (!stop_) {
      iovec io{data, sizeof data};
      sockaddr_ll from{};
      msghdr m{};
      m.msg_name = &from;
      m.msg_namelen = sizeof from;
      m.msg_iov = &io;
      m.msg_iovlen = 1;
      m.msg_control = control;
      m.msg_controllen = sizeof control;
      const ssize_t n = recvmsg(fd_, &m, 0);
      // Loopback shows each datagram twice: keep the arriving copy.
      if (n <= 0 || from.sll_pkttype == PACKET_OUTGOING)
        continue;
      long long t = Now();
      for (cmsghdr *c = CMSG_FIRSTHDR(&m); c; c = CMSG_NXTHDR(&m, c))
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SO_TIMESTAMPNS) {
          timespec ts{};
          std::memcpy(&ts, CMSG_DATA(c), sizeof ts);
          t = ts.tv_sec * 1000000000LL + ts.tv_nsec - offset_;
        }
      if (static_cast<std::size_t>(n) < sizeof(iphdr))
        continue;
      iphdr ip{};
      std::memcpy(&ip, data, sizeof ip);
      const std::size_t ipLength = ip.ihl * 4u;
      if (ip.protocol != IPPROTO_UDP ||
          static_cast<std::size_t>(n) < ipLength + sizeof(udphdr))
        continue;
      udphdr udp{};
      std::memcpy(&udp, data + ipLength, sizeof udp);
      const std::string payload(data + ipLength + sizeof udp,
                                static_cast<std::size_t>(n) - ipLength -
                                    sizeof udp);
      const auto eol = payload.find("\r\n");
      if (eol == std::string::npos ||
          payload.find("SIP/2.0") == std::string::npos)
        continue;
      Packet p{t, ntohs(udp.source), ntohs(udp.dest), payload.substr(0, eol),
               ""};
      const auto cseq = payload.find("\r\nCSeq: ");
      if (cseq != std::string::npos)
        p.cseq =
            payload.substr(cseq + 8, payload.find("\r\n", cseq + 2) - cseq - 8);
      std::lock_guard lock(mutex_);
      packets_.push_back(std::move(p));
    }
  }

  int fd_ = -1;
  long long offset_ = 0;
  std::thread reader_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<Packet> packets_;
};

// A PulseAudio server with a null sink, so that the ring really plays.
class Pulse {
public:
  explicit Pulse(const fs::path &dir) {
    if (!g.sound || access("/usr/bin/pulseaudio", X_OK) != 0)
      return;
    fs::create_directories(dir / "run");
    socket_ = (dir / "s").string();
    server_ = std::make_unique<Child>(
        std::vector<std::string>{
            "/usr/bin/pulseaudio", "-n", "--daemonize=no",
            "--exit-idle-time=-1", "--use-pid-file=false", "--disable-shm=yes",
            "--log-target=file:" + (dir / "pulse.log").string(), "-L",
            "module-null-sink", "-L",
            "module-native-protocol-unix socket=" + socket_ +
                " auth-anonymous=1"},
        std::vector<std::string>{"HOME=" + dir.string(),
                                 "XDG_RUNTIME_DIR=" + (dir / "run").string(),
                                 "DBUS_SESSION_BUS_ADDRESS"});
    for (int i = 0; i < 100 && !fs::exists(socket_); ++i)
      std::this_thread::sleep_for(50ms);
    if (!fs::exists(socket_))
      socket_.clear();
  }
  ~Pulse() {
    if (server_) {
      Signal(server_->pid(), SIGTERM);
      if (!server_->Wait(5s))
        Signal(server_->pid(), SIGKILL);
    }
  }
  // The program's PULSE_SERVER, or the variable's removal without one.
  std::string Env() const {
    return socket_.empty() ? "PULSE_SERVER" : "PULSE_SERVER=unix:" + socket_;
  }
  bool up() const { return !socket_.empty(); }
  std::string address() const { return "unix:" + socket_; }

private:
  std::string socket_;
  std::unique_ptr<Child> server_;
};

// A simulator with its SIP side and a program, each in a folder of its own.
// `sip` is the program's [SIP] section beyond its port; `stream` says
// whether its window watches the simulator's stream (one picture a second)
// or a closed port. With `voices`, the program and the simulator each talk
// through a mouth and an ear of their own (support/voice.h).
class Session {
public:
  // `door`, when given, is the whole IP_addr (no picture then), which the
  // call key also dials.
  Session(const std::string &sip, bool stream, bool voices = false,
          const std::string &door = "") {
    dir_ = fs::temp_directory_path() /
           ("vestibell-bench-sip-" + std::to_string(getpid()) + "-" +
            std::to_string(++count_));
    fs::create_directories(dir_ / "data" / "Vestibell");
    fs::create_directories(dir_ / "cwd");
    // The sound devices first: the simulator and the program find them
    // when they start.
    pulse_ = std::make_unique<Pulse>(dir_ / "pulse");
    std::string sound;
    if (voices && pulse_->up()) {
      setenv("PULSE_SERVER", pulse_->address().c_str(), 1);
      voices_ =
          voice::AddSide("pc", 440, -20) && voice::AddSide("door", 300, -20);
      sound = "[Sound]\nSound capture=PulseAudio Unknown: pc-mouth\n"
              "Sound playback=PulseAudio Unknown: pc-ear\n";
    }
    // The picture comes from 127.0.0.2, the calls from 127.0.0.1: the
    // program's door unit is not the caller, so an answered call stays with
    // the Terminate dialog instead of going to a window's hang-up button.
    sim_ = std::make_unique<Child>(
        std::vector<std::string>{g.doorsim, "--listen", "127.0.0.2:0", "--sip",
                                 "127.0.0.1:0", "--fps", "1", "--title",
                                 "Bench door"},
        std::vector<std::string>{pulse_->Env()});
    const auto line = sim_->ReadLine(10s);
    const auto sipLine = sim_->ReadLine(10s);
    const std::string prefix = "listening 127.0.0.2:";
    const std::string sipPrefix = "sip 127.0.0.1:";
    if (!line || line->rfind(prefix, 0) != 0 || !sipLine ||
        sipLine->rfind(sipPrefix, 0) != 0) {
      std::printf("doorsim did not start\n");
      std::exit(1);
    }
    simSipPort_ = std::stoi(sipLine->substr(sipPrefix.size()));
    const std::string video = stream ? line->substr(prefix.size())
                                     : std::to_string(FreePort(SOCK_STREAM));
    port_ = FreePort(SOCK_DGRAM);
    std::ofstream ini(dir_ / "data" / "Vestibell" / "Vestibell.ini");
    ini << "[Window 0]\nIP_addr="
        << (door.empty() ? "127.0.0.2:" + video : door) << "\nLeft=" << kLeft
        << "\nTop=" << kTop
        << "\n[SIP]\nSIP_bind_addr=127.0.0.1\nSIP_port=" << port_ << "\n"
        << sip << sound;
    ini.close();
    trace_ = std::make_unique<Trace>((dir_ / "trace.txt").string());
    const fs::path previous = fs::current_path();
    fs::current_path(dir_ / "cwd");
    program_ = std::make_unique<Child>(
        std::vector<std::string>{g.vestibell},
        std::vector<std::string>{
            "ALLUSERSPROFILE=" + (dir_ / "data").string(),
            // Copies of the program meet only their own.
            "XDG_RUNTIME_DIR=" + (dir_ / "data").string(),
            "VESTIBELL_TRACE=" + (dir_ / "trace.txt").string(), pulse_->Env()});
    fs::current_path(previous);
    // The simulator's log, kept with the time each line came.
    drain_ = std::thread([this] {
      while (!stop_)
        if (auto l = sim_->ReadLine(200ms)) {
          std::lock_guard lock(logMutex_);
          log_.emplace_back(Now(), *l);
        }
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
    pulse_.reset();
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  // The window's place on the screen (a 336 x 301 window).
  static constexpr int kLeft = 10, kTop = 40;
  void PressCall() {
    Run("xdotool mousemove " + std::to_string(kLeft + 137) + " " +
        std::to_string(kTop + 283) + " click 1 mousemove 1000 5");
  }
  pid_t pid() const { return program_->pid(); }
  int port() const { return port_; }
  int simSipPort() const { return simSipPort_; }
  bool sound() const { return pulse_->up(); }
  bool voices() const { return voices_; }
  Trace &trace() { return *trace_; }
  void Sim(const std::string &command) { sim_->Write(command + "\n"); }
  void Call() {
    Sim("ring-sip sip:Vestibell@127.0.0.1:" + std::to_string(port_));
  }
  // Simulator log lines containing `text`, so far.
  std::size_t LogCount(const std::string &text) {
    std::lock_guard lock(logMutex_);
    std::size_t n = 0;
    for (const auto &[t, l] : log_)
      n += l.find(text) != std::string::npos;
    return n;
  }
  bool WaitLog(const std::string &text, std::size_t n,
               std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    while (LogCount(text) < n) {
      if (Clock::now() > deadline)
        return false;
      std::this_thread::sleep_for(2ms);
    }
    return true;
  }
  // The core is made just after the window: calls until one rings.
  bool WaitReady() {
    for (int i = 0; i < 20; ++i) {
      const std::size_t before = trace().Count("ringing");
      Call();
      if (trace().WaitCount("ringing", before + 1, 1s)) {
        HangUp();
        return true;
      }
      Sim("hangup");
    }
    return false;
  }
  // The simulator ends its call and waits until both sides are done.
  void HangUp() {
    const std::size_t ended = LogCount("CallReleased");
    Sim("hangup");
    WaitLog("CallReleased", ended + 1, 5s);
  }

private:
  static inline int count_ = 0;
  fs::path dir_;
  int port_ = 0, simSipPort_ = 0;
  bool voices_ = false;
  std::unique_ptr<Child> sim_, program_;
  std::unique_ptr<Pulse> pulse_;
  std::unique_ptr<Trace> trace_;
  std::thread drain_;
  std::atomic<bool> stop_{false};
  std::mutex logMutex_;
  std::vector<std::pair<long long, std::string>> log_;
};

// The visible windows titled exactly `title`.
std::vector<std::string> Windows(const std::string &title) {
  std::istringstream in(
      Run("xdotool search --onlyvisible --name '^" + title + "$' 2>/dev/null"));
  std::vector<std::string> ids;
  for (std::string id; in >> id;)
    ids.push_back(id);
  return ids;
}

// Waits for exactly one such window.
std::optional<std::string> OneWindow(const std::string &title) {
  for (int i = 0; i < 200; ++i) {
    const auto ids = Windows(title);
    if (ids.size() == 1)
      return ids[0];
    std::this_thread::sleep_for(10ms);
  }
  return std::nullopt;
}

// The caller's user part: the simulator calls as sip:door@127.0.0.1.
constexpr const char kCaller[] = "door";

void RingFigures(Session &s, Wire &wire) {
  std::printf("Incoming call -> Accept dialog ringing (%d calls; ring %s)\n",
              g.calls,
              s.sound() ? "played to a PulseAudio null sink" : "silent");
  std::vector<double> wireToCallback, callbackToRinging, wireToRinging,
      wireToPainted, askedToPainted;
  for (int i = 0; i < g.calls; ++i) {
    const long long asked = Now();
    s.Call();
    const auto invite = s.trace().After("invite", asked, 5s);
    const auto ringing = s.trace().After("ringing", asked, 5s);
    const auto painted = s.trace().After("dialog", asked, 5s);
    const auto sent = wire.After(asked, 100ms, [&](const Packet &p) {
      return p.to == s.port() && p.first.rfind("INVITE ", 0) == 0;
    });
    if (invite && ringing && painted) {
      callbackToRinging.push_back((*ringing - *invite) / 1e6);
      askedToPainted.push_back((*painted - asked) / 1e6);
      if (sent) {
        wireToCallback.push_back((*invite - sent->t) / 1e6);
        wireToRinging.push_back((*ringing - sent->t) / 1e6);
        wireToPainted.push_back((*painted - sent->t) / 1e6);
      }
    }
    s.HangUp();
    std::this_thread::sleep_for(100ms);
  }
  if (wire.on()) {
    Figure("INVITE on the wire -> my_inv_recv, median", Median(wireToCallback),
           "ms");
    Figure("INVITE on the wire -> ring started, median", Median(wireToRinging),
           "ms");
    Figure("INVITE on the wire -> dialog painted, median",
           Median(wireToPainted), "ms", "(goal <= 100 ms)");
    Figure("INVITE on the wire -> dialog painted, worst", P99(wireToPainted),
           "ms");
  }
  Figure("my_inv_recv -> ring started, median", Median(callbackToRinging),
         "ms");
  Figure("ring-sip asked -> dialog painted, median", Median(askedToPainted),
         "ms");
  std::printf("  (%zu of %d calls measured)\n", askedToPainted.size(), g.calls);
}

// The door rings while the "Error" box of a failed call is open: the SIP
// side goes on, and the Accept dialog opens beside the box. The failed call
// is one the call key places to a door unit that answers busy.
void BoxRingFigures(Wire &wire) {
  std::printf("Incoming call -> Accept dialog while an Error box is open "
              "(%d calls)\n",
              g.calls);
  Child busy({g.doorsim, "--listen", "127.0.0.2:0", "--sip", "127.0.0.2:5060",
              "--command", "sip-answer decline 486"});
  if (!busy.ReadLine(10s) || !busy.ReadLine(10s)) {
    std::printf("  the busy door unit did not start: left out\n");
    return;
  }
  Session s("", false, false, "127.0.0.2");
  std::optional<std::string> box;
  if (s.WaitReady()) {
    s.PressCall();
    box = OneWindow("Error");
  }
  if (!box) {
    std::printf("  no Error box came: left out\n");
    return;
  }
  std::vector<double> wireToPainted, askedToPainted;
  for (int i = 0; i < g.calls; ++i) {
    const long long asked = Now();
    s.Call();
    const auto painted = s.trace().After("dialog", asked, 5s);
    const auto sent = wire.After(asked, 100ms, [&](const Packet &p) {
      return p.to == s.port() && p.first.rfind("INVITE ", 0) == 0;
    });
    if (painted) {
      askedToPainted.push_back((*painted - asked) / 1e6);
      if (sent)
        wireToPainted.push_back((*painted - sent->t) / 1e6);
    }
    s.HangUp();
    std::this_thread::sleep_for(100ms);
  }
  const bool stillOpen = Windows("Error").size() == 1;
  if (wire.on())
    Figure("INVITE on the wire -> dialog painted, median",
           Median(wireToPainted), "ms", "(goal <= 100 ms)");
  Figure("ring-sip asked -> dialog painted, median", Median(askedToPainted),
         "ms");
  std::printf("  (%zu of %d calls measured; the box %s)\n",
              askedToPainted.size(), g.calls,
              stillOpen ? "stayed open throughout" : "was gone at the end");
  Run("xdotool key --window " + *box + " Return");
  busy.Write("quit\n");
  busy.Wait(5s);
}

// The user ends the call: Terminate's OK on a call still ringing (the call
// is only answered through the other instances, which this program does not
// talk to yet), and Accept's Cancel, which answers and hangs up at once.
void HangupFigures(Session &s, Wire &wire) {
  struct Kind {
    const char *name;
    bool terminate;
    std::vector<double> clickToHandled, handledToWire, inCore;
    std::string sent;
  } kinds[] = {
      {"Terminate OK (call still ringing)", true, {}, {}, {}, ""},
      {"Accept Cancel (answered, then hung up)", false, {}, {}, {}, ""}};
  for (Kind &k : kinds) {
    for (int i = 0; i < g.hangups; ++i) {
      const long long asked = Now();
      s.Call();
      if (!s.trace().After("dialog", asked, 5s)) {
        s.HangUp();
        continue;
      }
      const auto accept = OneWindow(kCaller);
      if (!accept) {
        s.HangUp();
        continue;
      }
      std::string target = *accept;
      if (k.terminate) {
        // OK opens the Terminate dialog in place of the Accept dialog.
        const long long ok = Now();
        ClickDialogButton(*accept, 8, 25, 44, 14);
        const auto term = s.trace().After("dialog", ok, 5s);
        std::optional<std::string> w;
        for (int j = 0; term && j < 100 && !w; ++j) {
          if (auto one = OneWindow(kCaller); one && *one != *accept)
            w = one;
          else
            std::this_thread::sleep_for(10ms);
        }
        if (!w) {
          s.HangUp();
          continue;
        }
        target = *w;
      }
      const long long click = Now();
      if (k.terminate)
        ClickDialogButton(target, 38, 25, 44, 14);
      else
        ClickDialogButton(target, 68, 25, 44, 14);
      const auto hangup = s.trace().After("hangup", click, 5s);
      const auto hungUp = s.trace().After("hung-up", click, 5s);
      if (hangup && hungUp) {
        k.clickToHandled.push_back((*hangup - click) / 1e6);
        k.inCore.push_back((*hungUp - *hangup) / 1e6);
        const auto out = wire.After(*hangup, 2s, [&](const Packet &p) {
          return p.from == s.port() && p.to == s.simSipPort() &&
                 p.first.rfind("SIP/2.0 1", 0) != 0 &&
                 p.first.rfind("SIP/2.0 200", 0) != 0 &&
                 p.first.rfind("ACK ", 0) != 0;
        });
        if (out) {
          k.handledToWire.push_back((out->t - *hangup) / 1e6);
          k.sent = out->first;
        }
      }
      s.HangUp();
      std::this_thread::sleep_for(200ms);
    }
    std::printf(" %s: %zu of %d measured; sent \"%s\"\n", k.name,
                k.inCore.size(), g.hangups, k.sent.c_str());
    Figure("xdotool click -> handled (includes starting xdotool)",
           Median(k.clickToHandled), "ms");
    Figure("handled -> the core has ended the call, median", Median(k.inCore),
           "ms");
    if (wire.on()) {
      Figure("handled -> end message on the wire, median",
             Median(k.handledToWire), "ms", "(goal <= 50 ms)");
      Figure("handled -> end message on the wire, worst", P99(k.handledToWire),
             "ms");
    }
  }
}

// The codecs a door unit may offer, each alone: the program's Accept OK
// answers, and each side speaks a tone of -20 dBFS (low ones: speex and GSM
// carry a tone of 1 kHz 20 to 35 dB down). The user's voice as the
// door unit hears it, while the visitor speaks too (double talk) against
// while the visitor is silent: an echo canceller with no echo to cancel
// takes the user's voice for one.
void VoiceFigures(Session &s) {
  std::printf("The user's voice at the door unit, double talk against "
              "single talk (tones of -20 dBFS both ways)\n");
  if (!s.voices()) {
    std::printf("  no PulseAudio server for the voices: left out\n");
    return;
  }
  s.Sim("sip-sound door-mouth door-ear");
  const char *const codecs[] = {"PCMU",       "PCMA", "G722",
                                "opus",       "G729", "speex/16000",
                                "speex/8000", "GSM",  "G726-32"};
  for (const char *codec : codecs) {
    s.Sim(std::string("sip-codec ") + codec);
    const std::size_t running = s.LogCount("sip audio codec");
    const long long asked = Now();
    s.Call();
    std::optional<std::string> accept;
    if (s.trace().After("dialog", asked, 5s))
      accept = OneWindow(kCaller);
    if (accept)
      ClickDialogButton(*accept, 8, 25, 44, 14);
    if (!accept || !s.WaitLog("sip audio codec", running + 1, 5s)) {
      std::printf("  %-12s not answered (%s)\n", codec,
                  accept ? "no audio" : "no Accept dialog");
      s.HangUp();
      continue;
    }
    std::this_thread::sleep_for(1500ms); // the streams settle
    const double visitor = voice::EarLevel("pc", 1);
    const double doubleTalk = voice::EarLevel("door", 2);
    voice::Mute("door", true);
    std::this_thread::sleep_for(500ms);
    const double singleTalk = voice::EarLevel("door", 2);
    voice::Mute("door", false);
    s.HangUp();
    char label[80];
    std::snprintf(label, sizeof label, "%s: double talk - single talk", codec);
    char levels[96];
    std::snprintf(levels, sizeof levels,
                  "(user %.1f / %.1f dBFS, visitor %.1f dBFS)", doubleTalk,
                  singleTalk, visitor);
    Figure(label, doubleTalk - singleTalk, "dB", levels);
    std::this_thread::sleep_for(300ms);
  }
  s.Sim("sip-codec default");
}

// CPU seconds of each thread of a process, by thread name.
std::map<std::string, double> ThreadSeconds(pid_t pid) {
  std::map<std::string, double> out;
  const fs::path tasks = "/proc/" + std::to_string(pid) + "/task";
  std::error_code e;
  for (const auto &t : fs::directory_iterator(tasks, e)) {
    std::ifstream comm(t.path() / "comm");
    std::string name;
    std::getline(comm, name);
    out[name] += CpuSecondsOf((t.path() / "stat").string());
  }
  return out;
}

void IdleFigures(Wire &wire) {
  std::printf("Core owner idle, no video (window at a closed port), %.0f s\n",
              g.idleSeconds);
  Kamailio registrar(g.kamailioCfg, "door", "secret");
  if (!registrar.up()) {
    std::printf("  kamailio did not start: left out\n");
    return;
  }
  auto measure = [&](const std::string &sip, bool registered) {
    Session s(sip, false);
    const long long start = Now();
    if (registered) {
      const auto ok = wire.After(start, 20s, [&](const Packet &p) {
        return p.to == s.port() && p.first.rfind("SIP/2.0 200", 0) == 0 &&
               p.cseq.find("REGISTER") != std::string::npos;
      });
      if (!ok && wire.on()) {
        std::printf("  not registered within 20 s; its datagrams:\n");
        wire.After(0, 0ms, [&](const Packet &p) {
          if (p.from == s.port() || p.to == s.port())
            std::printf("    %+.0f ms %d -> %d %s\n", (p.t - start) / 1e6,
                        p.from, p.to, p.first.c_str());
          return false;
        });
      }
      if (!wire.on())
        std::this_thread::sleep_for(5s);
    }
    std::this_thread::sleep_for(3s);
    const long long t0 = Now();
    const double c0 = CpuSeconds(s.pid());
    const auto threads0 = ThreadSeconds(s.pid());
    std::this_thread::sleep_for(std::chrono::duration<double>(g.idleSeconds));
    const double c1 = CpuSeconds(s.pid());
    // Where it goes: the threads that used any, and those that ended
    // meanwhile.
    double listed = 0;
    for (const auto &[name, seconds] : ThreadSeconds(s.pid())) {
      const auto before = threads0.find(name);
      const double used =
          seconds - (before == threads0.end() ? 0 : before->second);
      listed += used;
      if (used > 0)
        std::printf("    thread %-16s %6.3f %% of one core\n", name.c_str(),
                    used / g.idleSeconds * 100);
    }
    if (c1 - c0 - listed > 0.005)
      std::printf("    threads that ended       %6.3f %% of one core\n",
                  (c1 - c0 - listed) / g.idleSeconds * 100);
    const int packets = wire.Count(t0, Now(), [&](const Packet &p) {
      return p.from == s.port() || p.to == s.port();
    });
    return std::pair{(c1 - c0) / g.idleSeconds * 100, packets};
  };
  const auto [reg, regPackets] =
      measure("UseSIP=1\nSIP_addr=" + registrar.address() + "\nSIP_id=door\n" +
                  "SIP_pass=secret\n",
              true);
  Figure("registered at kamailio, CPU of one core", reg, "%",
         "(goal <= 0.3 %)");
  std::printf("  (%d SIP datagrams meanwhile)\n", regPackets);
  const auto [plain, plainPackets] = measure("UseSIP=0\n", false);
  Figure("no account (core only), CPU of one core", plain, "%");
}

// One call of the memory figures: rung, the dialog opened, hung up by the
// door unit while it rings.
void MemoryCall(Session &s, int i) {
  const std::size_t ringing = s.trace().Count("ringing");
  s.Call();
  if (!s.trace().WaitCount("ringing", ringing + 1, 5s))
    std::printf("  call %d did not ring\n", i);
  s.HangUp();
}

// A call the caller ends while it rings leaves its SIP state in the library
// for 64 x T1 = 32 s: the server transaction of the CANCEL holds the call's
// dialog and session descriptions, about 30 KiB, to answer retransmissions.
// Calls one after another therefore keep that state of the last 32 s of
// calls alive, a working set set by the call rate, not a leak; and the heap
// does not hand its high-water mark back. So calls are made for longer than
// that first, at the same pace, and growth is measured from there: what
// still grows then is kept for good.
constexpr auto kMemoryWarmUp = 40s;

void MemoryFigures(Session &s) {
  std::printf("Memory over %d calls (rung, dialog opened, hung up by the "
              "door unit), after %lld s of such calls\n",
              g.memoryCalls, static_cast<long long>(kMemoryWarmUp.count()));
  std::this_thread::sleep_for(500ms);
  const double idle = RssMiB(s.pid());
  Figure("RSS before the calls", idle, "MiB");
  int warmUp = 0;
  for (const auto end = Clock::now() + kMemoryWarmUp; Clock::now() < end;)
    MemoryCall(s, ++warmUp);
  std::this_thread::sleep_for(500ms); // the closed dialog torn down
  const double first = RssMiB(s.pid());
  char label[64];
  std::snprintf(label, sizeof label, "RSS after the warm-up (%d calls)",
                warmUp);
  Figure(label, first, "MiB");
  const auto began = Clock::now();
  for (int i = 1; i <= g.memoryCalls; ++i) {
    MemoryCall(s, warmUp + i);
    if (i % 250 == 0 || i == g.memoryCalls) {
      std::this_thread::sleep_for(500ms);
      std::snprintf(label, sizeof label, "RSS after %d more calls", i);
      Figure(label, RssMiB(s.pid()), "MiB");
    }
  }
  Figure("RSS growth over those calls", RssMiB(s.pid()) - first, "MiB",
         "(goal within 2 MiB)");
  std::printf("  (%.1f s for the calls)\n",
              std::chrono::duration<double>(Clock::now() - began).count());
}

} // namespace

int main(int argc, char **argv) {
  if (!ReadOptions(argc, argv,
                   {{"--vestibell", &g.vestibell},
                    {"--doorsim", &g.doorsim},
                    {"--kamailio-cfg", &g.kamailioCfg},
                    {"--calls", &g.calls},
                    {"--hangups", &g.hangups},
                    {"--idle-seconds", &g.idleSeconds},
                    {"--memory-calls", &g.memoryCalls},
                    {"--sections", &g.sections},
                    {"--sound", &g.sound}}))
    return 2;
  if (g.vestibell.empty() || g.doorsim.empty() || g.kamailioCfg.empty()) {
    std::fprintf(stderr,
                 "usage: bench_sip --vestibell P --doorsim P --kamailio-cfg P "
                 "[--calls N] [--hangups N] [--idle-seconds S] "
                 "[--memory-calls N] [--sound 0|1] "
                 "[--sections ring,hangup,idle,memory,voice]\n");
    return 2;
  }
  Wire wire;
  if (!wire.on())
    std::printf("(no packet socket: the figures on the wire are left out)\n");

  if (Section("ring") || Section("hangup")) {
    Session s("", true);
    if (!s.WaitReady()) {
      std::printf("the program's SIP core did not answer\n");
      return 1;
    }
    if (Section("ring"))
      RingFigures(s, wire);
    wire.Forget();
    if (Section("hangup"))
      HangupFigures(s, wire);
    wire.Forget();
  }
  if (Section("ring"))
    BoxRingFigures(wire);
  wire.Forget();
  if (Section("voice")) {
    Session s("", false, true);
    if (!s.WaitReady()) {
      std::printf("the program's SIP core did not answer\n");
      return 1;
    }
    VoiceFigures(s);
  }
  if (Section("idle"))
    IdleFigures(wire);
  wire.Forget();
  if (Section("memory")) {
    Session s("", true);
    if (!s.WaitReady()) {
      std::printf("the program's SIP core did not answer\n");
      return 1;
    }
    MemoryFigures(s);
  }
  return 0;
}
