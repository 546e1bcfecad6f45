// The instances' exchanges, timed on the copies' own trace files (one
// monotonic clock for every process): the answer exchange among four
// copies, the call button to the INVITE, and the hand-over of the core to
// a survivor registered at a loopback registrar. Needs an X display and
// xdotool; runs where only loopback is reachable (bench/run.sh).
//   bench_protocol --vestibell P --doorsim P --kamailio-cfg P [--rounds N]
#include <csignal>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "bench_support.h"
#include "support/free_port.h"
#include "support/kamailio.h"
#include "support/process.h"

namespace fs = std::filesystem;
using namespace bench;

namespace {

struct {
  std::string vestibell, doorsim, kamailioCfg;
  int rounds = 15;
} g;

// The one visible window titled exactly `title`, waiting for it.
std::optional<std::string> WindowTitled(const std::string &title) {
  for (int i = 0; i < 300; ++i) {
    std::istringstream in(Run("xdotool search --onlyvisible --name '^" + title +
                              "$' 2>/dev/null"));
    std::string id;
    if (in >> id)
      return id;
    std::this_thread::sleep_for(10ms);
  }
  return std::nullopt;
}

// A door-unit simulator on loopback that answers the calls it gets, with
// copies of the program side by side, each in a folder of its own and all
// meeting in one runtime folder.
class Group {
public:
  // `sip` is every copy's [SIP] section beyond its port and address.
  Group(int copies, const std::string &sip) {
    dir_ = fs::temp_directory_path() /
           ("vestibell-bench-protocol-" + std::to_string(getpid()) + "-" +
            std::to_string(++count_));
    fs::create_directories(dir_ / "runtime");
    fs::permissions(dir_ / "runtime", fs::perms::owner_all);
    sim_ = std::make_unique<Child>(std::vector<std::string>{
        g.doorsim, "--listen", "127.0.0.1:0", "--sip", "127.0.0.1:0",
        "--command", "sip-answer accept"});
    if (!sim_->ReadLine(10s) || !sim_->ReadLine(10s)) {
      std::printf("doorsim did not start\n");
      std::exit(1);
    }
    pcPort_ = FreeUdpPort();
    const int closed = FreePort(SOCK_STREAM);
    for (int i = 0; i < copies; ++i) {
      const fs::path data = dir_ / ("copy-" + std::to_string(i + 1));
      fs::create_directories(data / "Vestibell");
      // Copy 2's door unit is the simulator (127.0.0.1); the others serve
      // other addresses. No copy streams: the video stays off the figures.
      std::ofstream(data / "Vestibell" / "Vestibell.ini")
          << "[Window 0]\nIP_addr=127.0.0." << (i == 1 ? 1 : 10 + i) << ":"
          << closed << "\nSIP_id_doorphone=door\nLeft=" << Left(i)
          << "\nTop=" << Top(i)
          << "\npop=0\n[SIP]\nSIP_bind_addr=127.0.0.1\nSIP_port=" << pcPort_
          << "\n"
          << sip;
      traces_.push_back(std::make_unique<Trace>((data / "trace.txt").string()));
      copies_.push_back(std::make_unique<Child>(
          std::vector<std::string>{g.vestibell},
          std::vector<std::string>{
              "ALLUSERSPROFILE=" + data.string(),
              "XDG_RUNTIME_DIR=" + (dir_ / "runtime").string(),
              "VESTIBELL_TRACE=" + (data / "trace.txt").string()}));
      // Each copy is in the message space before the next one starts, so
      // the first holds the core.
      while (Members() < static_cast<std::size_t>(i + 1))
        std::this_thread::sleep_for(20ms);
    }
  }
  ~Group() {
    for (auto &c : copies_)
      Close(*c);
    sim_->Write("quit\n");
    sim_->Wait(5s);
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  Trace &trace(int copy) { return *traces_[copy]; }
  pid_t pid(int copy) { return copies_[copy]->pid(); }
  void Close(int copy) { Close(*copies_[copy]); }
  void Sim(const std::string &command) { sim_->Write(command + "\n"); }
  void CallThePc() {
    Sim("ring-sip sip:Vestibell@127.0.0.1:" + std::to_string(pcPort_));
  }
  // The call button of a copy's window (a 336 x 301 window).
  void PressCall(int copy) {
    Run("xdotool mousemove " + std::to_string(Left(copy) + 137) + " " +
        std::to_string(Top(copy) + 283) + " click 1 mousemove 1000 5");
  }

private:
  // Two windows a row on a 1024 x 768 screen.
  static int Left(int copy) { return 10 + 350 * (copy % 2); }
  static int Top(int copy) { return 40 + 340 * (copy / 2); }
  static void Close(Child &c) {
    if (Signal(c.pid(), SIGTERM) && !c.Wait(10s))
      Signal(c.pid(), SIGKILL);
  }
  std::size_t Members() {
    std::error_code e;
    std::size_t n = 0;
    for (auto it = fs::directory_iterator(
             dir_ / "runtime" / "vestibell" / "Vestibell_1.39", e);
         !e && it != fs::directory_iterator(); ++it)
      ++n;
    return n;
  }
  static inline int count_ = 0;
  fs::path dir_;
  int pcPort_ = 0;
  std::unique_ptr<Child> sim_;
  std::vector<std::unique_ptr<Child>> copies_;
  std::vector<std::unique_ptr<Trace>> traces_;
};

double Ms(long long from, long long to) {
  return static_cast<double>(to - from) / 1e6;
}

void AnswerAndDial() {
  Group group(4, "UseSIP=0\n");
  if (!group.trace(0).WaitCount("core-up", 1, 10s)) {
    std::printf("  the first copy made no SIP core\n");
    return;
  }
  std::vector<double> answer, dial;
  for (int i = 0; i < g.rounds; ++i) {
    // The door unit calls; OK in the first copy's Accept dialog.
    const long long asked = Now();
    group.CallThePc();
    const auto ringing = group.trace(0).After("ringing", asked, 5s);
    const auto dialog = WindowTitled("door");
    if (ringing && dialog) {
      ClickDialogButton(*dialog, 8, 25, 44, 14); // Accept's OK
      const auto ok = group.trace(0).After("accepted", asked, 5s);
      const auto answered =
          ok ? group.trace(0).After("answered", *ok, 5s) : std::nullopt;
      if (ok && answered)
        answer.push_back(Ms(*ok, *answered));
    }
    std::this_thread::sleep_for(300ms);
    group.Sim("hangup");
    std::this_thread::sleep_for(500ms);

    // The second copy's call button: the first copy invites for it.
    const long long before = Now();
    group.PressCall(1);
    const auto pressed = group.trace(1).After("dial", before, 5s);
    const auto invited =
        pressed ? group.trace(0).After("invited", *pressed, 5s) : std::nullopt;
    if (pressed && invited)
      dial.push_back(Ms(*pressed, *invited));
    std::this_thread::sleep_for(300ms);
    group.Sim("hangup");
    std::this_thread::sleep_for(500ms);
  }
  std::printf("Four copies, the first holding the core (%d rounds)\n",
              g.rounds);
  Figure("Accept OK -> the call answered (median)", Median(answer), "ms",
         "goal <= 50 ms");
  Figure("Accept OK -> the call answered (p99)", P99(answer), "ms");
  Figure("answered calls measured", static_cast<double>(answer.size()), "");
  Figure("call button -> INVITE sent by the core owner (median)", Median(dial),
         "ms", "goal <= 50 ms");
  Figure("call button -> INVITE sent (p99)", P99(dial), "ms");
  Figure("calls placed measured", static_cast<double>(dial.size()), "");
}

void HandOver() {
  std::vector<double> handover;
  for (int i = 0; i < 3; ++i) {
    Kamailio registrar(g.kamailioCfg, "pc", "secret");
    if (!registrar.up()) {
      std::printf("  kamailio did not start\n");
      return;
    }
    Group group(2, "UseSIP=1\nSIP_addr=" + registrar.address() +
                       "\nSIP_id=pc\nSIP_pass=secret\nSIP_reg_duration=60\n");
    if (!group.trace(0).WaitCount("registered", 1, 10s)) {
      std::printf("  the first copy did not register\n");
      return;
    }
    const long long closing = Now();
    group.Close(0);
    if (const auto r = group.trace(1).After("registered", closing, 10s))
      handover.push_back(Ms(closing, *r));
  }
  std::printf("Two copies at a registrar: the first closes\n");
  Figure("close -> the survivor registered (median of 3)", Median(handover),
         "ms", "goal <= 2000 ms");
  Figure("hand-overs measured", static_cast<double>(handover.size()), "");
}

} // namespace

int main(int argc, char **argv) {
  if (!ReadOptions(argc, argv,
                   {{"--vestibell", &g.vestibell},
                    {"--doorsim", &g.doorsim},
                    {"--kamailio-cfg", &g.kamailioCfg},
                    {"--rounds", &g.rounds}}))
    return 2;
  g.rounds = std::max(1, g.rounds);
  if (g.vestibell.empty() || g.doorsim.empty() || g.kamailioCfg.empty()) {
    std::fprintf(stderr, "usage: bench_protocol --vestibell P --doorsim P "
                         "--kamailio-cfg P [--rounds N]\n");
    return 2;
  }
  AnswerAndDial();
  HandOver();
  return 0;
}
