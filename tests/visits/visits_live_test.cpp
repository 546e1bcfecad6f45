// The record as the program keeps it: the main window on this thread, the
// reader on its own, the SIP core on its thread, the door-unit simulator on
// the other side, wired as start-up wires them; and two real copies of the
// program sharing one data folder.
#include <gtest/gtest.h>

#include <QApplication>
#include <QColor>
#include <QImage>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <functional>
#include <set>

#include "events/window_proc.h"
#include "instance/identity.h"
#include "instance/protocol.h"
#include "instance/settings.h"
#include "platform/message_space.h"
#include "platform/profile.h"
#include "platform/test_hooks.h"
#include "platform/window.h"
#include "shell/main.h"
#include "sip/sip_core.h"
#include "skin/skin.h"
#include "support/dialog_fields.h"
#include "support/doorsim.h"
#include "support/process.h"
#include "support/pump.h"
#include "support/standard_error.h"
#include "support/temp_dir.h"
#include "telephony/telephony.h"
#include "video/video.h"
#include "visits/visits.h"

using namespace plat;
using namespace std::chrono_literals;
using visits::t_Visit;
using visits::t_VisitStore;
using visits::VisitOutcome;

namespace {

TempDir *g_data = nullptr;

// The video area's centre at the default client size.
constexpr int kVideoX = 8 + 160, kVideoY = 26 + 120;
constexpr std::uint32_t kRed = 0xFF0000, kBlue = 0x0000FF, kGreen = 0x00FF00;

bool Near(std::uint32_t pixel, std::uint32_t want) {
  for (int shift : {0, 8, 16}) {
    const int a = (pixel >> shift) & 0xFF, b = (want >> shift) & 0xFF;
    if (std::abs(a - b) > 40)
      return false;
  }
  return true;
}

// The colour in the middle of a stored picture.
std::uint32_t Middle(const std::string &path) {
  const std::string bytes = ReadFile(path);
  QImage picture;
  if (!picture.loadFromData(reinterpret_cast<const uchar *>(bytes.data()),
                            static_cast<int>(bytes.size()), "JPEG"))
    return 0x123456;
  return picture.pixel(picture.width() / 2, picture.height() / 2) & 0xFFFFFF;
}

std::string Listed(const std::vector<t_Visit> &visits) {
  std::string text;
  for (const t_Visit &v : visits)
    text += v.started + " " + v.ended + " " + v.how + " " + v.caller + " " +
            (visits::OutcomeText(v.outcome) ? visits::OutcomeText(v.outcome)
                                            : "under way") +
            "\n";
  return text;
}

std::int64_t WallMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::atomic<int> g_counted{-1};
void Counted(int count) { g_counted = count; }

class VisitsLive : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    g_data = new TempDir;
    setenv("ALLUSERSPROFILE", g_data->path().c_str(), 1);
    // The answer of a call goes round the instances' message space, in a
    // space of this test's own.
    setenv("XDG_RUNTIME_DIR", g_data->path().c_str(), 1);
    ASSERT_TRUE(Initialize());
    SetInitialDisplayState();
    PocSpusteni = 1;
    MESSAGE = RegisterWindowMessage(kAppTitle);
    AccessIniFile();
    for (const auto &[key, value] :
         {std::pair{"SIP_port", "0"}, std::pair{"SIP_bind_addr", "127.0.0.1"}})
      ASSERT_TRUE(WritePrivateProfileString("SIP", key, value, ini_file));
    // Never the default door address.
    ASSERT_TRUE(WritePrivateProfileString("Window 0", "IP_addr", "127.0.0.1",
                                          ini_file));
    ASSERT_EQ(InitApp(), 1);
    KillTimer(g_hwndMain, kReaderTimerId);
    InitSkin(g_hwndMain, Skin);
    SkinBitmapPos(Skin, ShowData.ClientHeight, ShowData.ClientWidth);
    ASSERT_TRUE(JoinMessageSpace(g_hwndMain, kAppTitle));
    SetUnseenMissedHook(Counted);
  }

  static void TearDownTestSuite() {
    delete g_data;
    g_data = nullptr;
  }

  void TearDown() override {
    KillTimer(g_hwndMain, kReaderTimerId);
    ShowData.Kill_TCP = 1;
    EndReaderThread(MJPEG_Thread);
    TeardownCore();
    StopVisits();
    sim_.reset();
    PumpFor(20ms);
  }

  // The record wired as start-up wires it, once its worker has it open.
  static void StartTheRecord() {
    g_counted = -1;
    WireVisits();
    ASSERT_TRUE(PumpUntil([] { return g_counted >= 0; }, 10s));
  }

  // A simulator with a SIP side, the reader connected to it, the window
  // shown.
  void Connect(const std::string &colour) {
    sim_ = std::make_unique<DoorSim>(std::vector<std::string>{
        "--sip", "127.0.0.1:0", "--fps", "25", "--size", "64x48", "--title",
        "Front door", "--command", "colour " + colour});
    ASSERT_NE(sim_->port(), 0);
    const auto line = sim_->NextLine();
    ASSERT_TRUE(line && line->rfind("sip 127.0.0.1:", 0) == 0);
    IP_addr.Set(sim_->address().c_str());
    ShowWindow(g_hwndMain, SW_SHOW);
    ShowData.Kill_TCP = 1;
    SetTimer(g_hwndMain, kReaderTimerId, kReaderTimerMs);
    ASSERT_TRUE(PumpUntil(
        [] {
          char t[64];
          ShowData.title.CopyTo(t, sizeof t);
          return ShowData.Kill_TCP == 0 && std::string(t) == "Front door";
        },
        5s));
  }

  static std::string CoreUrl() {
    return "sip:x@127.0.0.1:" + std::to_string(SipCoreSipPort(the_core));
  }

  std::unique_ptr<DoorSim> sim_;
};

// A visitor rings and nobody comes; a second one is answered over SIP.
TEST_F(VisitsLive, EachRingLeavesAVisitWithThePicturesAroundItAndItsOutcome) {
  StartTheRecord();
  Connect("ff0000");
  SendMessage(g_hwndMain, MESSAGE, MSG_START_CORE, 0);
  ASSERT_NE(the_core.load(), nullptr);
  auto store = t_VisitStore::Open(SettingsFolder(), false);
  ASSERT_TRUE(store);

  // Red until the ring, blue from the ring's part on.
  PumpFor(3500ms);
  EXPECT_TRUE(Near(CopySurface(g_hwndMain).at(kVideoX, kVideoY), kRed));
  sim_->Command("colour 0000ff\nring 1");
  ASSERT_TRUE(PumpUntil([] { return ShowData.call == 1; }, 5s));
  PumpFor(1500ms);
  EXPECT_TRUE(Near(CopySurface(g_hwndMain).at(kVideoX, kVideoY), kBlue));
  std::int64_t rang = 0;
  ASSERT_TRUE(PumpUntil(
      [&] {
        const auto listed = store->List(0, 1);
        if (!listed.empty())
          rang = visits::ParseUtcText(listed[0].started).value_or(0);
        return rang != 0;
      },
      5s));
  // A long ring, and the reader's run ended during it (the flag falls with
  // the run and rises with the next): still the one visit.
  PumpUntil([&] { return WallMs() > rang + 11000; }, 15s);
  RequestReconnect();
  ASSERT_TRUE(PumpUntil([] { return ShowData.Kill_TCP == 1; }, 5s));
  ASSERT_TRUE(PumpUntil([] { return ShowData.Kill_TCP == 0; }, 5s));
  PumpUntil([&] { return WallMs() > rang + 14000; }, 15s);
  sim_->Command("ring 0");

  // The next visitor, a little later; its door unit calls, the call is
  // answered and comes up in this copy.
  PumpFor(std::chrono::milliseconds(visits::kSameVisitMs + 1000));
  sim_->Command("ring 1");
  ASSERT_TRUE(PumpUntil([] { return ShowData.call == 1; }, 5s));
  sim_->Command("ring-sip " + CoreUrl());
  ASSERT_TRUE(PumpUntil([] { return IsWindow(hWnd_Accept); }, 10s));
  ASSERT_TRUE(Click(DialogWidgetOf(hWnd_Accept), "OK"));
  ASSERT_TRUE(PumpUntil([] { return ShowData.lin_call == 1; }, 5s));
  sim_->Command("ring 0");
  sim_->Command("hangup");
  ASSERT_TRUE(PumpUntil([] { return ShowData.lin_call == 0; }, 5s));

  // The first visit is missed once 30 s from its ring are over.
  std::vector<t_Visit> visits;
  ASSERT_TRUE(PumpUntil(
      [&] {
        visits = store->List(0, 10);
        return visits.size() == 3 &&
               std::none_of(visits.begin(), visits.end(), [](const t_Visit &v) {
                 return v.outcome == VisitOutcome::Undecided;
               });
      },
      30s))
      << Listed(visits);
  const t_Visit &first = visits[2], &second = visits[1], &call = visits[0];
  EXPECT_GE(WallMs() - rang, 29000);
  EXPECT_EQ(first.how, "stream");
  EXPECT_EQ(first.door, "Front door");
  EXPECT_EQ(first.address, sim_->address());
  EXPECT_EQ(first.outcome, VisitOutcome::Missed);
  EXPECT_GE(visits::ParseUtcText(first.ended).value_or(0) - rang, 13500)
      << first.ended;
  EXPECT_EQ(second.how, "stream");
  EXPECT_EQ(second.outcome, VisitOutcome::Answered);
  EXPECT_EQ(call.how, "sip");
  EXPECT_EQ(call.caller, "door@127.0.0.1");
  EXPECT_EQ(call.outcome, VisitOutcome::Answered);
  EXPECT_TRUE(PumpUntil([] { return UnseenMissedVisits() == 1; }, 3s));
  EXPECT_EQ(g_counted, 1);

  // The pictures: the seconds before the ring red, from the ring on blue,
  // at most one a slot, in order. (The stream's renewal every 102 pictures
  // pauses it for a second, so some slots stay empty.)
  const auto pictures = store->Pictures(first.id);
  int before = 0, after = 0, last = -100000;
  for (const auto &p : pictures) {
    SCOPED_TRACE(p.file);
    EXPECT_GT(p.atMs, last);
    last = p.atMs;
    EXPECT_GE(p.atMs, -3000);
    EXPECT_LT(p.atMs, 10000);
    EXPECT_TRUE(Near(Middle(p.path), p.atMs < 0 ? kRed : kBlue))
        << std::hex << Middle(p.path);
    (p.atMs < 0 ? before : after) += 1;
  }
  EXPECT_GE(before, 6);
  EXPECT_GE(after, 20);
  EXPECT_EQ(first.pictures, before + after);
  EXPECT_EQ(first.ringPicture, "+00000.jpg");
  EXPECT_EQ(store->Pictures(second.id).size(),
            static_cast<std::size_t>(second.pictures));

  // Seen in the Visitors window (through its own connection), the count
  // goes once the recorder is asked again.
  EXPECT_TRUE(store->MarkSeen({first.id, second.id, call.id}));
  RecountVisits();
  EXPECT_TRUE(PumpUntil([] { return UnseenMissedVisits() == 0; }, 3s));
}

// Message boxes that open while it lives, closed at once as a user would.
struct BoxWatcher {
  std::vector<std::string> seen;
  QTimer timer;
  BoxWatcher() {
    QObject::connect(&timer, &QTimer::timeout, [this] {
      for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *box = qobject_cast<QMessageBox *>(w);
            box != nullptr && box->isVisible()) {
          seen.push_back(box->text().toStdString());
          box->done(0);
        }
    });
    timer.start(10);
  }
};

// A disk that takes no more of the record (here a file size limit the
// database's journal has reached): said once on standard error; the live
// picture, the window and its title go on as before.
TEST_F(VisitsLive, AFullDiskIsSaidOnceAndChangesNothingOnScreen) {
  // A record of its own, so that its journal is small.
  TempDir other;
  ASSERT_EQ(mkdir((other / "Vestibell").c_str(), 0700), 0);
  setenv("ALLUSERSPROFILE", other.path().c_str(), 1);
  StartTheRecord();
  setenv("ALLUSERSPROFILE", g_data->path().c_str(), 1);
  Connect("00ff00");
  struct stat wal {};
  ASSERT_EQ(stat((other / "Vestibell/visits/visits.sqlite-wal").c_str(), &wal),
            0);

  std::signal(SIGXFSZ, SIG_IGN); // the write fails instead
  rlimit limit{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &limit), 0);
  const rlimit unlimited = limit;
  limit.rlim_cur = static_cast<rlim_t>(std::max<off_t>(wal.st_size, 16384));
  BoxWatcher boxes;
  const long frames = sim_->Status("frames_sent");
  std::uint32_t shown = 0;
  const std::string said = StandardError([&] {
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    // Two visitors, the second when the first visit's 10 s are over.
    for (int ring = 0; ring < 2; ++ring) {
      sim_->Command("ring 1");
      PumpFor(1500ms);
      sim_->Command("ring 0");
      PumpFor(ring == 0 ? 11s : 1500ms);
    }
    shown = CopySurface(g_hwndMain).at(kVideoX, kVideoY);
    setrlimit(RLIMIT_FSIZE, &unlimited);
  });
  EXPECT_TRUE(boxes.seen.empty()) << boxes.seen.front();
  EXPECT_TRUE(Near(shown, kGreen)) << std::hex << shown;
  EXPECT_EQ(ShowData.Kill_TCP, 0);
  EXPECT_GT(sim_->Status("frames_sent"), frames + 200) << "the picture flowed";
  EXPECT_EQ(GetWindowText(g_hwndMain), "Front door");
  // (Qt's offscreen platform has its say on standard error too.)
  std::size_t lines = 0;
  for (std::size_t at = said.find("Vestibell: "); at != std::string::npos;
       at = said.find("Vestibell: ", at + 1))
    ++lines;
  EXPECT_EQ(lines, 1u) << said;
  EXPECT_NE(
      said.find(
          "cannot write the visitors' record in " +
          std::filesystem::canonical(other / "Vestibell/visits").string()),
      std::string::npos)
      << said;
}

unsigned ModeOf(const std::string &path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// A copy of the program on the data folder `data`, its standard error
// read with its output.
std::unique_ptr<Child> StartCopy(const TempDir &data) {
  return std::make_unique<Child>(
      std::vector<std::string>{VESTIBELL},
      std::vector<std::string>{"ALLUSERSPROFILE=" + data.path(),
                               "XDG_RUNTIME_DIR=" + data.path(),
                               "QT_QPA_PLATFORM=offscreen"},
      true);
}

// Ends a copy as the desktop's log-out does; what it said meanwhile.
std::string EndCopy(Child &copy) {
  kill(copy.pid(), SIGTERM);
  const auto status = copy.Wait(20s);
  EXPECT_TRUE(status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
  std::string said;
  while (const auto line = copy.ReadLine(1s))
    said += *line + "\n";
  return said;
}

std::size_t Occurrences(const std::string &text, const std::string &what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos;
       at = text.find(what, at + 1))
    ++n;
  return n;
}

bool WaitFor(const std::function<bool()> &done,
             std::chrono::milliseconds limit) {
  const auto until = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > until)
      return false;
    usleep(100000);
  }
  return true;
}

// Two copies of the program share a data folder, whose record is damaged,
// and watch one door unit: the damaged record is moved aside once, both
// record the ring in the one fresh database, each in a folder of its own,
// kept private, and closing decides the visits still undecided. Started
// again with [Visits] Keep_count=1 and Pictures=0, a copy removes the
// older visit with its pictures and keeps the next one without any.
TEST(VisitsPrograms, TwoCopiesRecordOneRingAndRetentionFollowsTheSettings) {
  TempDir dir;
  // The door unit sends one picture over and over: the record keeps its
  // bytes as they came.
  QImage made(64, 48, QImage::Format_RGB32);
  made.fill(QColor(20, 140, 90));
  ASSERT_EQ(mkdir((dir / "frames").c_str(), 0700), 0);
  ASSERT_TRUE(made.save(QString::fromStdString(dir / "frames/door.jpg")));
  const std::string sent = ReadFile(dir / "frames/door.jpg");
  DoorSim sim(
      {"--fps", "25", "--frames", dir / "frames", "--title", "Back door"});
  ASSERT_NE(sim.port(), 0);
  const std::string visits = dir / "Vestibell/visits";
  ASSERT_EQ(mkdir((dir / "Vestibell").c_str(), 0700), 0);
  ASSERT_EQ(mkdir(visits.c_str(), 0700), 0);
  WriteFile(visits + "/visits.sqlite", "no database at all\n");
  const std::string ini = dir / "Vestibell/Vestibell.ini";
  WriteFile(ini, "[Window 0]\nIP_addr=" + sim.address() +
                     "\n[SIP]\nSIP_port=0\nSIP_bind_addr=127.0.0.1\n");
  std::vector<std::unique_ptr<Child>> copies;
  for (int i = 0; i < 2; ++i) {
    copies.push_back(StartCopy(dir));
    ASSERT_TRUE(copies.back()->started());
    // One after the other, so that each knows its number.
    WaitFor([&] { return sim.Status("open_streams") >= i + 1; }, 10s);
  }
  ASSERT_EQ(sim.Status("open_streams"), 2);
  usleep(3500000);
  sim.Command("ring 2");
  const auto rang = std::chrono::steady_clock::now();
  usleep(1500000);
  sim.Command("ring 0");

  // Each visit's pictures are written within its 13 s.
  std::unique_ptr<t_VisitStore> store;
  std::vector<t_Visit> listed;
  WaitFor(
      [&] {
        if (!store)
          store = t_VisitStore::Open(dir / "Vestibell", false);
        if (store)
          listed = store->List(0, 10);
        return listed.size() == 2 &&
               std::chrono::steady_clock::now() > rang + 11s;
      },
      20s);
  ASSERT_TRUE(store);
  ASSERT_EQ(listed.size(), 2u);
  std::vector<std::string> copyOf;
  for (const t_Visit &v : listed) {
    SCOPED_TRACE(v.folder);
    EXPECT_EQ(v.door, "Back door");
    EXPECT_EQ(v.address, sim.address());
    EXPECT_GE(v.pictures, 30);
    const std::string folder = visits + "/" + v.folder;
    EXPECT_EQ(ModeOf(folder), 0700u);
    // What is on disk is what the rows say, named by the slots, private.
    std::set<std::string> rows, files;
    for (const auto &p : store->Pictures(v.id)) {
      rows.insert(p.file);
      EXPECT_EQ(ReadFile(p.path), sent) << p.file;
    }
    for (const auto &e : std::filesystem::directory_iterator(folder)) {
      files.insert(e.path().filename());
      EXPECT_EQ(ModeOf(e.path()), 0600u) << e.path();
    }
    EXPECT_EQ(files, rows);
    EXPECT_EQ(rows.size(), static_cast<std::size_t>(v.pictures));
    // Before the ring and after it (the stream's renewal pauses it for a
    // second now and then, so any one slot may stay empty).
    // ('+' sorts before '-'.)
    ASSERT_FALSE(rows.empty());
    EXPECT_TRUE(rows.begin()->front() == '+' && rows.rbegin()->front() == '-')
        << *rows.begin() << " " << *rows.rbegin();
    copyOf.push_back(v.folder.substr(v.folder.rfind('-')));
  }
  std::sort(copyOf.begin(), copyOf.end());
  EXPECT_EQ(copyOf, (std::vector<std::string>{"-1", "-2"}));
  EXPECT_EQ(ModeOf(visits), 0700u);
  EXPECT_EQ(ModeOf(visits + "/visits.sqlite"), 0600u);

  std::string said;
  for (auto &copy : copies)
    said += EndCopy(*copy);
  EXPECT_EQ(Occurrences(said, "Vestibell: the visitors' record"), 1u) << said;
  std::vector<std::string> aside;
  for (const auto &e : std::filesystem::directory_iterator(visits))
    if (e.path().filename().string().rfind("visits.sqlite.broken-", 0) == 0)
      aside.push_back(e.path());
  ASSERT_EQ(aside.size(), 1u);
  EXPECT_EQ(ReadFile(aside[0]), "no database at all\n");
  EXPECT_NE(said.find(aside[0]), std::string::npos) << said;
  listed = store->List(0, 10);
  for (const t_Visit &v : listed)
    EXPECT_EQ(v.outcome, VisitOutcome::Missed) << "decided at closing";

  // Keep one visit, and no pictures from now on.
  WriteFile(ini, ReadFile(ini) + "[Visits]\nKeep_count=1\nPictures=0\n");
  auto copy = StartCopy(dir);
  ASSERT_TRUE(WaitFor([&] { return sim.Status("open_streams") == 1; }, 10s));
  ASSERT_TRUE(WaitFor([&] { return store->Count() == 1; }, 5s));
  EXPECT_EQ(store->List(0, 1)[0].id, listed[0].id) << "the newer one stays";
  EXPECT_FALSE(std::filesystem::exists(visits + "/" + listed[1].folder));
  sim.Command("ring 1");
  usleep(1500000);
  sim.Command("ring 0");
  ASSERT_TRUE(WaitFor([&] { return store->Count() == 2; }, 5s));
  usleep(1000000);
  EndCopy(*copy);
  const t_Visit last = store->List(0, 1)[0];
  EXPECT_EQ(last.how, "stream");
  EXPECT_EQ(last.outcome, VisitOutcome::Missed);
  EXPECT_EQ(last.folder, "");
  EXPECT_EQ(last.pictures, 0);
  EXPECT_TRUE(store->Pictures(last.id).empty());
  std::size_t folders = 0;
  for (const auto &e : std::filesystem::directory_iterator(visits))
    folders += e.is_directory();
  EXPECT_EQ(folders, 1u) << "the kept visit's alone";
}

} // namespace
