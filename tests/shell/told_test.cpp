// What the window tells the user, on a real X server (xvfb_told.sh gives
// it one, a network of its own where the door unit answers SIP on port
// 5060, and a name server on loopback that answers nobody): the top edge
// through calls placed from this window, the line under "Connecting,
// please wait..." and the tray tip while the door unit cannot be reached,
// the settings dialog's registration status, and the buttons' tooltips.
// This process is a copy of the program with its real window; where a
// copy holding the SIP core is wanted, that is the program itself.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCursor>
#include <QDialog>
#include <QMessageBox>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "events/window_proc.h"
#include "instance/identity.h"
#include "instance/protocol.h"
#include "instance/settings.h"
#include "instance/tray.h"
#include "platform/message_space.h"
#include "platform/profile.h"
#include "platform/test_hooks.h"
#include "resources/dialog_templates.h"
#include "shell/main.h"
#include "skin/skin.h"
#include "support/doorsim.h"
#include "support/free_port.h"
#include "support/kamailio.h"
#include "support/process.h"
#include "support/pump.h"
#include "support/settings_driver.h"
#include "support/temp_dir.h"
#include "telephony/telephony.h"
#include "video/video.h"

using namespace plat;
using namespace std::chrono_literals;

namespace {

// A settings folder of the test's own, the file's keys written before the
// window reads them.
class Data {
public:
  Data() {
    setenv("ALLUSERSPROFILE", dir_.path().c_str(), 1);
    setenv("XDG_RUNTIME_DIR", dir_.path().c_str(), 1);
    AccessIniFile();
  }
  void Set(const char *section, const char *key, const std::string &value) {
    ASSERT_TRUE(
        WritePrivateProfileString(section, key, value.c_str(), ini_file));
  }
  const std::string &path() const { return dir_.path(); }
  std::string operator/(const std::string &name) const { return dir_ / name; }

private:
  TempDir dir_;
};

// The program, as the copy that holds the SIP core, once it has made it.
std::unique_ptr<Child> StartCoreOwner(const Data &data) {
  const std::string trace = data / "trace1";
  auto owner = std::make_unique<Child>(
      std::vector<std::string>{VESTIBELL},
      std::vector<std::string>{
          "ALLUSERSPROFILE=" + data.path(), "XDG_RUNTIME_DIR=" + data.path(),
          "QT_QPA_PLATFORM=offscreen", "VESTIBELL_TRACE=" + trace});
  const bool up = PumpUntil(
      [&] {
        return ("\n" + ReadFile(trace)).find("\ncore-up ") != std::string::npos;
      },
      20s);
  EXPECT_TRUE(up) << "the program made no SIP core";
  return owner;
}

void CloseProgram(std::unique_ptr<Child> &program) {
  kill(program->pid(), SIGTERM);
  EXPECT_TRUE(program->Wait(20s).has_value());
  program.reset();
}

// This process's window as the program opens it, as copy `instance`, its
// reader started by its timer.
void OpenWindow(int instance) {
  ASSERT_TRUE(Initialize());
  SetInitialDisplayState();
  MESSAGE = RegisterWindowMessage(kAppTitle);
  PocSpusteni = instance;
  ASSERT_EQ(InitApp(), 1);
  InitSkin(g_hwndMain, Skin);
  SkinBitmapPos(Skin, ShowData.ClientHeight, ShowData.ClientWidth);
  ShowMyWindow(g_hwndMain, ShowData);
  ASSERT_EQ(AddNotifyIcon(), 1);
  ASSERT_TRUE(JoinMessageSpace(g_hwndMain, kAppTitle));
  PumpFor(300ms);
}

void CloseWindow() {
  KillTimer(g_hwndMain, kReaderTimerId);
  ShowData.Kill_TCP = 1;
  EndReaderThread(MJPEG_Thread);
  LeaveMessageSpace();
}

LRESULT Message(UINT message, WPARAM wParam, LPARAM lParam) {
  return WindowProcMain(g_hwndMain, message, wParam, lParam);
}

// A press and release of the call key, the pointer then on the picture.
void PressCallKey() {
  Message(WM_MOUSEMOVE, 0, MAKELPARAM(137, 282));
  Message(WM_LBUTTONDOWN, 1, MAKELPARAM(137, 282));
  Message(WM_LBUTTONUP, 0, MAKELPARAM(137, 282));
  Message(WM_MOUSEMOVE, 0, MAKELPARAM(150, 150));
}

std::string Title() {
  char t[64];
  ShowData.title.CopyTo(t, sizeof t);
  return t;
}
std::string TopEdge() {
  char t[96];
  TitleLineText(ShowData, t, sizeof t);
  return t;
}
std::string Why() {
  char t[128];
  ShowData.why.CopyTo(t, sizeof t);
  return t;
}

// The screen as the user sees it, into the folder the script names.
void Shot(const std::string &name) {
  const char *screens = std::getenv("SCREENS");
  if (screens == nullptr)
    return;
  PumpFor(300ms);
  const std::string command = "import -window root '" + std::string(screens) +
                              "/" + name + ".png' 2>/dev/null";
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
}

// How many of the window's pixels in the rectangle are the yellow of the
// "Connecting" lines.
int YellowIn(int left, int top, int right, int bottom) {
  const SurfaceCopy s = CopySurface(g_hwndMain);
  int n = 0;
  for (int y = top; y < bottom && y < s.height; ++y)
    for (int x = left; x < right && x < s.width; ++x) {
      const std::uint32_t p = s.at(x, y);
      n += (p >> 16 & 0xFF) > 200 && (p >> 8 & 0xFF) > 200 && (p & 0xFF) < 100;
    }
  return n;
}
// The reason's line, under "Connecting, please wait...".
int ReasonLineInk() { return YellowIn(20, 47, 320, 62); }

// A UDP port held the way another SIP program would hold it.
class HeldPort {
public:
  HeldPort() : port_(FreeUdpPort()) {
    fd_ = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(static_cast<in_port_t>(port_));
    bind(fd_, reinterpret_cast<sockaddr *>(&at), sizeof at);
  }
  ~HeldPort() { close(fd_); }
  int port() const { return port_; }

private:
  int port_;
  int fd_ = -1;
};

// A web server that takes each connection and closes it without a word.
class Closer {
public:
  Closer() {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd_, reinterpret_cast<sockaddr *>(&at), sizeof at);
    socklen_t length = sizeof at;
    getsockname(fd_, reinterpret_cast<sockaddr *>(&at), &length);
    port_ = ntohs(at.sin_port);
    listen(fd_, 8);
    thread_ = std::thread([this] {
      while (!stop_) {
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, 50) == 1)
          close(accept(fd_, nullptr, nullptr));
      }
    });
  }
  ~Closer() {
    stop_ = true;
    thread_.join();
    close(fd_);
  }
  std::string address() const { return "127.0.0.1:" + std::to_string(port_); }

private:
  int fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// Until the simulator prints a line holding `text`, the window's messages
// handled meanwhile (a copy that sends to this one is not kept waiting).
bool SimSays(DoorSim &sim, const std::string &text) {
  return PumpUntil([&] {
    const auto line = sim.NextLine(10ms);
    return line && line->find(text) != std::string::npos;
  });
}

// Part of the SIP side's start: the simulator's SIP address line.
bool SipLine(DoorSim &sim) {
  const auto line = sim.NextLine();
  return line && line->rfind("sip 127.0.0.1:5060", 0) == 0;
}

} // namespace

// The call key in a copy without the SIP core: the top edge says the door
// unit is being called, counts the call once it is answered, and for ten
// seconds says why a call failed or could not be placed at all.
TEST(Told, ACallPlacedFromThisWindowSaysHowItGoes) {
  Data data;
  DoorSim sim({"--title", "Front door", "--sip", "127.0.0.1:5060"});
  ASSERT_TRUE(SipLine(sim)) << "port 5060 taken? (run through xvfb_told.sh)";
  const int corePort = FreeUdpPort();
  data.Set("Window 0", "IP_addr", sim.address());
  data.Set("Window 0", "Left", "40");
  data.Set("Window 0", "Top", "40");
  data.Set("SIP", "UseSIP", "0");
  data.Set("SIP", "SIP_port", std::to_string(corePort));
  data.Set("SIP", "SIP_bind_addr", "127.0.0.1");
  auto owner = StartCoreOwner(data);
  OpenWindow(2);
  ASSERT_TRUE(PumpUntil([] { return Title() == "Front door"; }, 10s));

  sim.Command("sip-answer accept 1500");
  PressCallKey();
  EXPECT_EQ(TopEdge(), "Calling Front door...") << "said at once";
  EXPECT_EQ(ShowData.lin_call, 1) << "the hang-up key while it rings";
  Shot("calling");
  EXPECT_TRUE(
      PumpUntil([] { return TopEdge() == "In call 0:00 \xB7 Front door"; }, 5s))
      << TopEdge();
  EXPECT_TRUE(
      PumpUntil([] { return TopEdge() == "In call 0:01 \xB7 Front door"; }, 3s))
      << TopEdge();
  Shot("in_call");
  sim.Command("hangup");
  EXPECT_TRUE(PumpUntil(
      [] { return TopEdge() == "Front door" && ShowData.lin_call == 0; }, 5s))
      << TopEdge();

  // What the door unit answers, in a phone's words; the last one stands
  // for ten seconds.
  for (const auto &[code, words] :
       {std::pair{"486", "Busy"}, std::pair{"404", "Not found"},
        std::pair{"480", "No answer"}, std::pair{"603", "Declined"}}) {
    sim.Command(std::string("sip-answer decline ") + code);
    PressCallKey();
    EXPECT_TRUE(PumpUntil([&] { return TopEdge() == words; }, 5s))
        << code << ": " << TopEdge();
    EXPECT_TRUE(PumpUntil([] { return ShowData.lin_call == 0; }, 5s));
    EXPECT_EQ(TopEdge(), words) << "the call's end leaves the words";
  }
  const auto failed = std::chrono::steady_clock::now();
  EXPECT_TRUE(PumpUntil([] { return TopEdge() == "Front door"; }, 12s));
  EXPECT_GE(std::chrono::steady_clock::now() - failed, 9s);

  // Calls that cannot be placed say why at once and reach nobody.
  const long incoming = sim.Status("sip_incoming");
  sim.Command("ring-sip sip:x@127.0.0.1:" + std::to_string(corePort));
  ASSERT_TRUE(SimSays(sim, "LinphoneCallOutgoingRinging"));
  PressCallKey();
  EXPECT_EQ(TopEdge(), "Another call is on");
  sim.Command("hangup");
  ASSERT_TRUE(SimSays(sim, "LinphoneCallReleased"));
  UseSIP = 1;
  SIP_id_doorphone[0] = '\0';
  PressCallKey();
  EXPECT_EQ(TopEdge(), "Temp. identity is empty");
  std::snprintf(SIP_id_doorphone, sizeof SIP_id_doorphone, "door");
  PressCallKey();
  EXPECT_EQ(TopEdge(), "Not registered") << "the core owner has no account";
  UseSIP = 0;
  // No copy holds a core: this one, told to take it over, finds the port
  // of its settings held by another program.
  std::optional<HeldPort> held(std::in_place);
  data.Set("SIP", "SIP_port", std::to_string(held->port()));
  CloseProgram(owner);
  PumpFor(500ms);
  ASSERT_EQ(the_core.load(), nullptr);
  PressCallKey();
  EXPECT_EQ(TopEdge(),
            "SIP port " + std::to_string(held->port()) + " is taken");
  EXPECT_EQ(sim.Status("sip_incoming"), incoming);

  // The port free again, this copy holds the core itself: its own call's
  // failure stands beside the "Error" box, and a host where nothing answers
  // SIP is said to be out of reach once the request times out.
  held.reset();
  Message(MESSAGE, MSG_START_CORE, 0);
  ASSERT_NE(the_core.load(), nullptr);
  sim.Command("sip-answer decline 486");
  PressCallKey();
  EXPECT_TRUE(PumpUntil([] { return TopEdge() == "Busy"; }, 5s)) << TopEdge();
  QMessageBox *box = nullptr;
  EXPECT_TRUE(PumpUntil(
      [&] {
        for (QWidget *w : QApplication::topLevelWidgets())
          if (auto *b = qobject_cast<QMessageBox *>(w); b && b->isVisible())
            box = b;
        return box != nullptr;
      },
      5s));
  if (box != nullptr) {
    EXPECT_EQ(box->windowTitle(), "Error");
    EXPECT_EQ(TopEdge(), "Busy") << "the box waits for nobody";
    Shot("failed");
    box->done(0);
  }
  IP_addr.Set("127.0.0.2");
  PressCallKey();
  EXPECT_EQ(TopEdge(), "Calling Front door...");
  EXPECT_TRUE(PumpUntil([] { return TopEdge() == "No SIP connection"; }, 40s))
      << TopEdge();
  EXPECT_TRUE(TeardownCore());
  CloseWindow();
}

// While the door unit cannot be reached, the line under "Connecting,
// please wait..." and the tray tip say why, anew at each retry; once it is
// reached they go.
TEST(Told, WhyTheDoorUnitCannotBeReached) {
  Data data;
  data.Set("Window 0", "IP_addr", "127.0.0.1:9");
  data.Set("Window 0", "Left", "40");
  data.Set("Window 0", "Top", "40");
  OpenWindow(1);
  DoorSim sim({"--title", "Front door"});
  Closer closer;
  const std::string refused =
      "127.0.0.1:" + std::to_string(FreePort(SOCK_STREAM));
  const std::string door = sim.address();
  struct Row {
    std::string address, command, why;
  };
  std::vector<Row> rows = {
      {refused, "", refused + ": connection refused"},
      {closer.address(), "", closer.address() + ": no answer"},
      {"127.0.0.1/video", "",
       "127.0.0.1/video: address refused: use host or host:port"},
      {door, "error 503", door + ": HTTP 503"},
      {door, "error 404", door + ": HTTP 404 (not a door unit's stream?)"},
  };
  if (std::getenv("VESTIBELL_LOOPBACK_RESOLVER") != nullptr)
    rows.push_back({"door.invalid", "", "door.invalid: name not found"});
  else
    std::fprintf(stderr, "no loopback name server: the lookup is not tried\n");
  for (const Row &row : rows) {
    SCOPED_TRACE(row.address);
    if (!row.command.empty())
      sim.Command(row.command);
    IP_addr.Set(row.address.c_str());
    RequestReconnect();
    EXPECT_TRUE(PumpUntil(
        [&] {
          return Why() == row.why && TrayTip(g_hwndMain, 1) == row.why &&
                 ReasonLineInk() > 20;
        },
        10s))
        << Why() << " / " << TrayTip(g_hwndMain, 1) << " / " << ReasonLineInk();
    if (row.command == "error 404")
      Shot("not_connected");
  }

  // Reached: the line and the tip go, the title takes the tip.
  sim.Command("error off");
  IP_addr.Set(door.c_str());
  RequestReconnect();
  EXPECT_TRUE(PumpUntil(
      [] {
        return Title() == "Front door" && Why().empty() &&
               TrayTip(g_hwndMain, 1) == "Front door";
      },
      10s))
      << Why();
  // Reached with nowhere to put its pictures: the window goes on saying
  // why none come, over the stream it reads.
  KillTimer(g_hwndMain, kReaderTimerId);
  ShowData.Kill_TCP = 1;
  EndReaderThread(MJPEG_Thread); // the run's end takes its frame file away
  std::filesystem::create_directories(std::string(NameJPEG) + "/occupied");
  SetTimer(g_hwndMain, kReaderTimerId, kReaderTimerMs);
  EXPECT_TRUE(PumpUntil(
      [] {
        return Why() == "settings folder cannot be written" &&
               TrayTip(g_hwndMain, 1) == Why() && ShowData.Kill_TCP == 0 &&
               ReasonLineInk() > 20;
      },
      10s))
      << Why();
  CloseWindow();
  std::filesystem::remove_all(NameJPEG);
}

// "Registration failed" in the settings dialog of a copy without the core
// says what the core owner's registrar answered, or why there is no core.
TEST(Told, TheSettingsDialogSaysWhyRegistrationFailed) {
  Data data;
  Kamailio registrar(KAMAILIO_CFG, "door", "secret");
  ASSERT_TRUE(registrar.up());
  const std::string silent = "127.0.0.1:" + std::to_string(FreeUdpPort());
  data.Set("Window 0", "IP_addr", "127.0.0.1:9");
  data.Set("SIP", "UseSIP", "1");
  data.Set("SIP", "SIP_addr", registrar.address());
  data.Set("SIP", "SIP_id", "door");
  data.Set("SIP", "SIP_pass", "wrong");
  data.Set("SIP", "SIP_reg_duration", "60");
  data.Set("SIP", "SIP_port", std::to_string(FreeUdpPort()));
  data.Set("SIP", "SIP_bind_addr", "127.0.0.1");
  auto owner = StartCoreOwner(data);
  OpenWindow(2);
  auto status = [](bool shot = false) {
    std::string text;
    RunSettings([&](QDialog *d) {
      text = Text(d, res::kSetStatus);
      const QWidget *line = Ctl(d, res::kSetStatus);
      EXPECT_LE(line->sizeHint().width(), line->width()) << text << ": cut";
      if (shot)
        Shot("registration");
      Key(d, Qt::Key_Escape);
    });
    return text;
  };

  const struct {
    std::string server, password, status;
  } rows[] = {
      {registrar.address(), "wrong",
       "Registration failed: wrong name or password (401/403)"},
      {silent, "secret", "Registration failed: no answer from " + silent},
      {registrar.address(), "secret", "Registration successful"},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.status);
    data.Set("SIP", "SIP_addr", row.server);
    data.Set("SIP", "SIP_pass", row.password);
    PostCode(HWND_BROADCAST, MSG_RELOAD_SIP_SETTINGS, OwnHandle());
    std::string shown;
    EXPECT_TRUE(PumpUntil(
        [&] {
          shown = status();
          return shown == row.status;
        },
        20s))
        << shown;
  }

  // No copy holds a core: this one, told to take it over, finds the port
  // held by another program.
  HeldPort held;
  data.Set("SIP", "SIP_port", std::to_string(held.port()));
  CloseProgram(owner);
  PumpFor(500ms);
  ASSERT_EQ(the_core.load(), nullptr);
  EXPECT_EQ(status(true), "Registration failed: SIP port " +
                              std::to_string(held.port()) +
                              " is taken by another program");
  CloseWindow();
}

// The pointer resting on a button shows what it does after the desktop's
// usual delay, and only there: not over the picture or the drag strip.
TEST(Told, TheButtonsSayWhatTheyDo) {
  Data data;
  data.Set("Window 0", "IP_addr", "127.0.0.1:9");
  data.Set("Window 0", "Left", "40");
  data.Set("Window 0", "Top", "40");
  OpenWindow(1);
  RECT rc{};
  ASSERT_TRUE(GetWindowRect(g_hwndMain, &rc));
  auto rest = [&](int x, int y) { QCursor::setPos(rc.left + x, rc.top + y); };
  auto tip = [](const std::string &text) {
    return PumpUntil([&] { return ToolTipShown() == text; }, 4s);
  };

  rest(276, 10);
  const auto rested = std::chrono::steady_clock::now();
  PumpFor(150ms);
  EXPECT_EQ(ToolTipShown(), "") << "not before the delay";
  EXPECT_TRUE(tip("Settings")) << ToolTipShown();
  EXPECT_GE(std::chrono::steady_clock::now() - rested, 300ms);
  rest(40, 10); // the drag strip, left of the corner
  EXPECT_TRUE(tip("")) << ToolTipShown();

  const struct {
    int x, y;
    const char *text;
  } keys[] = {{276, 10, "Settings"}, {298, 10, "Hide"},
              {318, 10, "Close"},    {207, 282, "Relay 2"},
              {280, 282, "Relay 1"}, {137, 282, "Call the door unit"}};
  for (const auto &key : keys) {
    rest(key.x, key.y);
    EXPECT_TRUE(tip(key.text)) << key.text << ": " << ToolTipShown();
  }
  // The call key becomes the hang-up key under the resting pointer.
  SetLinCall(true);
  EXPECT_TRUE(tip("Hang up")) << ToolTipShown();
  Shot("tooltip");
  SetLinCall(false);
  EXPECT_TRUE(tip("Call the door unit")) << ToolTipShown();
  rest(150, 150);
  EXPECT_TRUE(tip("")) << ToolTipShown();
  PumpFor(1500ms);
  EXPECT_EQ(ToolTipShown(), "") << "no tooltip over the picture";
  CloseWindow();
}
