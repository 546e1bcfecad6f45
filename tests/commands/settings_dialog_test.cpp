// The settings dialog under Qt's offscreen platform, opened by the settings
// button and worked as a user would: keys, clicks, typing. The main window
// here stands in for the core owner: it answers the registration query and
// notes the reload requests.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <sys/stat.h>

#include "commands/commands.h"
#include "commands/settings_dialog.h"
#include "instance/identity.h"
#include "instance/settings.h"
#include "platform/message_space.h"
#include "platform/profile.h"
#include "platform/test_hooks.h"
#include "resources/dialog_templates.h"
#include "shell/main.h"
#include "skin/skin.h"
#include "support/pump.h"
#include "support/settings_driver.h"
#include "support/temp_dir.h"
#include "telephony/telephony.h"
#include "video/video.h"

using namespace plat;

namespace {

TempDir *g_data = nullptr;

struct Seen {
  std::vector<LPARAM> queries;
  std::vector<LPARAM> reloads;
  std::string idInFileAtReload;
};
Seen g_seen;
// The registration state the stand-in core owner reports; -1: no answer.
int g_answer = 0;

LRESULT MainProc(HWND hwnd, UINT m, WPARAM w, LPARAM l) {
  if (m == MESSAGE && MESSAGE != 0) {
    if (w == MSG_REG_STATE) {
      g_seen.queries.push_back(l);
      if (g_answer >= 0)
        SIP_reg = g_answer;
    } else if (w == MSG_RELOAD_SIP_SETTINGS) {
      g_seen.reloads.push_back(l);
      char id[64];
      GetPrivateProfileString("SIP", "SIP_id", "", id, sizeof id, ini_file);
      g_seen.idInFileAtReload = id;
    }
  }
  return DefWindowProc(hwnd, m, w, l);
}

// Closes every message box that shows up, noting its text, caption and icon.
struct BoxWatch {
  std::vector<std::string> texts, captions;
  std::vector<int> icons;
  QTimer timer;
  BoxWatch() {
    QObject::connect(&timer, &QTimer::timeout, [this] {
      for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *box = qobject_cast<QMessageBox *>(w);
            box && box->isVisible()) {
          texts.push_back(box->text().toStdString());
          captions.push_back(box->windowTitle().toStdString());
          icons.push_back(box->icon());
          box->done(0);
        }
    });
    timer.start(10);
  }
};

std::string Ini() { return ReadFile(ini_file); }
std::string Stored(const char *section, const char *key) {
  char v[256];
  GetPrivateProfileString(section, key, "<none>", v, sizeof v, ini_file);
  return v;
}

class Settings : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    g_data = new TempDir;
    setenv("ALLUSERSPROFILE", g_data->path().c_str(), 1);
    setenv("XDG_RUNTIME_DIR", g_data->path().c_str(), 1);
    ASSERT_TRUE(Initialize());
    SetInitialDisplayState();
    MESSAGE = RegisterWindowMessage(kAppTitle);
    AccessIniFile();
    WindowClass wc;
    wc.name = "SettingsMain";
    wc.proc = MainProc;
    ASSERT_TRUE(RegisterClass(wc));
    g_hwndMain = CreateWindow("SettingsMain", kAppTitle, WS_POPUP, 100, 40,
                              kDefaultClientWidth, kDefaultClientHeight);
    InitSkin(g_hwndMain, Skin);
    SkinBitmapPos(Skin, kDefaultClientHeight, kDefaultClientWidth);
    ShowWindow(g_hwndMain, SW_SHOW);
    ASSERT_TRUE(JoinMessageSpace(g_hwndMain, "vestibell-settings-test"));
  }

  // A settings file of `text`, read as at start-up; the reader's timer on.
  void Start(const std::string &text) {
    WriteFile(ini_file, text);
    ReadConfiguration();
    g_seen = {};
    g_answer = 0;
    SIP_reg = 0;
    ShowData.Kill_TCP = 0;
    SetTimer(g_hwndMain, kReaderTimerId, kReaderTimerMs);
  }
};

TEST_F(Settings, LaidOutInTemplateOrderWalkedByTabAndLeftByKeys) {
  Start("[Window 0]\nIP_addr=127.0.0.1\n");
  const std::string before = Ini();
  std::vector<int> walk;
  bool timerWhileOpen = true;
  ShowData.Button = BTN_SETTINGS;
  RunSettings([&](QDialog *d) {
    timerWhileOpen = IsTimerSet(g_hwndMain, kReaderTimerId);
    // 270 x 132 units of Arial 8 (6 x 12 pixel base units).
    EXPECT_EQ(d->size(), QSize(405, 198));
    // The status line lies inside, along the bottom, clear of the rest.
    const QRect status = Ctl(d, res::kSetStatus)->geometry();
    EXPECT_TRUE(d->rect().contains(status));
    EXPECT_GE(status.top(), Edit(d, res::kSetDoorAddress)->geometry().bottom());
    // A drop-down list is one line high when closed, above its button.
    const QRect list = Ctl(d, res::kSetPlaybackList)->geometry();
    EXPECT_EQ(list.topLeft(), QPoint(248, 23));
    EXPECT_LT(list.bottom(), Ctl(d, res::kSetPlaybackVolume)->geometry().top());
    EXPECT_EQ(Edit(d, res::kSetSipPass)->echoMode(), QLineEdit::Password);

    Ctl(d, res::kSetUseSip)->setFocus();
    for (int i = 0; i < 15; ++i) {
      Key(d->focusWidget(), Qt::Key_Tab);
      walk.push_back(d->focusWidget()->property("dlgId").toInt());
    }
    Key(d->focusWidget(), Qt::Key_Escape);
  });
  EXPECT_EQ(walk, (std::vector<int>{113, 112, 121, 114, 116, 125, 105, 108, 110,
                                    107, 109, 106, IDOK, IDCANCEL, 115}));
  EXPECT_FALSE(timerWhileOpen);
  EXPECT_EQ(ShowData.Button, BTN_NONE);
  // Escape is Cancel: nothing written, nobody told; the timer runs again.
  EXPECT_EQ(Ini(), before);
  PumpFor(std::chrono::milliseconds(50));
  EXPECT_TRUE(g_seen.reloads.empty());
  EXPECT_TRUE(IsTimerSet(g_hwndMain, kReaderTimerId));

  // Enter is OK, from any field.
  RunSettings([&](QDialog *d) {
    Edit(d, res::kSetDoorAddress)->clear();
    Type(Edit(d, res::kSetDoorAddress), "127.0.0.9");
    Key(d->focusWidget(), Qt::Key_Return);
  });
  EXPECT_EQ(Stored("Window 0", "IP_addr"), "127.0.0.9");
  EXPECT_TRUE(IsTimerSet(g_hwndMain, kReaderTimerId));
}

TEST_F(Settings, SipOffIsReadOnlyUntilSwitchedOnAndFieldsRefuseWhatDoesNotFit) {
  Start("[SIP]\nUseSIP=0\nSIP_addr=127.0.0.1\n[Window 0]\nIP_addr=127.0.0.1\n");
  RunSettings([&](QDialog *d) {
    const int sip[] = {113, 112, 114, 121, 116, 125};
    EXPECT_FALSE(qobject_cast<QCheckBox *>(Ctl(d, 115))->isChecked());
    for (int id : sip)
      EXPECT_TRUE(Edit(d, id)->isReadOnly()) << id;
    EXPECT_FALSE(Edit(d, res::kSetDoorAddress)->isReadOnly());
    EXPECT_EQ(Text(d, res::kSetAddressLabel), "Vestibell IP address:");
    EXPECT_EQ(Text(d, res::kSetStatus), "");
    EXPECT_EQ(Edit(d, res::kSetSipAddr)->text(), "127.0.0.1");

    qobject_cast<QCheckBox *>(Ctl(d, 115))->click();
    for (int id : sip)
      EXPECT_FALSE(Edit(d, id)->isReadOnly()) << id;
    EXPECT_EQ(Text(d, res::kSetAddressLabel), "Vestibell video IP address:");

    // Typing stops at what the setting holds; the expiry takes digits only.
    Edit(d, res::kSetDoorSipId)->clear();
    Type(Edit(d, res::kSetDoorSipId), std::string(70, 'd'));
    EXPECT_EQ(Edit(d, res::kSetDoorSipId)->text().size(), 63);
    Edit(d, res::kSetRegDuration)->clear();
    Type(Edit(d, res::kSetRegDuration), "12ab34567890123456789012345678");
    EXPECT_EQ(Edit(d, res::kSetRegDuration)->text().toStdString(),
              "123456789012345678901234");

    qobject_cast<QCheckBox *>(Ctl(d, 115))->click();
    EXPECT_TRUE(Edit(d, 113)->isReadOnly());
    EXPECT_EQ(Text(d, res::kSetAddressLabel), "Vestibell IP address:");
    qobject_cast<QPushButton *>(Ctl(d, IDOK))->click();
  });
  EXPECT_EQ(Stored("Window 0", "SIP_id_doorphone"), std::string(63, 'd'));
  // Not a number of seconds, and no longer editable: the default is kept.
  EXPECT_EQ(Stored("SIP", "SIP_reg_duration"), "3600");
  EXPECT_EQ(Stored("SIP", "UseSIP"), "0");
  EXPECT_TRUE(g_seen.queries.empty()); // off: nobody is asked
}

// The answer shown is this query's: an earlier one, with nobody answering
// now, shows as failed. An expiry that is no number of seconds is refused
// while it can be corrected.
TEST_F(Settings, SipOnShowsTheCoreOwnersAnswer) {
  for (int answer : {0, 1, -1}) {
    // No fixed SIP port: whether another program holds one is not asked.
    Start("[SIP]\nUseSIP=1\nSIP_port=0\n[Window 0]\nIP_addr=127.0.0.1\n");
    // Changed since start-up: the dialog reads the file again.
    WritePrivateProfileString("SIP", "SIP_addr", "127.0.0.1:5070", ini_file);
    g_answer = answer;
    SIP_reg = 1; // left from an earlier query
    RunSettings([&](QDialog *d) {
      EXPECT_TRUE(qobject_cast<QCheckBox *>(Ctl(d, 115))->isChecked());
      EXPECT_EQ(Text(d, res::kSetStatus), answer == 1
                                              ? "Registration successful"
                                              : "Registration failed");
      if (answer == -1) {
        BoxWatch boxes;
        Edit(d, res::kSetRegDuration)->clear();
        qobject_cast<QPushButton *>(Ctl(d, IDOK))->click();
        ASSERT_TRUE(PumpUntil([&] { return !boxes.texts.empty(); }));
        EXPECT_NE(boxes.texts[0].find("Expiration"), std::string::npos);
        EXPECT_TRUE(d->isVisible()) << "refused, not saved";
        EXPECT_TRUE(g_seen.reloads.empty());
      }
      EXPECT_EQ(Text(d, res::kSetAddressLabel), "Vestibell video IP address:");
      EXPECT_FALSE(Edit(d, 113)->isReadOnly());
      EXPECT_EQ(Edit(d, 113)->text(), "127.0.0.1:5070");
      // Switched off: the status goes.
      qobject_cast<QCheckBox *>(Ctl(d, 115))->click();
      EXPECT_EQ(Text(d, res::kSetStatus), "");
      Key(d, Qt::Key_Escape);
    });
    EXPECT_EQ(g_seen.queries, std::vector<LPARAM>{HandleValue(g_hwndMain)});
  }
}

TEST_F(Settings, OkWritesInOrderThenTellsTheCoreOwner) {
  Start("[Window 0]\nIP_addr=127.0.0.1\npop=0\n[SIP]\nUseSIP=1\n");
  show = 0;
  hide = 0;
  const t_ReconnectWatch watch;
  RunSettings([&](QDialog *d) {
    Edit(d, res::kSetSipId)->clear();
    Edit(d, res::kSetDoorAddress)->clear();
    Type(Edit(d, res::kSetDoorAddress), "127.000.000.001");
    Edit(d, res::kSetRegDuration)->clear();
    Type(Edit(d, res::kSetRegDuration), "0042");
    qobject_cast<QCheckBox *>(Ctl(d, res::kSetPopUp))->click();
    Key(d->focusWidget(), Qt::Key_Return);
  });
  // The same address written otherwise: stored as typed, no reconnect.
  EXPECT_EQ(Stored("Window 0", "IP_addr"), "127.000.000.001");
  EXPECT_EQ(ShowData.Kill_TCP, 0);
  EXPECT_FALSE(watch.Wanted());
  EXPECT_EQ(Stored("SIP", "SIP_id"), "Vestibell");
  EXPECT_EQ(Stored("SIP", "SIP_reg_duration"), "0042");
  EXPECT_EQ(SIP_reg_duration, 42);
  EXPECT_EQ(PopUp, 1);
  EXPECT_EQ(show, 1);
  EXPECT_EQ(hide, 1);
  // Keys new to the file land in the order they were written.
  std::string order;
  std::istringstream lines(Ini());
  for (std::string line; std::getline(lines, line);)
    if (!line.empty())
      order += line.substr(0, line.find('=')) + ";";
  EXPECT_EQ(order, "[Window 0];IP_addr;pop;SIP_id_doorphone;SIP_call_prefix;"
                   "[SIP];UseSIP;SIP_addr;SIP_id;SIP_pass;SIP_reg_duration;"
                   "[Sound];Sound capture;Sound playback;");
  // Posted after the writes: the core owner reads the new account.
  ASSERT_TRUE(PumpUntil([] { return !g_seen.reloads.empty(); }));
  EXPECT_EQ(g_seen.reloads, std::vector<LPARAM>{HandleValue(g_hwndMain)});
  EXPECT_EQ(g_seen.idInFileAtReload, "Vestibell");

  // The address rules on saving alone (no reader runs here).
  const struct {
    const char *typed, *stored;
    bool reconnect;
  } cases[] = {{"", "192.168.001.250", true},
               {"192.168.1.250", "192.168.1.250", false},
               {"127.0.0.2:8170", "127.0.0.2:8170", true},
               {"127.0.0.2:8172", "127.0.0.2:8172", true}, // only the port
               {"127.0.0.2", "127.0.0.2", true}};
  for (const auto &c : cases) {
    ShowData.Kill_TCP = 0;
    const t_ReconnectWatch before;
    t_SettingsFields f{};
    std::snprintf(f.address, sizeof f.address, "%s", c.typed);
    EXPECT_TRUE(SaveSettings(f));
    EXPECT_EQ(Stored("Window 0", "IP_addr"), c.stored) << c.typed;
    EXPECT_EQ(ShowData.Kill_TCP == 1, c.reconnect) << c.typed;
    EXPECT_EQ(before.Wanted(), c.reconnect) << c.typed;
  }
  IP_addr.Set("127.0.0.1");
}

TEST_F(Settings, VanishedDevicesAreKeptAndCancelKeepsChoicesInMemory) {
  const std::vector<std::string> names = SoundDevices();
  if (names.empty())
    GTEST_SKIP() << "no sound device known to the SIP library";
  Start("[Sound]\nSound capture=Gone capture\nSound playback=Gone playback\n"
        "[Window 0]\nIP_addr=127.0.0.1\n");
  RunSettings([&](QDialog *d) {
    for (int id : {res::kSetCaptureList, res::kSetPlaybackList}) {
      auto *list = qobject_cast<QComboBox *>(Ctl(d, id));
      ASSERT_EQ(list->count(), int(names.size()));
      for (int i = 0; i < list->count(); ++i)
        EXPECT_EQ(list->itemText(i).toStdString(), names[i]);
      EXPECT_EQ(list->currentIndex(), 0);
    }
    // The user picks the last playback device, then cancels.
    auto *playback = qobject_cast<QComboBox *>(Ctl(d, res::kSetPlaybackList));
    playback->setCurrentIndex(playback->count() - 1);
    emit playback->activated(playback->count() - 1);
    Key(d, Qt::Key_Escape);
  });
  EXPECT_EQ(Stored("Sound", "Sound playback"), "Gone playback");
  EXPECT_EQ(Snd_playback, names.back());
  EXPECT_EQ(aktivni_snd_playback, int(names.size()) - 1);

  // OK untouched: the vanished names go back as they were.
  RunSettings([&](QDialog *d) { Key(d, Qt::Key_Return); });
  EXPECT_EQ(Stored("Sound", "Sound capture"), "Gone capture");
  EXPECT_EQ(Stored("Sound", "Sound playback"), "Gone playback");
}

TEST_F(Settings, OneVolumeControlAtATimeEndedOnClosing) {
  Start("[Window 0]\nIP_addr=127.0.0.1\n");
  const std::string bin = *g_data / "bin";
  const std::string log = *g_data / "mixer.log";
  mkdir(bin.c_str(), 0700);
  WriteFile(bin + "/pavucontrol",
            "#!/bin/sh\necho \"$$ $*\" >>" + log + "\nexec /bin/sleep 60\n");
  chmod((bin + "/pavucontrol").c_str(), 0700);
  const std::string path = std::getenv("PATH");
  setenv("PATH", (bin + ":" + path).c_str(), 1);
  auto started = [&] {
    std::vector<std::pair<int, std::string>> runs;
    std::istringstream in(ReadFile(log));
    for (std::string line; std::getline(in, line);)
      runs.emplace_back(std::atoi(line.c_str()),
                        line.substr(line.find(' ') + 1));
    return runs;
  };
  auto alive = [](int pid) { return kill(pid, 0) == 0; };
  RunSettings([&](QDialog *d) {
    for (int id : {res::kSetCaptureVolume, res::kSetCaptureVolume,
                   res::kSetPlaybackVolume}) {
      const std::size_t n = started().size();
      qobject_cast<QPushButton *>(Ctl(d, id))->click();
      ASSERT_TRUE(PumpUntil([&] { return started().size() == n + 1; }));
      if (n > 0) {
        EXPECT_FALSE(alive(started()[n - 1].first)) << "run " << n;
      }
    }
    Key(d, Qt::Key_Escape);
  });
  const auto runs = started();
  ASSERT_EQ(runs.size(), 3u);
  EXPECT_EQ(runs[0].second, "--tab=4");
  EXPECT_EQ(runs[2].second, "--tab=3");
  // The mixer outlives the dialog; closing ends it.
  EXPECT_TRUE(alive(runs[2].first));
  EndVolumeControl();
  EXPECT_FALSE(alive(runs[2].first));

  // No mixer at all: the box, and nothing runs.
  setenv("PATH", (*g_data / "nothing").c_str(), 1);
  BoxWatch boxes;
  RunSettings([&](QDialog *d) {
    qobject_cast<QPushButton *>(Ctl(d, res::kSetCaptureVolume))->click();
    Key(d, Qt::Key_Escape);
  });
  setenv("PATH", path.c_str(), 1);
  EXPECT_EQ(boxes.texts, std::vector<std::string>{"Error: sndvol"});
  EXPECT_EQ(boxes.captions, std::vector<std::string>{"Error"});
  EXPECT_EQ(boxes.icons, std::vector<int>{QMessageBox::Critical});
  EXPECT_EQ(pi.pid, 0);
}

TEST_F(Settings, AFileThatCannotBeWrittenIsReportedAndTheValuesStillApply) {
  Start("[Window 0]\nIP_addr=127.0.0.1\n");
  char saved[kPathSize];
  std::snprintf(saved, sizeof saved, "%s", ini_file);
  // Under a plain file: not even root can write there.
  WriteFile(*g_data / "plain", "");
  std::snprintf(ini_file, sizeof ini_file, "%s",
                (*g_data / "plain/Vestibell.ini").c_str());
  BoxWatch boxes;
  RunSettings([&](QDialog *d) {
    Edit(d, res::kSetDoorAddress)->clear();
    Type(Edit(d, res::kSetDoorAddress), "127.0.0.3");
    Key(d, Qt::Key_Return);
  });
  ASSERT_TRUE(PumpUntil([&] { return !boxes.texts.empty(); }));
  std::snprintf(ini_file, sizeof ini_file, "%s", saved);
  EXPECT_NE(boxes.texts[0].find("could not be saved"), std::string::npos);
  EXPECT_EQ(boxes.captions[0], "Error");
  char address[64];
  IP_addr.CopyTo(address, sizeof address);
  EXPECT_STREQ(address, "127.0.0.3");
  IP_addr.Set("127.0.0.1");
}

} // namespace
