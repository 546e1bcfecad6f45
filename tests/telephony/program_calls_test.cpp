// The program's telephony in one process: a real main window on this
// (window) thread, the core on its SIP thread, the door-unit simulator or a
// loopback registrar on the other side, and the ring playing into a
// PulseAudio server of the test's own.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <arpa/inet.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "commands/commands.h"
#include "events/window_proc.h"
#include "instance/identity.h"
#include "instance/settings.h"
#include "platform/message_space.h"
#include "platform/profile.h"
#include "platform/test_hooks.h"
#include "platform/window.h"
#include "resources/dialog_templates.h"
#include "shell/main.h"
#include "sip/sip_core.h"
#include "skin/skin.h"
#include "support/dialog_fields.h"
#include "support/doorsim.h"
#include "support/kamailio.h"
#include "support/pulse.h"
#include "support/pump.h"
#include "support/temp_dir.h"
#include "support/udp_peer.h"
#include "telephony/sip_thread.h"
#include "telephony/telephony.h"
#include "video/video.h"

using namespace plat;
using namespace std::chrono_literals;

namespace {

// Whether a UDP socket could be bound to `port` on every address now.
bool UdpPortFree(int port) {
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in any{};
  any.sin_family = AF_INET;
  any.sin_port = htons(static_cast<std::uint16_t>(port));
  any.sin_addr.s_addr = htonl(INADDR_ANY);
  const bool free =
      bind(fd, reinterpret_cast<const sockaddr *>(&any), sizeof any) == 0;
  close(fd);
  return free;
}

const std::vector<std::string> kBuiltInRing{"s16le 2ch 44100Hz"};

TempDir *g_data = nullptr;
PulseServer *g_pulse = nullptr;

std::vector<std::string> RingStreams() { return StreamsNamed("Ring"); }

// How many of the server's playing streams are not the ring (from one
// listing: the ring's stream may go between two).
std::size_t OtherStreams() {
  const std::string all = Run("pactl list sink-inputs 2>&1");
  std::size_t n = 0;
  const std::string start = "Sink Input #";
  for (std::size_t at = all.find(start); at != std::string::npos;) {
    const std::size_t next = all.find(start, at + 1);
    n += all.substr(at, next - at).find("media.name = \"Ring\"") ==
         std::string::npos;
    at = next;
  }
  return n;
}

// The settings of the [SIP] section, written to the file and read back as
// the program reads them at start-up.
void Configure(const std::map<std::string, std::string> &sip) {
  for (const auto &[key, value] : sip)
    ASSERT_TRUE(
        WritePrivateProfileString("SIP", key.c_str(), value.c_str(), ini_file));
  ReadConfiguration();
}

std::string Title(HDLG dlg) {
  QWidget *w = DialogWidgetOf(dlg);
  return w != nullptr ? w->windowTitle().toStdString() : "<closed>";
}

// The Authentication dialog, which the SIP thread holds open.
QDialog *AuthenticationDialog() {
  for (QWidget *w : QApplication::topLevelWidgets())
    if (auto *d = qobject_cast<QDialog *>(w))
      if (d->isVisible() && d->windowTitle() == "Authentication")
        return d;
  return nullptr;
}

// A second SIP phone inside the test, for callers the simulator cannot be.
// Keeps the reasons its failed calls were given.
class Phone {
public:
  explicit Phone(const char *contact) {
    SipCoreOptions options;
    options.folder = folder_.path();
    options.sip_port = 0;
    options.use_files = true;
    SipCallbacks callbacks{};
    callbacks.display_message = [](SipCore *core, SipCallId, const char *m) {
      std::lock_guard lock(Lock());
      Failures()[core].push_back(m);
    };
    core_ = SipCoreNew(callbacks, options);
    if (core_ == nullptr)
      return;
    SipCoreSetPrimaryContact(core_, contact);
    thread_.Start(core_);
  }
  ~Phone() {
    thread_.Stop();
    if (core_ != nullptr)
      SipCoreDestroy(core_);
    std::lock_guard lock(Lock());
    Failures().erase(core_);
  }
  SipCore *core() const { return core_; }
  std::vector<std::string> failures() const {
    std::lock_guard lock(Lock());
    return Failures()[core_];
  }

private:
  static std::mutex &Lock() {
    static std::mutex lock;
    return lock;
  }
  static std::map<SipCore *, std::vector<std::string>> &Failures() {
    static std::map<SipCore *, std::vector<std::string>> failures;
    return failures;
  }
  TempDir folder_;
  SipCore *core_ = nullptr;
  SipThread thread_;
};

// This thread, and what it starts, in a network namespace of its own made
// by `commands` (ip ...), until it goes: the namespace the other tests run
// in is left as it was.
class OwnNetwork {
public:
  explicit OwnNetwork(const std::vector<std::string> &commands) {
    previous_ = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    ok_ = previous_ >= 0 && unshare(CLONE_NEWNET) == 0 &&
          std::system("ip link set lo up") == 0;
    for (const std::string &command : commands)
      ok_ = ok_ && std::system(command.c_str()) == 0;
  }
  ~OwnNetwork() {
    if (previous_ >= 0) {
      setns(previous_, CLONE_NEWNET);
      close(previous_);
    }
  }
  bool ok() const { return ok_; }

private:
  int previous_ = -1;
  bool ok_ = false;
};

// A datagram socket standing in for a door unit's SIP side: it only reads.
class Datagrams {
public:
  Datagrams(const char *address, int port) {
    fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(static_cast<in_port_t>(port));
    inet_pton(AF_INET, address, &at.sin_addr);
    bound_ = bind(fd_, reinterpret_cast<sockaddr *>(&at), sizeof at) == 0;
  }
  ~Datagrams() { close(fd_); }
  bool bound() const { return bound_; }
  // The next datagram, while the window thread is pumped; empty after
  // `limit`.
  std::string Next(std::chrono::milliseconds limit) {
    std::string got;
    PumpUntil(
        [&] {
          char buffer[9000];
          const ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
          if (n > 0)
            got.assign(buffer, static_cast<std::size_t>(n));
          return n > 0;
        },
        limit);
    return got;
  }

private:
  int fd_ = -1;
  bool bound_ = false;
};

// The host of an address that starts at `from`'s first `prefix` in a SIP
// message (up to a port, parameter, '>' or the end of the line).
std::string HostAfter(const std::string &message, const std::string &prefix) {
  const std::size_t at = message.find(prefix);
  if (at == std::string::npos)
    return "<no " + prefix + ">";
  const std::size_t start = at + prefix.size();
  return message.substr(start,
                        message.find_first_of(": ;>\r\n", start) - start);
}

// What the core owner handed on of the calls it received: caller and
// outcome (the window thread's, and the SIP thread's busy ones).
using t_Heard = std::vector<std::pair<std::string, ReceivedCallOutcome>>;
std::mutex g_heardMutex;
t_Heard g_heard;

void Hear(const t_ReceivedCall &call) {
  std::lock_guard lock(g_heardMutex);
  g_heard.emplace_back(call.caller, call.outcome);
}

t_Heard TakeHeard() {
  std::lock_guard lock(g_heardMutex);
  return std::exchange(g_heard, {});
}

class ProgramCalls : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    g_data = new TempDir;
    setenv("ALLUSERSPROFILE", g_data->path().c_str(), 1);
    g_pulse = new PulseServer;
    ASSERT_TRUE(g_pulse->up());
    ASSERT_TRUE(Initialize());
    SetInitialDisplayState();
    PocSpusteni = 1;
    MESSAGE = RegisterWindowMessage(kAppTitle);
    // Never the default door address: the reader stays off anyway.
    AccessIniFile();
    ASSERT_TRUE(WritePrivateProfileString("Window 0", "IP_addr", "127.0.0.1",
                                          ini_file));
    ASSERT_EQ(InitApp(), 1);
    KillTimer(g_hwndMain, kReaderTimerId);
    // The instances' messages (the call's end, the door-unit report) are
    // broadcast: this instance hears its own, in a space of its own.
    setenv("XDG_RUNTIME_DIR", g_data->path().c_str(), 1);
    ASSERT_TRUE(JoinMessageSpace(g_hwndMain, kAppTitle));
    SetReceivedCallHook(Hear);
  }

  static void TearDownTestSuite() {
    delete g_pulse;
    g_pulse = nullptr;
    delete g_data;
    g_data = nullptr;
  }

  void SetUp() override {
    ASSERT_EQ(chdir(g_data->path().c_str()), 0); // no ring.wav here
    Configure({{"UseSIP", "0"},
               {"SIP_port", "0"},
               {"SIP_addr", ""},
               {"SIP_bind_addr", "127.0.0.1"}});
  }

  void TearDown() override {
    TeardownCore();
    EXPECT_EQ(the_core.load(), nullptr);
    PumpFor(50ms);
  }

  static void StartTheCore() {
    SendMessage(g_hwndMain, MESSAGE, MSG_START_CORE, 0);
  }

  static std::string CoreUrl() {
    return "sip:x@127.0.0.1:" + std::to_string(SipCoreSipPort(the_core));
  }

  // The registrar's one account, door with the right password, for a
  // minute; then the core.
  static void StartWithAccount(const Kamailio &registrar) {
    Configure({{"UseSIP", "1"},
               {"SIP_addr", registrar.address()},
               {"SIP_id", "door"},
               {"SIP_pass", "secret"},
               {"SIP_reg_duration", "60"}});
    StartTheCore();
  }

  static bool Registered(std::chrono::milliseconds limit = 5s) {
    return PumpUntil(
        [] {
          QueryRegistration();
          return SIP_reg == 1;
        },
        limit);
  }
};

// The ways a ringing call ends, each with the dialogs, the ring and the call
// state seen from both sides.
TEST_F(ProgramCalls, IncomingCallsFromTheSimulatorEndEveryWay) {
  DoorSim sim({"--sip", "127.0.0.1:0"});
  const auto line = sim.NextLine();
  ASSERT_TRUE(line && line->rfind("sip 127.0.0.1:", 0) == 0);
  // Not the caller's door unit: the Terminate dialog stays for the call.
  IP_addr.Set("127.0.0.2");
  StartTheCore();
  ASSERT_NE(the_core.load(), nullptr);
  // The core listens on the address it was given, not on every address.
  char local[16];
  std::snprintf(local, sizeof local, "0100007F:%04X", SipCoreSipPort(the_core));
  EXPECT_NE(ReadFile("/proc/net/udp").find(local), std::string::npos);

  enum Ending { kCancel, kDoorHangsUpRinging, kTerminateOk, kDoorHangsUpLater };
  using enum ReceivedCallOutcome;
  const struct {
    const char *name;
    Ending ending;
    ReceivedCallOutcome heard; // as the record has it
  } cases[] = {
      {"Cancel answers and hangs up", kCancel, Declined},
      {"the door gives up while it rings", kDoorHangsUpRinging, Missed},
      {"OK, then Terminate's OK", kTerminateOk, Stranger},
      {"OK, then the door hangs up", kDoorHangsUpLater, Stranger},
  };
  TakeHeard();
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    const long answered = sim.Status("sip_answered");
    const long ended = sim.Status("sip_ended");
    ShowData.lin_call = 1;
    sim.Command("ring-sip " + CoreUrl());
    ASSERT_TRUE(PumpUntil([] { return IsWindow(hWnd_Accept); }, 10s));
    EXPECT_EQ(Title(hWnd_Accept), "door");
    EXPECT_TRUE(PumpUntil([] { return RingStreams() == kBuiltInRing; }, 5s))
        << "the Accept dialog rings";

    switch (c.ending) {
    case kCancel:
      ASSERT_TRUE(Click(DialogWidgetOf(hWnd_Accept), "Cancel"));
      EXPECT_FALSE(IsWindow(hWnd_Accept));
      EXPECT_FALSE(IsWindow(hWnd_Terminate));
      break;
    case kDoorHangsUpRinging:
      sim.Command("hangup");
      EXPECT_TRUE(PumpUntil([] { return !IsWindow(hWnd_Accept); }, 5s));
      break;
    case kTerminateOk:
    case kDoorHangsUpLater:
      ASSERT_TRUE(Click(DialogWidgetOf(hWnd_Accept), "OK"));
      EXPECT_FALSE(IsWindow(hWnd_Accept));
      ASSERT_TRUE(IsWindow(hWnd_Terminate));
      EXPECT_EQ(Title(hWnd_Terminate), "door");
      EXPECT_TRUE(PumpUntil([] { return RingStreams().empty(); }, 5s));
      // This instance's own report answers the call.
      ASSERT_TRUE(PumpUntil([&] { return sim.Status("sip_in_call") == 1; }));
      EXPECT_EQ(ShowData.lin_call, 1) << "the call is up";
      if (c.ending == kTerminateOk)
        ASSERT_TRUE(Click(DialogWidgetOf(hWnd_Terminate), "OK"));
      else
        sim.Command("hangup");
      EXPECT_TRUE(PumpUntil([] { return !IsWindow(hWnd_Terminate); }, 5s));
      break;
    }
    EXPECT_TRUE(PumpUntil([] { return ShowData.lin_call == 0; }, 5s))
        << "MSG_CALL_ENDED";
    EXPECT_TRUE(PumpUntil([] { return RingStreams().empty(); }, 5s));
    EXPECT_TRUE(PumpUntil([] { return SoundThreadsRunning() == 0; }, 5s));
    EXPECT_TRUE(PumpUntil([&] { return sim.Status("sip_ended") == ended + 1; }))
        << "the door sees the call end";
    EXPECT_EQ(sim.Status("sip_answered"),
              answered + (c.ending == kDoorHangsUpRinging ? 0 : 1));
    EXPECT_TRUE(PumpUntil([] { return SipCoreInCall(the_core) == 0; }, 5s));
    EXPECT_EQ(TakeHeard(), (t_Heard{{"door@127.0.0.1", Ringing},
                                    {"door@127.0.0.1", c.heard}}));
  }

  // A caller without a user part is named by its address.
  {
    Phone phone("sip:127.0.0.1");
    ASSERT_NE(phone.core(), nullptr);
    ASSERT_EQ(SipCoreInvite(phone.core(), CoreUrl().c_str()), 0);
    ASSERT_TRUE(PumpUntil([] { return IsWindow(hWnd_Accept); }, 10s));
    EXPECT_EQ(Title(hWnd_Accept), "127.0.0.1");
    ASSERT_TRUE(Click(DialogWidgetOf(hWnd_Accept), "Cancel"));
    EXPECT_TRUE(PumpUntil([&] { return !SipCoreInCall(phone.core()); }, 5s));
    EXPECT_TRUE(PumpUntil([] { return !IsWindow(hWnd_Terminate); }, 5s));
    PumpFor(200ms);
    EXPECT_EQ(TakeHeard(),
              (t_Heard{{"127.0.0.1", ReceivedCallOutcome::Ringing},
                       {"127.0.0.1", ReceivedCallOutcome::Declined}}));
  }

  // Closing during a call: the call ends before the core goes, and the core
  // really goes (its port is free again for the next core).
  const int port = SipCoreSipPort(the_core);
  const long ended = sim.Status("sip_ended");
  sim.Command("ring-sip " + CoreUrl());
  ASSERT_TRUE(PumpUntil([] { return IsWindow(hWnd_Accept); }, 10s));
  ASSERT_TRUE(Click(DialogWidgetOf(hWnd_Accept), "OK"));
  ASSERT_TRUE(PumpUntil([&] { return sim.Status("sip_in_call") == 1; }));
  EXPECT_TRUE(TeardownCore());
  EXPECT_EQ(the_core.load(), nullptr);
  EXPECT_TRUE(PumpUntil([&] { return sim.Status("sip_ended") == ended + 1; }));
  Configure({{"SIP_port", std::to_string(port)}});
  StartTheCore();
  EXPECT_NE(the_core.load(), nullptr) << "port " << port << " still held";
}

// One call at a time, whoever else calls meanwhile, and a SIP side that
// goes on while a box is open: the door's call is answered with the pointer
// resting on the call key, callers that come while it is up are turned
// away busy and change nothing, the key under the pointer follows the call
// both ways, a failed call's box leaves the next ring its dialog, and a
// reply that comes late answers no later caller.
TEST_F(ProgramCalls, OneCallAtATimeAndTheSipSideNeverWaits) {
  // On the port the call key dials (these tests run alone).
  DoorSim sim({"--sip", "127.0.0.2:5060"});
  const auto line = sim.NextLine();
  ASSERT_TRUE(line && *line == "sip 127.0.0.2:5060");
  const std::string door = "sip:127.0.0.2";
  IP_addr.Set("127.0.0.2"); // this instance's door unit
  StartTheCore();
  ASSERT_NE(the_core.load(), nullptr);
  InitSkin(g_hwndMain, Skin);
  SkinBitmapPos(Skin, ShowData.ClientHeight, ShowData.ClientWidth);
  ShowWindow(g_hwndMain, SW_SHOW);
  const t_Skin &key = Skin[SKIN_B3_OVER];
  SendMessage(g_hwndMain, WM_MOUSEMOVE, 0,
              MAKELPARAM(key.PosY + key.Width / 2, key.PosX + key.Height / 2));
  ASSERT_EQ(ShowData.Button, BTN_CALL);
  // What an earlier test's calls still had on their way is not this one's.
  PumpFor(200ms);
  TakeHeard();

  sim.Command("ring-sip " + CoreUrl());
  ASSERT_TRUE(PumpUntil([] { return IsWindow(hWnd_Accept); }, 10s));
  ASSERT_TRUE(Click(DialogWidgetOf(hWnd_Accept), "OK"));
  ASSERT_TRUE(PumpUntil([] { return ShowData.lin_call == 1; }, 5s));
  EXPECT_EQ(ShowData.Button, BTN_HANGUP) << "the face under the pointer";
  EXPECT_FALSE(IsWindow(hWnd_Terminate)) << "this instance took the call";
  ASSERT_TRUE(PumpUntil([&] { return sim.Status("sip_in_call") == 1; }));
  ASSERT_TRUE(PumpUntil([] { return RingStreams().empty(); }, 5s));

  {
    std::vector<std::unique_ptr<Phone>> strangers;
    for (int i = 0; i < 3; ++i) {
      strangers.push_back(std::make_unique<Phone>("sip:stranger@127.0.0.1"));
      ASSERT_EQ(SipCoreInvite(strangers.back()->core(), CoreUrl().c_str()), 0);
    }
    for (auto &phone : strangers)
      EXPECT_TRUE(PumpUntil([&] { return !phone->failures().empty(); }, 5s));
    for (auto &phone : strangers)
      EXPECT_EQ(phone->failures(), std::vector<std::string>{"Busy here"});
    PumpFor(300ms);
    EXPECT_FALSE(IsWindow(hWnd_Accept)) << "no dialog, no ring";
    EXPECT_TRUE(RingStreams().empty());
  }
  EXPECT_EQ(TakeHeard(),
            (t_Heard{{"door@127.0.0.2", ReceivedCallOutcome::Ringing},
                     {"stranger@127.0.0.1", ReceivedCallOutcome::Busy},
                     {"stranger@127.0.0.1", ReceivedCallOutcome::Busy},
                     {"stranger@127.0.0.1", ReceivedCallOutcome::Busy}}));
  const auto busy = BusyCallers();
  ASSERT_GE(busy.size(), 3u);
  EXPECT_NE(busy.back().from.find("sip:stranger@127.0.0.1"), std::string::npos);
  EXPECT_LE(std::abs(busy.back().when - std::time(nullptr)), 10);
  EXPECT_EQ(ShowData.lin_call, 1) << "the strangers ended nothing";
  EXPECT_EQ(sim.Status("sip_in_call"), 1);

  // The hang-up key ends the door's call, and the key under the pointer is
  // the call key again: a click on it now dials the door.
  const long ended = sim.Status("sip_ended");
  SendMessage(g_hwndMain, WM_LBUTTONUP, 0, 0);
  ASSERT_TRUE(PumpUntil([&] { return sim.Status("sip_ended") == ended + 1; }));
  ASSERT_TRUE(PumpUntil([] { return ShowData.lin_call == 0; }, 5s));
  EXPECT_EQ(ShowData.Button, BTN_CALL);
  const long incoming = sim.Status("sip_incoming");
  SendMessage(g_hwndMain, WM_LBUTTONUP, 0, 0);
  ASSERT_TRUE(
      PumpUntil([&] { return sim.Status("sip_incoming") == incoming + 1; }));
  EXPECT_EQ(ShowData.Button, BTN_HANGUP);
  SendMessage(g_hwndMain, WM_LBUTTONUP, 0, 0);
  ASSERT_TRUE(PumpUntil([] { return SipCoreInCall(the_core) == 0; }, 5s));
  EXPECT_EQ(ShowData.Button, BTN_CALL);

  // A call the door refuses brings its box; the door's next ring opens its
  // dialog at once beside it.
  sim.Command("sip-answer decline 486");
  const std::string target = door + std::string(1, '\0');
  COPYDATASTRUCT cds{6, static_cast<std::uint32_t>(target.size()),
                     target.data()};
  SendMessage(g_hwndMain, WM_COPYDATA,
              static_cast<WPARAM>(HandleValue(g_hwndMain)),
              reinterpret_cast<LPARAM>(&cds));
  QMessageBox *box = nullptr;
  ASSERT_TRUE(PumpUntil(
      [&] {
        for (QWidget *w : QApplication::topLevelWidgets())
          if (auto *b = qobject_cast<QMessageBox *>(w); b && b->isVisible())
            box = b;
        return box != nullptr;
      },
      10s));
  EXPECT_EQ(box->windowTitle(), "Error");
  EXPECT_EQ(box->text(), "Busy here");
  sim.Command("sip-answer off");
  sim.Command("ring-sip " + CoreUrl());
  ASSERT_TRUE(PumpUntil([] { return IsWindow(hWnd_Accept); }, 10s));
  EXPECT_TRUE(box->isVisible());
  box->done(0);

  // A call answered and over; the door rings again, and a reply to the
  // first call's OK comes only now: nothing is answered.
  ASSERT_TRUE(Click(DialogWidgetOf(hWnd_Accept), "OK"));
  sim.Command("hangup");
  ASSERT_TRUE(PumpUntil([] { return SipCoreInCall(the_core) == 0; }, 5s));
  const long answered = sim.Status("sip_answered");
  sim.Command("ring-sip " + CoreUrl());
  ASSERT_TRUE(PumpUntil([] { return IsWindow(hWnd_Accept); }, 10s));
  char ip[64] = "127.0.0.1";
  COPYDATASTRUCT reply{0, sizeof ip, ip};
  SendMessage(g_hwndMain, WM_COPYDATA,
              static_cast<WPARAM>(HandleValue(g_hwndMain)),
              reinterpret_cast<LPARAM>(&reply));
  PumpFor(500ms);
  EXPECT_EQ(sim.Status("sip_answered"), answered);
  EXPECT_TRUE(IsWindow(hWnd_Accept)) << "it rings until the user decides";
  EXPECT_EQ(ShowData.lin_call, 0);
  ASSERT_TRUE(Click(DialogWidgetOf(hWnd_Accept), "Cancel"));
  EXPECT_TRUE(PumpUntil([] { return SipCoreInCall(the_core) == 0; }, 5s));
  ShowWindow(g_hwndMain, SW_HIDE);
}

// Requests whose addresses the SIP library cannot write out again (it
// crashed on the first one), sent raw from one port: in one piece, in two,
// behind other text. None gets an answer or a dialog, one line on standard
// error names the sender, and the next normal call from that port rings.
TEST_F(ProgramCalls, OverlongAddressesAreRefusedAndTheNextCallRings) {
  StartTheCore();
  ASSERT_NE(the_core.load(), nullptr);
  const UdpPeer peer;
  const std::string core =
      "127.0.0.1:" + std::to_string(SipCoreSipPort(the_core));
  const std::string me = "127.0.0.1:" + std::to_string(peer.port());
  const std::string sdp = "v=0\r\no=door 1 1 IN IP4 127.0.0.1\r\ns=-\r\n"
                          "c=IN IP4 127.0.0.1\r\nt=0 0\r\n"
                          "m=audio 40000 RTP/AVP 0\r\n";
  int serial = 0;
  const auto head = [&](const std::string &method, const std::string &uri,
                        const std::string &from, const std::string &to) {
    const std::string n = std::to_string(serial);
    return method + " " + uri + " SIP/2.0\r\nVia: SIP/2.0/UDP " + me +
           ";branch=z9hG4bK" + n + ";rport\r\nFrom: " + from + ";tag=" + n +
           "\r\nTo: " + to + "\r\nCall-ID: " + n + "@127.0.0.1\r\nCSeq: 1 " +
           method + "\r\nMax-Forwards: 70\r\n";
  };
  struct Parts {
    std::string from{}, to{}, contact{}, uri{};
  };
  const auto invite = [&](Parts p) {
    ++serial;
    if (p.from.empty())
      p.from = "<sip:door@" + me + ">";
    if (p.to.empty())
      p.to = "<sip:Vestibell@" + core + ">";
    if (p.contact.empty())
      p.contact = p.from;
    if (p.uri.empty())
      p.uri = "sip:Vestibell@" + core;
    return head("INVITE", p.uri, p.from, p.to) + "Contact: " + p.contact +
           "\r\nContent-Type: application/sdp\r\nContent-Length: " +
           std::to_string(sdp.size()) + "\r\n\r\n" + sdp;
  };

  const std::string name =
      "\"" + std::string(1100, 'D') + "\" <sip:door@127.0.0.1>";
  const std::string user(2048, 'u');
  const std::string param = ";x=" + std::string(2048, 'p');
  const std::string named = invite({.from = name});
  const std::size_t cut = named.find("From:") + 500;
  const struct {
    const char *name;
    std::vector<std::string> datagrams;
  } cases[] = {
      {"the 1 KB display name", {named}},
      {"a 2 KB user part in From",
       {invite({.from = "<sip:" + user + "@" + me + ">"})}},
      {"a 2 KB parameter in From",
       {invite({.from = "<sip:door@" + me + param + ">"})}},
      {"a 2 KB user part in To",
       {invite({.to = "<sip:" + user + "@" + core + ">"})}},
      {"a 2 KB parameter in To",
       {invite({.to = "<sip:Vestibell@" + core + param + ">"})}},
      {"a 2 KB user part in Contact",
       {invite({.contact = "<sip:" + user + "@" + me + ">"})}},
      {"a 2 KB parameter in Contact",
       {invite({.contact = "<sip:door@" + me + param + ">"})}},
      {"a 2 KB user part in the request URI",
       {invite({.uri = "sip:" + user + "@" + core})}},
      {"a 2 KB parameter in the request URI",
       {invite({.uri = "sip:Vestibell@" + core + param})}},
      {"the name in two datagrams", {named.substr(0, cut), named.substr(cut)}},
      {"the name behind other text", {"xx " + invite({.from = name})}},
  };
  testing::internal::CaptureStderr();
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    for (const std::string &datagram : c.datagrams)
      peer.Send(SipCoreSipPort(the_core), datagram);
    PumpFor(200ms);
    EXPECT_EQ(peer.Received(), std::vector<std::string>{}) << "answered";
    EXPECT_FALSE(IsWindow(hWnd_Accept));
  }
  const std::string said = testing::internal::GetCapturedStderr();
  const std::string line = "Vestibell: refused a SIP datagram from " + me;
  EXPECT_NE(said.find(line), std::string::npos) << said;
  EXPECT_EQ(said.find(line), said.rfind(line)) << "said more than once";

  peer.Send(SipCoreSipPort(the_core), invite({}));
  ASSERT_TRUE(PumpUntil([] { return IsWindow(hWnd_Accept); }, 10s));
  EXPECT_EQ(Title(hWnd_Accept), "door");
  // The door gives up: the dialog goes with its call.
  peer.Send(SipCoreSipPort(the_core),
            head("CANCEL", "sip:Vestibell@" + core, "<sip:door@" + me + ">",
                 "<sip:Vestibell@" + core + ">") +
                "Content-Length: 0\r\n\r\n");
  EXPECT_TRUE(PumpUntil([] { return !IsWindow(hWnd_Accept); }, 5s));
  const auto answers = peer.Received();
  EXPECT_NE(std::find(answers.begin(), answers.end(), "SIP/2.0 180 Ringing"),
            answers.end());
}

// The blocks other instances send to the core owner, through its own
// window: door-unit identities that match the caller or not (addresses
// numerically, SIP identities exactly), a call target that ends at its
// block's end with no zero, and a kind nobody sends.
TEST_F(ProgramCalls, TheCoreOwnerAnswersMatchesAndDialsFromBlocks) {
  DoorSim sim({"--sip", "127.0.0.1:0"});
  const auto line = sim.NextLine();
  ASSERT_TRUE(line && line->rfind("sip 127.0.0.1:", 0) == 0);
  const std::string door = line->substr(4);
  // This instance's own report (UseSIP clear: its address; set: an empty
  // identity) matches no caller here.
  IP_addr.Set("127.0.0.3");
  StartTheCore();
  ASSERT_NE(the_core.load(), nullptr);
  // Exactly `bytes` on the heap, so that a read past the block is caught
  // (by the sanitizers, or by the junk that follows it here).
  auto send = [](std::uintptr_t kind, const std::string &bytes,
                 std::size_t size) {
    std::vector<char> block(bytes.begin(), bytes.end());
    COPYDATASTRUCT cds{kind, static_cast<std::uint32_t>(size), block.data()};
    SendMessage(g_hwndMain, WM_COPYDATA,
                static_cast<WPARAM>(HandleValue(g_hwndMain)),
                reinterpret_cast<LPARAM>(&cds));
  };
  auto padded = [](std::string text, std::size_t size) {
    text.push_back('\0');
    text.resize(size, ' ');
    return text;
  };

  const struct {
    const char *name;
    int useSip;
    std::string other, same;
    std::size_t size;
  } cases[] = {
      {"addresses", 0, "127.0.0.2", "127.000.0.001", 64},
      {"SIP identities", 1, "doo", "door", 128},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    const long answered = sim.Status("sip_answered");
    sim.Command("ring-sip " + CoreUrl());
    UseSIP = c.useSip;
    ASSERT_TRUE(PumpUntil([] { return IsWindow(hWnd_Accept); }, 10s));
    ASSERT_TRUE(Click(DialogWidgetOf(hWnd_Accept), "OK"));
    ASSERT_TRUE(IsWindow(hWnd_Terminate));
    ShowData.lin_call = 0;
    send(0, padded(c.other, c.size), c.size);
    ASSERT_TRUE(PumpUntil([&] { return sim.Status("sip_in_call") == 1; }))
        << "any identity answers";
    EXPECT_TRUE(IsWindow(hWnd_Terminate)) << "another door unit matched";
    EXPECT_EQ(ShowData.lin_call, 0);
    send(0, padded(c.same, c.size), c.size);
    EXPECT_FALSE(IsWindow(hWnd_Terminate)) << "the caller's door unit";
    EXPECT_EQ(ShowData.lin_call, 1);
    EXPECT_EQ(sim.Status("sip_answered"), answered + 1);
    sim.Command("hangup");
    EXPECT_TRUE(PumpUntil([] { return ShowData.lin_call == 0; }, 5s));
    EXPECT_TRUE(PumpUntil([] { return SipCoreInCall(the_core) == 0; }, 5s));
  }
  UseSIP = 0;

  // The target is the whole block; what follows it in memory is not read.
  // (The door unit answers, so that its hang-up ends the call normally.)
  sim.Command("sip-answer accept");
  const std::string target = "sip:" + door;
  send(5, target, target.size());
  send(6, target + "99", target.size());
  ASSERT_TRUE(PumpUntil([&] { return sim.Status("sip_incoming") == 1; }, 5s))
      << "only the call target's block places a call";
  EXPECT_EQ(ShowData.lin_call, 1);
  sim.Command("hangup");
  EXPECT_TRUE(PumpUntil([] { return ShowData.lin_call == 0; }, 5s));
  // A target the core cannot call leaves the instance idle.
  send(6, padded("sip:not a sip address <", 128), 128);
  PumpFor(300ms);
  EXPECT_EQ(ShowData.lin_call, 0);
  EXPECT_EQ(sim.Status("sip_incoming"), 1);
}

// A core that cannot be made (its SIP port held by another program, its
// state folder a file) leaves the instance without calls but running; a
// later start that can make one does.
TEST_F(ProgramCalls, ACoreThatCannotBeMadeLeavesTheInstanceRunning) {
  const int port = FreeUdpPort();
  const int other = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  at.sin_port = htons(static_cast<in_port_t>(port));
  ASSERT_EQ(bind(other, reinterpret_cast<sockaddr *>(&at), sizeof at), 0);
  Configure({{"SIP_port", std::to_string(port)}});
  StartTheCore();
  EXPECT_EQ(the_core.load(), nullptr) << "shares port " << port;
  close(other);
  Configure({{"SIP_port", "0"}});

  const std::string folder = g_data->path() + "/Vestibell/sip";
  std::filesystem::remove_all(folder);
  WriteFile(folder, "not a folder");
  StartTheCore();
  EXPECT_EQ(the_core.load(), nullptr);

  // The window still answers, and a notice of a call no core has opens no
  // dialog that would ring for nothing.
  PostMessage(g_hwndMain, WM_USER, APP_INCOMING_CALL, 1);
  PumpFor(200ms);
  EXPECT_FALSE(IsWindow(hWnd_Accept));

  std::filesystem::remove(folder);
  StartTheCore();
  EXPECT_NE(the_core.load(), nullptr);
}

// Registrar mode: the account registers, a door unit reaches the program
// through the registrar, the account is rebuilt on a settings change, asks
// for a password it does not have, and refuses an address it cannot use.
TEST_F(ProgramCalls, RegistersAtTheRegistrarAndAsksForCredentials) {
  Kamailio registrar(KAMAILIO_CFG, "door", "secret");
  ASSERT_TRUE(registrar.up());
  StartWithAccount(registrar);
  ASSERT_NE(the_core.load(), nullptr);
  EXPECT_TRUE(Registered());

  // The door unit calls the account's address at the registrar.
  {
    DoorSim sim({"--sip", "127.0.0.1:0"});
    ASSERT_TRUE(sim.NextLine());
    sim.Command("ring-sip sip:door@" + registrar.address());
    ASSERT_TRUE(PumpUntil([] { return IsWindow(hWnd_Accept); }, 10s));
    ASSERT_TRUE(Click(DialogWidgetOf(hWnd_Accept), "Cancel"));
    EXPECT_TRUE(PumpUntil([&] { return sim.Status("sip_ended") == 1; }));
    EXPECT_EQ(sim.Status("sip_answered"), 1);
  }

  // A registered account is replaced by one from the file.
  ASSERT_EQ(SipCoreProxyConfigCount(the_core), 1);
  ReloadSipSettings();
  EXPECT_EQ(SipCoreProxyConfigCount(the_core), 1);
  EXPECT_TRUE(Registered());

  // A wrong password brings the dialog, which offers the account and has
  // the realm written down; its Cancel gives nothing to the core, not even
  // the right password typed into it.
  Configure({{"SIP_pass", "wrong"}});
  ReloadSipSettings();
  QDialog *dialog = nullptr;
  ASSERT_TRUE(PumpUntil(
      [&] {
        dialog = AuthenticationDialog();
        return dialog != nullptr && Field(dialog, 120) != nullptr &&
               Field(dialog, 120)->text() == "wrong";
      },
      10s));
  EXPECT_EQ(Field(dialog, 119)->text(), "door");
  // The SIP side goes on meanwhile: a call rings at once beside it.
  {
    Phone phone("sip:gate@127.0.0.1");
    ASSERT_EQ(SipCoreInvite(phone.core(), CoreUrl().c_str()), 0);
    ASSERT_TRUE(PumpUntil([] { return IsWindow(hWnd_Accept); }, 5s));
    EXPECT_TRUE(dialog->isVisible());
    ASSERT_TRUE(Click(DialogWidgetOf(hWnd_Accept), "Cancel"));
    EXPECT_TRUE(PumpUntil([&] { return !SipCoreInCall(phone.core()); }, 5s));
  }
  char realm[64];
  GetPrivateProfileString("SIP", "SIP_realm", "", realm, sizeof realm,
                          ini_file);
  EXPECT_STREQ(realm, "127.0.0.1");
  // Every request that follows is cancelled too.
  for (int asked = 0; dialog != nullptr && asked < 5; ++asked) {
    Field(dialog, 120)->setText("secret");
    ASSERT_TRUE(Click(dialog, "Cancel"));
    PumpUntil([&] { return AuthenticationDialog() != dialog; });
    PumpUntil([&] { return (dialog = AuthenticationDialog()) != nullptr; }, 1s);
  }
  EXPECT_FALSE(Registered(2s));
  // An account that never registered is replaced like any other.
  ReloadSipSettings();
  EXPECT_EQ(SipCoreProxyConfigCount(the_core), 1);
  for (int asked = 0; asked < 5; ++asked) {
    if ((dialog = AuthenticationDialog()) == nullptr &&
        !PumpUntil([&] { return (dialog = AuthenticationDialog()); }, 1s))
      break;
    ASSERT_TRUE(Click(dialog, "Cancel"));
  }

  // An address the core cannot take: the error box, and no registration.
  std::string box;
  QTimer look;
  QObject::connect(&look, &QTimer::timeout, [&] {
    for (QWidget *w : QApplication::topLevelWidgets())
      if (auto *b = qobject_cast<QMessageBox *>(w); b && b->isVisible()) {
        box = b->windowTitle().toStdString() + ": " + b->text().toStdString();
        b->done(0);
      }
  });
  look.start(10);
  Configure({{"SIP_addr", "no address"}, {"SIP_pass", "secret"}});
  ReloadSipSettings();
  look.stop();
  EXPECT_EQ(box, "Error: Add proxy config error");
  EXPECT_FALSE(Registered(1s));
}

// Only the settings decide the account: closing takes the registration
// back before the core goes (the registrar then knows the door's callee is
// gone), an account that never registered goes when "Use SIP server" is
// switched off and does not come back at the next start, and values the
// library cannot use are replaced.
TEST_F(ProgramCalls, TheAccountFollowsTheSettings) {
  Kamailio registrar(KAMAILIO_CFG, "door", "secret");
  ASSERT_TRUE(registrar.up());
  StartWithAccount(registrar);
  ASSERT_TRUE(Registered());
  TeardownCore();
  {
    Phone caller("sip:gate@127.0.0.1");
    const std::string callee = "sip:door@" + registrar.address();
    ASSERT_EQ(SipCoreInvite(caller.core(), callee.c_str()), 0);
    EXPECT_TRUE(PumpUntil([&] { return !caller.failures().empty(); }, 5s));
    EXPECT_EQ(caller.failures(), std::vector<std::string>{"Not Found"})
        << "the registrar still sends the closed program's calls on";
  }

  // A registrar that never answers; then "Use SIP server" off.
  Configure({{"SIP_addr", "127.0.0.1:" + std::to_string(FreeUdpPort())}});
  StartTheCore();
  ASSERT_EQ(SipCoreProxyConfigCount(the_core), 1);
  Configure({{"UseSIP", "0"}});
  ReloadSipSettings();
  EXPECT_EQ(SipCoreProxyConfigCount(the_core), 0);
  DoorSim sim({"--sip", "127.0.0.1:0"});
  const auto line = sim.NextLine();
  ASSERT_TRUE(line && line->rfind("sip 127.0.0.1:", 0) == 0);
  const std::string target = "sip:" + line->substr(4) + std::string(1, '\0');
  COPYDATASTRUCT cds{6, static_cast<std::uint32_t>(target.size()),
                     target.data()};
  SendMessage(g_hwndMain, WM_COPYDATA,
              static_cast<WPARAM>(HandleValue(g_hwndMain)),
              reinterpret_cast<LPARAM>(&cds));
  EXPECT_TRUE(PumpUntil([&] { return sim.Status("sip_incoming") == 1; }, 5s))
      << "a direct call goes to the door, not to the dead registrar";
  sim.Command("hangup");
  EXPECT_TRUE(PumpUntil([] { return SipCoreInCall(the_core) == 0; }, 5s));
  TeardownCore();

  Configure({{"SIP_reg_duration", "0"}, {"SIP_port", "70000"}});
  EXPECT_EQ(SIP_reg_duration, kRegDurationDefault);
  // The replacement is the standard port, on every address: a program an
  // earlier test started may still be letting go of it.
  ASSERT_TRUE(PumpUntil([] { return UdpPortFree(5060); }, 10s))
      << "port 5060 stays taken by another process";
  StartTheCore();
  ASSERT_NE(the_core.load(), nullptr);
  EXPECT_EQ(SipCoreProxyConfigCount(the_core), 0) << "the old account is back";
  EXPECT_EQ(SipCoreSipPort(the_core), 5060);
  PumpFor(300ms);
  EXPECT_EQ(AuthenticationDialog(), nullptr);
}

// One OK with the right password registers: the dialog is not asked for
// a second time. (With a realm already saved from an earlier request the
// library still asks twice; that case is left out here.)
TEST_F(ProgramCalls, OneOkWithTheRightPasswordRegisters) {
  Kamailio registrar(KAMAILIO_CFG, "door", "secret");
  ASSERT_TRUE(registrar.up());
  // First with no realm saved; then with the one the first request saved,
  // so the wrong password is tried before the dialog asks.
  std::string realm;
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round == 0 ? "no realm saved" : "the realm saved");
    Configure({{"UseSIP", "1"},
               {"SIP_addr", registrar.address()},
               {"SIP_id", "door"},
               {"SIP_pass", "wrong"},
               {"SIP_realm", realm},
               {"SIP_reg_duration", "60"}});
    StartTheCore();
    ASSERT_NE(the_core.load(), nullptr);
    QDialog *dialog = nullptr;
    ASSERT_TRUE(PumpUntil([&] { return (dialog = AuthenticationDialog()); }));
    Field(dialog, 120)->setText("secret");
    ASSERT_TRUE(Click(dialog, "OK"));
    EXPECT_TRUE(Registered());
    PumpFor(300ms);
    EXPECT_EQ(AuthenticationDialog(), nullptr) << "asked again";
    char saved[64];
    GetPrivateProfileString("SIP", "SIP_realm", "", saved, sizeof saved,
                            ini_file);
    realm = saved;
    ASSERT_FALSE(realm.empty());
    TeardownCore();
  }
}

// The ring itself: ring.wav from the working folder when there is one, and
// no sound server at all leaves the dialog working.
TEST_F(ProgramCalls, TheRingPlaysRingWavAndNeedsNoSoundServer) {
  StartTheCore();
  ASSERT_NE(the_core.load(), nullptr);
  Phone phone("sip:gate@127.0.0.1");
  ASSERT_NE(phone.core(), nullptr);
  TempDir work;
  // 8 kHz mono, 8 bits: 0.2 s of silence.
  std::string wav = "RIFF";
  auto put = [&](std::uint32_t v, int n) {
    for (int i = 0; i < n; ++i)
      wav += static_cast<char>(v >> (8 * i));
  };
  put(36 + 1600, 4);
  wav += "WAVEfmt ";
  put(16, 4);   // fmt size
  put(1, 2);    // PCM
  put(1, 2);    // channels
  put(8000, 4); // sample rate
  put(8000, 4); // bytes per second
  put(1, 2);    // block
  put(8, 2);    // bits
  wav += "data";
  put(1600, 4);
  wav += std::string(1600, '\x80');
  WriteFile(work / "ring.wav", wav);
  ASSERT_EQ(chdir(work.path().c_str()), 0);

  const struct {
    const char *name;
    bool server;
    std::vector<std::string> streams;
  } cases[] = {
      {"ring.wav of the working folder", true, {"u8 1ch 8000Hz"}},
      {"no sound server", false, {}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    if (!c.server)
      setenv("PULSE_SERVER", ("unix:" + (work / "nobody")).c_str(), 1);
    ASSERT_EQ(SipCoreInvite(phone.core(), CoreUrl().c_str()), 0);
    ASSERT_TRUE(PumpUntil([] { return IsWindow(hWnd_Accept); }, 10s));
    EXPECT_EQ(Title(hWnd_Accept), "gate");
    if (c.server) {
      EXPECT_TRUE(PumpUntil([&] { return RingStreams() == c.streams; }, 5s));
    } else {
      // The attempt to play ends by itself.
      EXPECT_TRUE(PumpUntil([] { return SoundThreadsRunning() == 0; }, 5s));
    }
    ASSERT_TRUE(Click(DialogWidgetOf(hWnd_Accept), "Cancel"));
    EXPECT_FALSE(IsWindow(hWnd_Accept));
    EXPECT_TRUE(PumpUntil([&] { return !SipCoreInCall(phone.core()); }, 5s));
    EXPECT_TRUE(PumpUntil([] { return SoundThreadsRunning() == 0; }, 5s));
  }
  setenv("PULSE_SERVER", g_pulse->address().c_str(), 1);
  EXPECT_TRUE(RingStreams().empty());
}

// A ring.wav that cannot be played rings the built-in ring and says why,
// and the window thread never waits on it; when the caller gives up,
// nothing plays after the ring (the library's tones were louder than it).
TEST_F(ProgramCalls, AnUnplayableRingWavRingsTheBuiltInRing) {
  StartTheCore();
  ASSERT_NE(the_core.load(), nullptr);
  Phone phone("sip:gate@127.0.0.1");
  ASSERT_NE(phone.core(), nullptr);
  TempDir work;
  ASSERT_EQ(chdir(work.path().c_str()), 0);
  const std::string ring = work / "ring.wav";
  // 0.2 s of 8 kHz, 8 bits, with the format tag and channels given.
  auto wave = [](unsigned tag, unsigned channels) {
    std::string w = "RIFF";
    auto put = [&](std::uint32_t v, int n) {
      for (int i = 0; i < n; ++i)
        w += static_cast<char>(v >> (8 * i));
    };
    put(36 + 1600, 4);
    w += "WAVEfmt ";
    put(16, 4);
    put(tag, 2);
    put(channels, 2);
    put(8000, 4);
    put(8000 * channels, 4);
    put(channels, 2);
    put(8, 2);
    w += "data";
    put(1600, 4);
    return w + std::string(1600, '\x80');
  };
  const struct {
    const char *name;
    std::function<void()> make;
    const char *why;
  } cases[] = {
      {"a FIFO", [&] { ASSERT_EQ(mkfifo(ring.c_str(), 0600), 0); },
       "is not a regular file"},
      {"a folder", [&] { std::filesystem::create_directory(ring); },
       "is not a regular file"},
      {"cut in its header", [&] { WriteFile(ring, wave(1, 1).substr(0, 30)); },
       "has no format (cut short?)"},
      {"no channels", [&] { WriteFile(ring, wave(1, 0)); },
       "has no channels or more than 8"},
      {"MPEG audio", [&] { WriteFile(ring, wave(0x55, 1)); },
       "is not plain PCM (compressed or floating point)"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(ring);
    c.make();
    // Should the window thread open the FIFO for reading and wait, a writer
    // comes after 5 s and lets it go, so that the wait is reported.
    std::promise<void> rung;
    std::future<bool> rescued = std::async(std::launch::async, [&] {
      if (rung.get_future().wait_for(5s) == std::future_status::ready)
        return false;
      const int fd = open(ring.c_str(), O_WRONLY | O_NONBLOCK);
      if (fd >= 0)
        close(fd);
      return true;
    });
    testing::internal::CaptureStderr();
    ASSERT_EQ(SipCoreInvite(phone.core(), CoreUrl().c_str()), 0);
    const bool open = PumpUntil([] { return IsWindow(hWnd_Accept); }, 10s);
    rung.set_value();
    const std::string said = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(open);
    EXPECT_FALSE(rescued.get()) << "the window thread waited on ring.wav";
    EXPECT_TRUE(PumpUntil([] { return RingStreams() == kBuiltInRing; }, 5s));
    // One line (beside Qt's own notes).
    const std::string line = std::string("Vestibell: ring.wav ") + c.why +
                             ": using the built-in ring\n";
    EXPECT_NE(said.find(line), std::string::npos) << said;
    EXPECT_EQ(said.find("ring.wav"), said.rfind("ring.wav")) << said;

    ASSERT_EQ(SipCoreTerminateCall(phone.core()), 0);
    EXPECT_TRUE(PumpUntil([] { return !IsWindow(hWnd_Accept); }, 5s));
    for (int i = 0; i < 20; ++i) {
      EXPECT_EQ(OtherStreams(), 0u) << "a sound after the caller gave up";
      PumpFor(100ms);
    }
    EXPECT_TRUE(RingStreams().empty());
  }
}

// The call key in direct mode: the call goes to the door unit's host, on
// the SIP port whatever port IP_addr names for the pictures, and it
// advertises (contact, SDP) the local address that reaches the door unit,
// not the default route's; also when IP_addr changes, and SIP_bind_addr
// still decides when set.
TEST_F(ProgramCalls, DirectCallsAdvertiseTheAddressThatReachesTheDoorUnit) {
  // The default route leaves from 127.0.0.5; a door unit at 127.0.0.2 is
  // reached from 127.0.0.1, one at 127.0.0.9 (a local address) from itself.
  OwnNetwork net({"ip addr add 127.0.0.5/32 dev lo",
                  "ip route add default dev lo src 127.0.0.5",
                  "ip addr add 127.0.0.9/32 dev lo"});
  ASSERT_TRUE(net.ok()) << "needs a network namespace (tools/loopback-only.sh)";
  Configure({{"SIP_bind_addr", ""}, {"SIP_id", "Vestibell"}});
  IP_addr.Set("127.0.0.2:8080");
  StartTheCore();
  ASSERT_NE(the_core.load(), nullptr);

  enum Change { kNone, kReload, kRestartBound };
  const struct {
    const char *ipAddr;
    Change change;
    const char *door, *local;
  } cases[] = {
      {"127.0.0.2:8080", kNone, "127.0.0.2", "127.0.0.1"},
      {"127.0.0.9", kReload, "127.0.0.9", "127.0.0.9"},
      {"127.0.0.2", kRestartBound, "127.0.0.2", "127.0.0.3"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.ipAddr);
    Datagrams sip(c.door, 5060), web(c.door, 8080);
    ASSERT_TRUE(sip.bound() && web.bound());
    if (c.change == kRestartBound) {
      TeardownCore();
      Configure({{"SIP_bind_addr", c.local}}); // reads IP_addr again
      StartTheCore();
      ASSERT_NE(the_core.load(), nullptr);
    }
    IP_addr.Set(c.ipAddr);
    if (c.change == kReload)
      ReloadSipSettings();
    MyLButtonUp(BTN_CALL);
    const std::string invite = sip.Next(5s);
    ASSERT_EQ(invite.rfind("INVITE sip:", 0), 0u) << invite;
    EXPECT_EQ(HostAfter(invite, "INVITE sip:"), c.door);
    EXPECT_EQ(HostAfter(invite, "\r\nContact: <sip:"), c.local) << invite;
    EXPECT_EQ(HostAfter(invite, "\r\nc=IN IP4 "), c.local) << invite;
    EXPECT_NE(invite.find(std::string(" IN IP4 ") + c.local + "\r\ns="),
              std::string::npos)
        << invite;
    EXPECT_EQ(HostAfter(invite, "\r\nFrom: <sip:Vestibell@"), c.local);
    EXPECT_EQ(web.Next(100ms), "") << "a datagram to the web server's port";
    SipCoreTerminateCall(the_core);
    EXPECT_TRUE(PumpUntil([] { return SipCoreInCall(the_core) == 0; }, 5s));
  }
}

} // namespace
