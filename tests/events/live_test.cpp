// The main window against the door-unit simulator: the reader on its own
// thread, the window procedure on this one, real HTTP in between.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QImage>

#include <sys/stat.h>

#include <cstring>
#include <filesystem>

#include "commands/commands.h"
#include "events/window_proc.h"
#include "platform/gdi.h"
#include "platform/profile.h"
#include "platform/tray.h"
#include "platform/window.h"
#include "shell/main.h"
#include "skin/skin.h"
#include "support/doorsim.h"
#include "support/pump.h"
#include "support/temp_dir.h"
#include "video/video.h"

using namespace plat;
using namespace std::chrono_literals;

namespace {

TempDir *g_data = nullptr;

std::string Title() {
  char t[64];
  ShowData.title.CopyTo(t, sizeof t);
  return t;
}

// The video area's corner and size at the default client size.
constexpr int kVideoX = 8, kVideoY = 26, kVideoW = 320, kVideoH = 240;

class Live : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    g_data = new TempDir;
    setenv("ALLUSERSPROFILE", g_data->path().c_str(), 1);
    ASSERT_TRUE(Initialize());
    SetInitialDisplayState();
    PocSpusteni = 1;
    ASSERT_EQ(InitApp(), 1);
    KillTimer(g_hwndMain, kReaderTimerId);
    InitSkin(g_hwndMain, Skin);
    SkinBitmapPos(Skin, ShowData.ClientHeight, ShowData.ClientWidth);
    ShowMyWindow(g_hwndMain, ShowData);
    ASSERT_EQ(AddNotifyIcon(), 1);
  }

  static void TearDownTestSuite() {
    delete g_data;
    g_data = nullptr;
  }

  // A simulator, the reader connected to it, the window shown, pop-up off.
  void Connect(std::vector<std::string> options = {}) {
    options.insert(options.end(), {"--title", "Front door"});
    sim_ = std::make_unique<DoorSim>(options);
    ASSERT_NE(sim_->port(), 0);
    IP_addr.Set(sim_->address().c_str());
    ShowWindow(g_hwndMain, SW_SHOW);
    ShowData.Kill_TCP = 1;
    SetTimer(g_hwndMain, kReaderTimerId, kReaderTimerMs);
    ASSERT_TRUE(PumpUntil(
        [] { return ShowData.Kill_TCP == 0 && Title() == "Front door"; }, 5s))
        << "the reader did not connect";
  }

  void SetUp() override {
    PopUp = 0;
    show = 1;
    hide = 1;
    ShowData.call = 0;
  }

  void TearDown() override {
    KillTimer(g_hwndMain, kReaderTimerId);
    ShowData.Kill_TCP = 1;
    EndReaderThread(MJPEG_Thread);
    sim_.reset();
    PumpFor(20ms);
  }

  // Runs one window-procedure message as the window system would.
  static LRESULT Message(UINT message, WPARAM wParam, LPARAM lParam) {
    return WindowProcMain(g_hwndMain, message, wParam, lParam);
  }

  static bool Visible() { return IsWindowVisible(g_hwndMain); }

  std::unique_ptr<DoorSim> sim_;
};

TEST_F(Live, PopUpShowsTheWindowForARingAndHidesItAfter) {
  Connect();
  PopUp = 1;
  ShowWindow(g_hwndMain, SW_HIDE);
  ShowData.Button = BTN_RELAY1;
  sim_->Command("ring 1");
  ASSERT_TRUE(PumpUntil([] { return Visible() && ShowData.call == 1; }, 5s));
  sim_->Command("ring 2"); // still the same ring
  PumpFor(300ms);
  EXPECT_TRUE(Visible());
  sim_->Command("ring 0");
  ASSERT_TRUE(PumpUntil([] { return !Visible(); }, 5s));
  EXPECT_EQ(ShowData.call, 0);
  EXPECT_EQ(ShowData.Button, BTN_NONE);
}

TEST_F(Live, VisibleAtStartInPopUpModeTheFirstQuietPartHidesIt) {
  PopUp = 1;
  Connect();
  ASSERT_TRUE(PumpUntil([] { return !Visible(); }, 5s));
}

TEST_F(Live, WithoutPopUpARingOnlyLightsTheIndicator) {
  Connect();
  auto indicator = [] {
    const SurfaceCopy s = CopySurface(g_hwndMain);
    const t_Skin &bl = Skin[SKIN_BL_OFF];
    std::vector<std::uint32_t> area;
    for (int y = bl.PosX; y < bl.PosX + bl.Height; ++y)
      for (int x = bl.PosY; x < bl.PosY + bl.Width; ++x)
        area.push_back(s.at(x, y));
    return area;
  };
  PumpFor(200ms);
  const auto off = indicator();
  sim_->Command("ring 1");
  ASSERT_TRUE(PumpUntil([] { return ShowData.call == 1; }, 5s));
  PumpFor(100ms);
  const auto on = indicator();
  EXPECT_NE(on, off) << "the indicator is lit while it rings";
  sim_->Command("ring 0");
  ASSERT_TRUE(PumpUntil([] { return ShowData.call == 0; }, 5s));
  PumpFor(100ms);
  EXPECT_EQ(indicator(), off);
  EXPECT_TRUE(Visible());

  // Hidden, nothing is shown for a ring.
  ShowWindow(g_hwndMain, SW_HIDE);
  sim_->Command("ring 1");
  ASSERT_TRUE(PumpUntil([] { return ShowData.call == 1; }, 5s));
  PumpFor(300ms);
  EXPECT_FALSE(Visible());
}

TEST_F(Live, HiddenDuringARingItStaysHiddenUntilTheNextRing) {
  Connect();
  PopUp = 1;
  sim_->Command("ring 1");
  ASSERT_TRUE(PumpUntil([] { return Visible() && ShowData.call == 1; }, 5s));
  // The reader sets the flag before it repaints (and so shows) the window
  // with the indicator; the hide comes after that, as a user's would.
  PumpFor(200ms);
  MyLButtonUp(BTN_HIDE);
  EXPECT_FALSE(Visible());
  EXPECT_EQ(show, 0);
  PumpFor(500ms); // more ringing parts
  EXPECT_FALSE(Visible());
  sim_->Command("ring 0");
  ASSERT_TRUE(PumpUntil([] { return show == 1 && ShowData.call == 0; }, 5s));
  sim_->Command("ring 1");
  ASSERT_TRUE(PumpUntil([] { return Visible(); }, 5s)) << "the next ring";
}

TEST_F(Live, TrayClicksToggleTheWindowAndKeepThePopUpRules) {
  // Pure window-procedure rules; no door unit needed.
  PopUp = 1;
  ShowWindow(g_hwndMain, SW_SHOW);
  ShowData.call = 1;
  Message(WM_TRAYICON, 1, WM_RBUTTONDOWN);
  Message(WM_TRAYICON, 1, WM_MOUSEMOVE);
  Message(WM_TRAYICON, 1, WM_LBUTTONDBLCLK);
  EXPECT_TRUE(Visible()) << "only a left press toggles";
  ShowData.Button = BTN_CLOSE;
  Message(WM_TRAYICON, 1, WM_LBUTTONDOWN);
  EXPECT_FALSE(Visible());
  EXPECT_EQ(show, 0) << "hidden during a ring: no pop-up for this ring";
  EXPECT_EQ(ShowData.Button, BTN_NONE);
  Message(WM_TRAYICON, 1, WM_LBUTTONDOWN);
  EXPECT_TRUE(Visible());
  EXPECT_EQ(hide, 1) << "opened during a ring: hides when it ends";
  ShowData.call = 0;
  Message(WM_TRAYICON, 1, WM_LBUTTONDOWN);
  EXPECT_EQ(show, 1);
  Message(WM_TRAYICON, 1, WM_LBUTTONDOWN);
  EXPECT_EQ(hide, 0) << "opened outside a ring: it stays";
}

TEST_F(Live, BroughtBackByTheDesktopItKeepsThePopUpRulesOfATrayShow) {
  PopUp = 1;
  for (int call : {1, 0}) {
    ShowData.call = call;
    hide = 1 - call;
    ShowData.Button = BTN_HIDE;
    Message(WM_SHOWWINDOW, 1, 0);
    EXPECT_EQ(hide, call) << "call " << call;
    EXPECT_EQ(ShowData.Button, BTN_NONE) << "call " << call;
  }
}

TEST_F(Live, TitlesReachTheWindowTextAndTheTrayTip) {
  Connect();
  // The reader passes the title on after it has taken it in.
  EXPECT_TRUE(PumpUntil(
      [] {
        return GetWindowText(g_hwndMain) == "Front door" &&
               TrayTip(g_hwndMain, 1) == "Front door";
      },
      5s))
      << GetWindowText(g_hwndMain) << " / " << TrayTip(g_hwndMain, 1);
  const std::string long63(63, 'T');
  sim_->Command("title " + long63);
  ASSERT_TRUE(PumpUntil([&] { return Title() == long63; }, 5s));
  PumpFor(100ms);
  EXPECT_EQ(GetWindowText(g_hwndMain), long63);
  EXPECT_EQ(TrayTip(g_hwndMain, 1), long63);
  sim_->Command("longtitle 100");
  PumpFor(500ms);
  EXPECT_EQ(TrayTip(g_hwndMain, 1).size(), 63u) << "cut, never overrun";
  sim_->Command("title ");
  ASSERT_TRUE(PumpUntil([] { return Title().empty(); }, 5s));
  PumpFor(100ms);
  EXPECT_EQ(GetWindowText(g_hwndMain), "");
  EXPECT_EQ(TrayTip(g_hwndMain, 1), "");
}

TEST_F(Live, ADropShowsNotConnectedAndTheNextTickReconnects) {
  Connect();
  PopUp = 1;
  sim_->Command("ring 1");
  ASSERT_TRUE(PumpUntil([] { return ShowData.call == 1 && Visible(); }, 5s));
  const auto dropped = std::chrono::steady_clock::now();
  sim_->Command("drop");
  // The run's end: not connected, no ring, the program's own name back.
  ASSERT_TRUE(PumpUntil(
      [] {
        return ShowData.Kill_TCP == 1 && ShowData.call == 0 &&
               GetWindowText(g_hwndMain) == "Vestibell_1.39";
      },
      5s));
  EXPECT_EQ(TrayTip(g_hwndMain, 1), "Vestibell_1.39");
  EXPECT_TRUE(Visible()) << "a drop never hides the window";
  EXPECT_FALSE(std::filesystem::exists(NameJPEG));
  // The run ended: the timer brings the next one a second later.
  ASSERT_TRUE(PumpUntil([] { return ShowData.Kill_TCP == 0; }, 5s));
  EXPECT_TRUE(PumpUntil([&] { return sim_->Status("connections") >= 2; }, 5s));
  EXPECT_LT(std::chrono::steady_clock::now() - dropped, 2500ms);
}

TEST_F(Live, ADoorUnitThatIsDownIsRetriedEverySecond) {
  Connect();
  const int port = sim_->port();
  sim_->Kill();
  ASSERT_TRUE(PumpUntil([] { return ShowData.Kill_TCP == 1; }, 5s));
  PumpFor(2500ms); // two or three failed runs
  EXPECT_EQ(ShowData.Kill_TCP, 1);
  // The door unit comes back on the same address.
  sim_ = std::make_unique<DoorSim>(std::vector<std::string>{}, port);
  ASSERT_EQ(sim_->port(), port);
  const auto back = std::chrono::steady_clock::now();
  ASSERT_TRUE(PumpUntil([] { return Title() == "Vestibell door"; }, 5s))
      << "the picture flows again";
  EXPECT_LT(std::chrono::steady_clock::now() - back, 2000ms);
}

TEST_F(Live, AStalledStreamDoesNotHoldARestartUp) {
  Connect();
  sim_->Command("stall 60");
  PumpFor(300ms);
  // What the settings dialog does when the address changes.
  const auto asked = std::chrono::steady_clock::now();
  ShowData.Kill_TCP = 1;
  SetTimer(g_hwndMain, kReaderTimerId, kReaderTimerMs);
  ASSERT_TRUE(PumpUntil([] { return ShowData.Kill_TCP == 0; }, 5s));
  EXPECT_LT(std::chrono::steady_clock::now() - asked, 2500ms);
}

TEST_F(Live, EveryHundredAndSecondFrameRenewsTheRequestAfterAPause) {
  PocetSnimku = 0;
  Connect({"--fps", "100", "--size", "64x48"});
  EXPECT_EQ(sim_->Status("connections"), 1);
  // The 102nd completed frame renews: count back to 0, a new connection
  // after a second's pause.
  ASSERT_TRUE(PumpUntil([] { return PocetSnimku == 101; }, 10s));
  ASSERT_TRUE(PumpUntil([] { return PocetSnimku == 0; }, 5s));
  const auto renewed = std::chrono::steady_clock::now();
  ASSERT_TRUE(PumpUntil([&] { return PocetSnimku > 0; }, 5s));
  EXPECT_GE(std::chrono::steady_clock::now() - renewed, 900ms);
  EXPECT_EQ(sim_->Status("connections"), 2);
  EXPECT_EQ(ShowData.Kill_TCP, 0) << "the same run goes on";
  ASSERT_TRUE(PumpUntil([] { return PocetSnimku == 101; }, 10s));
  ASSERT_TRUE(PumpUntil([] { return PocetSnimku == 0; }, 5s));
  ASSERT_TRUE(PumpUntil([&] { return PocetSnimku > 0; }, 5s));
  EXPECT_EQ(sim_->Status("connections"), 3);
}

// A picture of four coloured quarters, as the door unit would send it.
std::string QuartersJpeg(const std::string &folder) {
  QImage picture(640, 480, QImage::Format_RGB32);
  picture.fill(Qt::black);
  for (int y = 0; y < 480; ++y)
    for (int x = 0; x < 640; ++x)
      picture.setPixel(x, y,
                       y < 240 ? (x < 320 ? 0xFF0000 : 0x00FF00)
                               : (x < 320 ? 0x0000FF : 0xFFFFFF));
  std::filesystem::create_directories(folder);
  picture.save(QString::fromStdString(folder + "/frame.jpg"), "JPEG", 95);
  return folder;
}

bool Near(std::uint32_t pixel, std::uint32_t want) {
  for (int shift : {0, 8, 16}) {
    const int a = (pixel >> shift) & 0xFF, b = (want >> shift) & 0xFF;
    if (std::abs(a - b) > 24)
      return false;
  }
  return true;
}

TEST_F(Live, FramesFillTheVideoAreaAndOnlyAVisibleWindowDrawsThem) {
  TempDir frames;
  Connect({"--frames", QuartersJpeg(frames.path())});
  PumpFor(500ms);
  SurfaceCopy s = CopySurface(g_hwndMain);
  // Halved into 320 x 240 at (8, 26): each quarter is 160 x 120.
  EXPECT_TRUE(Near(s.at(kVideoX + 80, kVideoY + 60), 0xFF0000));
  EXPECT_TRUE(Near(s.at(kVideoX + 240, kVideoY + 60), 0x00FF00));
  EXPECT_TRUE(Near(s.at(kVideoX + 80, kVideoY + 180), 0x0000FF));
  EXPECT_TRUE(Near(s.at(kVideoX + 240, kVideoY + 180), 0xFFFFFF));
  EXPECT_TRUE(Near(s.at(kVideoX + 2, kVideoY + 2), 0xFF0000));
  EXPECT_TRUE(
      Near(s.at(kVideoX + kVideoW - 3, kVideoY + kVideoH - 3), 0xFFFFFF));
  // Outside the area the frame is untouched.
  EXPECT_FALSE(Near(s.at(kVideoX - 1, kVideoY + 60), 0xFF0000));
  EXPECT_FALSE(Near(s.at(kVideoX + 80, kVideoY + kVideoH + 1), 0x0000FF));

  // Hidden: frames are still parsed, never drawn.
  ShowWindow(g_hwndMain, SW_HIDE);
  PumpFor(200ms);
  HDC dc = GetDC(g_hwndMain);
  FillRect(dc, {kVideoX, kVideoY, kVideoX + kVideoW, kVideoY + kVideoH},
           RGB(1, 2, 3));
  ReleaseDC(g_hwndMain, dc);
  const int before = PocetSnimku;
  ASSERT_TRUE(PumpUntil([&] { return PocetSnimku != before; }, 5s));
  PumpFor(300ms);
  s = CopySurface(g_hwndMain);
  EXPECT_EQ(s.at(kVideoX + 80, kVideoY + 60), 0x010203u);
}

TEST_F(Live, ARelayClickIsExactlyOneRequestForThatRelay) {
  Connect();
  MyLButtonUp(BTN_RELAY1);
  ASSERT_TRUE(sim_->WaitForLine("relay1"));
  PumpFor(300ms);
  EXPECT_EQ(sim_->Status("relay1"), 1);
  EXPECT_EQ(sim_->Status("relay2"), 0);
  EXPECT_EQ(ShowData.Kill_TCP, 0) << "the video goes on";
  MyLButtonUp(BTN_RELAY2);
  MyLButtonUp(BTN_RELAY2);
  ASSERT_TRUE(PumpUntil([&] { return sim_->Status("relay2") == 2; }, 5s));
  EXPECT_EQ(sim_->Status("relay1"), 1);
}

TEST_F(Live, AnUnreachableDoorUnitMakesTheVideoReconnect) {
  Connect();
  auto other = std::make_unique<DoorSim>(std::vector<std::string>{});
  const std::string reachable = sim_->address();
  // The relay goes to an address where nobody answers.
  const std::string gone = other->address();
  other->Kill();
  IP_addr.Set(gone.c_str());
  StartRelayThread(1);
  ASSERT_TRUE(PumpUntil([] { return ShowData.Kill_TCP == 1; }, 5s));
  IP_addr.Set(reachable.c_str());
  ASSERT_TRUE(PumpUntil([] { return ShowData.Kill_TCP == 0; }, 5s))
      << "the reader reconnects on the next tick";
  EXPECT_TRUE(PumpUntil([&] { return sim_->Status("connections") >= 2; }, 5s));
}

} // namespace
