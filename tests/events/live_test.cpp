// The main window against the door-unit simulator: the reader on its own
// thread, the window procedure on this one, real HTTP in between.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>

#include <QApplication>
#include <QBuffer>
#include <QImage>
#include <QMessageBox>
#include <QTimer>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QWindow>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "commands/commands.h"
#include "events/window_proc.h"
#include "instance/identity.h"
#include "instance/settings.h"
#include "instance/tray.h"
#include "platform/gdi.h"
#include "platform/profile.h"
#include "platform/test_hooks.h"
#include "platform/tray.h"
#include "platform/window.h"
#include "shell/main.h"
#include "skin/skin.h"
#include "support/doorsim.h"
#include "support/pump.h"
#include "support/standard_error.h"
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

// The settings folder may be shared, and the door unit decides the frame
// file's bytes: whatever was planted under its name is replaced by a file
// of our own, never written through or emptied.
TEST_F(Live, APlantedFrameFileIsReplacedNeverWrittenThrough) {
  constexpr uid_t kOther = 65534; // "someone else", as root can make it
  TempDir frames;
  QuartersJpeg(frames.path());
  const std::string doc = *g_data / "thesis.txt";
  const std::string nowhere = *g_data / "made-through-a-link";
  const std::string docText = "my own words\n";
  struct Case {
    const char *what;
    int (*plant)(const char *from, const char *at);
    const std::string &from;
  } cases[] = {
      {"a link to a document", symlink, doc},
      {"a link to where nothing is yet", symlink, nowhere},
      {"a hard link to someone else's file", link, doc},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove(nowhere);
    WriteFile(doc, docText);
    ASSERT_EQ(chmod(doc.c_str(), 0644), 0);
    ASSERT_EQ(chown(doc.c_str(), kOther, kOther), 0);
    ASSERT_EQ(c.plant(c.from.c_str(), NameJPEG), 0);

    Connect({"--frames", frames.path()});
    HDC dc = GetDC(g_hwndMain);
    FillRect(dc, {kVideoX, kVideoY, kVideoX + kVideoW, kVideoY + kVideoH},
             RGB(1, 2, 3));
    ReleaseDC(g_hwndMain, dc);
    EXPECT_TRUE(PumpUntil(
        [] {
          return Near(CopySurface(g_hwndMain).at(kVideoX + 80, kVideoY + 60),
                      0xFF0000);
        },
        5s))
        << "the pictures are still drawn";
    struct stat st {};
    ASSERT_EQ(lstat(NameJPEG, &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_uid, geteuid());
    EXPECT_EQ(st.st_nlink, 1u);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    TearDown(); // the run ends and removes its frame file

    EXPECT_FALSE(std::filesystem::exists(NameJPEG));
    EXPECT_TRUE(ReadFile(doc) == docText) << "the document was written over";
    ASSERT_EQ(stat(doc.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    EXPECT_FALSE(std::filesystem::exists(nowhere));
  }
}

// Message boxes that open while it lives: recorded and closed at once, as
// a user would close them.
struct BoxWatcher {
  struct Box {
    std::string caption, text;
    bool parented;
  };
  std::vector<Box> seen;
  QTimer timer;
  BoxWatcher() {
    QObject::connect(&timer, &QTimer::timeout, [this] {
      for (QWidget *w : QApplication::topLevelWidgets()) {
        auto *box = qobject_cast<QMessageBox *>(w);
        if (box == nullptr || !box->isVisible())
          continue;
        seen.push_back({box->windowTitle().toStdString(),
                        box->text().toStdString(),
                        box->parentWidget() != nullptr});
        box->done(0);
      }
    });
    timer.start(10);
  }
};

TEST_F(Live, AFolderThatTakesNoFrameFileIsToldOnceAndTheReaderGoesOn) {
  // Root may create files in a read-only folder, so that would not do. A
  // folder standing under the frame file's name stops its creation for
  // anyone: it can be neither opened for writing nor unlinked.
  std::filesystem::create_directories(std::string(NameJPEG) + "/occupied");
  BoxWatcher boxes;
  Connect(); // the title still flows, so the run is under way
  PumpFor(300ms);
  // The next run meets the same folder: the user is not told again.
  ShowData.Kill_TCP = 1;
  ASSERT_TRUE(PumpUntil(
      [&] {
        return ShowData.Kill_TCP == 0 && sim_->Status("connections") >= 2;
      },
      5s));
  PumpFor(300ms);
  std::filesystem::remove_all(NameJPEG);
  ASSERT_EQ(boxes.seen.size(), 1u);
  EXPECT_EQ(boxes.seen[0].caption, "Error");
  const std::string folder = *g_data / "Vestibell";
  EXPECT_NE(boxes.seen[0].text.find(folder), std::string::npos)
      << boxes.seen[0].text;
  EXPECT_TRUE(boxes.seen[0].parented) << "over the main window";
}

// A settings folder that takes the frame file but not what goes into it (a
// full disk, here a file size limit): the user is told once why no picture
// comes.
TEST_F(Live, AFrameFileThatTakesNoPicturesIsToldOnce) {
  std::signal(SIGXFSZ, SIG_IGN); // the write fails instead
  rlimit full{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &full), 0);
  const rlimit before = full;
  full.rlim_cur = 512;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &full), 0);
  BoxWatcher boxes;
  Connect();
  PumpUntil([&] { return !boxes.seen.empty(); }, 3s);
  PumpFor(500ms);
  setrlimit(RLIMIT_FSIZE, &before);
  ASSERT_EQ(boxes.seen.size(), 1u);
  EXPECT_NE(boxes.seen[0].text.find("cannot write"), std::string::npos)
      << boxes.seen[0].text;
  EXPECT_NE(boxes.seen[0].text.find(*g_data / "Vestibell"), std::string::npos);
}

// Markup, control bytes and Qt's "[*]" in a title are shown as characters,
// never acted on: no image is loaded into the tray tip, no escape sequence
// or line break reaches the window text.
TEST_F(Live, TitlesShowAsPlainTextEverywhere) {
  Connect();
  const std::string sent =
      "<img src=/etc/hostname>\x01\x1b[31m\t\x7f\x85\x9f[*]";
  const std::string shown = "<img src=/etc/hostname>??[31m????[*]";
  sim_->Command("title " + sent);
  ASSERT_TRUE(PumpUntil([&] { return Title() == shown; }, 5s)) << Title();
  EXPECT_TRUE(PumpUntil(
      [&] {
        return GetWindowText(g_hwndMain) == shown &&
               TrayTip(g_hwndMain, 1) == shown &&
               TrayTipShown(g_hwndMain, 1) == shown;
      },
      5s))
      << GetWindowText(g_hwndMain) << " / " << TrayTip(g_hwndMain, 1) << " / "
      << TrayTipShown(g_hwndMain, 1);
  QWindow *window = WidgetOf(g_hwndMain)->windowHandle();
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(window->title().toStdString(), shown);
  // An ordinary title is handed over as it is.
  sim_->Command("title Caf\xe9 & <b");
  const std::string cafe = QString::fromLatin1("Caf\xe9 & <b").toStdString();
  EXPECT_TRUE(
      PumpUntil([&] { return TrayTipShown(g_hwndMain, 1) == cafe; }, 5s))
      << TrayTipShown(g_hwndMain, 1);
}

int Count(const std::string &text, const std::string &part) {
  int count = 0;
  for (auto at = text.find(part); at != std::string::npos;
       at = text.find(part, at + 1))
    ++count;
  return count;
}

// IP_addr goes into URLs: anything beyond host[:port] would add a path, a
// query, credentials or a fragment. Such a value makes no request at all,
// for the video or a relay, and is reported once.
TEST_F(Live, AnAddressThatIsNotHostAndPortMakesNoRequest) {
  sim_ = std::make_unique<DoorSim>(std::vector<std::string>{});
  ASSERT_NE(sim_->port(), 0);
  const std::string relayed =
      sim_->address() + "/cgi-bin/remctrl.sh?id=relay1&";
  const std::string credentials = "user:pw@" + sim_->address();
  ShowWindow(g_hwndMain, SW_SHOW);
  const std::string said = StandardError([&] {
    IP_addr.Set(relayed.c_str());
    ShowData.Kill_TCP = 1;
    SetTimer(g_hwndMain, kReaderTimerId, kReaderTimerMs);
    PumpFor(2500ms); // the reader tries two or three times
    MyLButtonUp(BTN_RELAY1);
    MyLButtonUp(BTN_RELAY2);
    PumpFor(300ms);
    IP_addr.Set(credentials.c_str());
    PumpFor(1500ms);
    MyLButtonUp(BTN_RELAY1);
    PumpFor(300ms);
    EXPECT_TRUE(StopRelayThreads(2000));
  });
  EXPECT_EQ(ShowData.Kill_TCP, 1) << "not connected";
  EXPECT_EQ(sim_->Status("connections"), 0);
  EXPECT_EQ(sim_->Status("relay1"), 0);
  EXPECT_EQ(sim_->Status("relay2"), 0);
  EXPECT_EQ(Count(said, "is not host[:port]"), 2) << said;
  EXPECT_EQ(Count(said, "'" + relayed + "'"), 1) << said;
  EXPECT_EQ(Count(said, "'" + credentials + "'"), 1) << said;
}

// A picture of a few hundred bytes whose frame header declares 8192 x 8192.
std::string DeclaringHugeJpeg(const std::string &folder) {
  QImage picture(16, 16, QImage::Format_RGB32);
  picture.fill(0x405060);
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  picture.save(&buffer, "JPEG", 75);
  const auto sof = bytes.indexOf(QByteArray("\xFF\xC0", 2));
  EXPECT_GT(sof, 0);
  for (int i : {5, 7}) { // height, then width: 0x2000
    bytes[sof + i] = 0x20;
    bytes[sof + i + 1] = 0x00;
  }
  std::filesystem::create_directories(folder);
  std::ofstream(folder + "/huge.jpg", std::ios::binary)
      .write(bytes.data(), bytes.size());
  return folder;
}

// Such pictures are not decoded (nothing is drawn), and a stream of them
// costs so little that the reader stays with the door unit.
TEST_F(Live, PicturesDeclaringMoreThanTheirBytesHoldAreNotDrawn) {
  TempDir frames;
  PocetSnimku = 0;
  Connect({"--frames", DeclaringHugeJpeg(frames.path()), "--fps", "50"});
  HDC dc = GetDC(g_hwndMain);
  FillRect(dc, {kVideoX, kVideoY, kVideoX + kVideoW, kVideoY + kVideoH},
           RGB(1, 2, 3));
  ReleaseDC(g_hwndMain, dc);
  PumpFor(3s);
  const SurfaceCopy s = CopySurface(g_hwndMain);
  EXPECT_EQ(s.at(kVideoX + 80, kVideoY + 60), 0x010203u);
  EXPECT_EQ(s.at(kVideoX + 240, kVideoY + 180), 0x010203u);
  // A change at the door shows at once, not after a backlog of pictures
  // (the bound leaves room for the renewal's one-second pause).
  sim_->Command("title Changed");
  const auto asked = std::chrono::steady_clock::now();
  ASSERT_TRUE(PumpUntil([] { return Title() == "Changed"; }, 20s));
  EXPECT_LT(std::chrono::steady_clock::now() - asked, 2500ms);
}

} // namespace
