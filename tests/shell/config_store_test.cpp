// Where the configuration lives, and what every instance reads from it.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "env_guard.h"
#include "instance/identity.h"
#include "instance/settings.h"
#include "instance/tray.h"
#include "platform/profile.h"
#include "shell/main.h"
#include "support/temp_dir.h"

namespace {

TEST(ConfigFolder, FirstSetVariableWinsInItsOrderAndEmptyCountsAsSet) {
  EnvGuard env;
  env.Set("TEMP", "/t");
  EXPECT_EQ(ConfigBaseFolder(), "/t");
  env.Set("LOCALAPPDATA", "/l");
  EXPECT_EQ(ConfigBaseFolder(), "/l");
  env.Set("APPDATA", "/a");
  EXPECT_EQ(ConfigBaseFolder(), "/a");
  env.Set("PROGRAMDATA", "/p");
  EXPECT_EQ(ConfigBaseFolder(), "/p");
  env.Set("ALLUSERSPROFILE", "");
  // Set but empty: the folder is "/Vestibell", later variables unread.
  EXPECT_EQ(ConfigBaseFolder(), "");
}

TEST(ConfigFolder, WithoutTheVariablesTheUsersConfigFolderIsUsed) {
  EnvGuard env;
  TempDir dir;
  env.Set("XDG_CONFIG_HOME", dir / "xdg");
  env.Set("HOME", dir / "home");
  EXPECT_EQ(ConfigBaseFolder(), dir / "xdg");
  // A relative XDG_CONFIG_HOME is not a valid one.
  env.Set("XDG_CONFIG_HOME", "relative");
  ASSERT_EQ(mkdir((dir / "home").c_str(), 0700), 0);
  EXPECT_EQ(ConfigBaseFolder(), dir / "home/.config");
  // A fresh account without ~/.config still gets its settings saved.
  struct stat st {};
  EXPECT_EQ(stat((dir / "home/.config").c_str(), &st), 0);
}

class AccessIni : public ::testing::Test {
protected:
  void SetUp() override {
    env_.Set("ALLUSERSPROFILE", dir_.path());
    stateini = 0;
    PocSpusteni = 1;
  }
  EnvGuard env_;
  TempDir dir_;
};

TEST_F(AccessIni, CreatesTheFolderOnceAndFormsBothPaths) {
  AccessIniFile();
  EXPECT_EQ(stateini, 1);
  EXPECT_EQ(std::string(ini_file), dir_ / "Vestibell/Vestibell.ini");
  EXPECT_EQ(std::string(NameJPEG), dir_ / "Vestibell/Vestibell_1.tmp");
  struct stat st {};
  ASSERT_EQ(stat((dir_ / "Vestibell").c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_mode & 077, 0u) << "the folder holds a SIP password";
  stateini = 0;
  AccessIniFile();
  EXPECT_EQ(stateini, 0);
}

TEST_F(AccessIni, EachInstanceHasAFrameFileOfItsOwn) {
  PocSpusteni = 3;
  AccessIniFile();
  EXPECT_EQ(std::string(NameJPEG), dir_ / "Vestibell/Vestibell_3.tmp");
  EXPECT_EQ(std::string(ini_file), dir_ / "Vestibell/Vestibell.ini");
}

TEST_F(AccessIni, APlainFileInTheWayLeavesStateZeroAndWritesFail) {
  WriteFile(dir_ / "Vestibell", "not a folder");
  AccessIniFile();
  EXPECT_EQ(stateini, 0);
  EXPECT_FALSE(
      plat::WritePrivateProfileString("Window 0", "Left", "5", ini_file));
}

TEST_F(AccessIni, AFolderThatCannotBeMadeGivesStateTwo) {
  env_.Set("ALLUSERSPROFILE", dir_ / "no/such/parent");
  AccessIniFile();
  EXPECT_EQ(stateini, 2);
}

TEST_F(AccessIni, ABaseTooLongForThePathsIsRefusedNotCut) {
  env_.Set("ALLUSERSPROFILE", dir_.path() + "/" + std::string(1010, 'x'));
  AccessIniFile();
  EXPECT_EQ(stateini, 2);
  EXPECT_STREQ(ini_file, "");
  EXPECT_STREQ(NameJPEG, "");
  char text[64];
  plat::GetPrivateProfileString("Window 0", "IP_addr", "192.168.1.250", text,
                                sizeof text, ini_file);
  EXPECT_STREQ(text, "192.168.1.250");
}

class Configuration : public AccessIni {
protected:
  void Load(const std::string &ini) {
    AccessIniFile();
    WriteFile(ini_file, ini);
    ReadConfiguration();
  }
};

TEST_F(Configuration, MissingFileGivesTheDefaultsOfAFreshInstallation) {
  AccessIniFile();
  SIP_reg_duration = 0;
  UseSIP = 1;
  PopUp = 1;
  ReadConfiguration();
  char ip[64];
  IP_addr.CopyTo(ip, sizeof ip);
  EXPECT_STREQ(ip, "192.168.1.250");
  EXPECT_EQ(PopUp.load(), 0);
  EXPECT_EQ(left, 0);
  EXPECT_EQ(top, 0);
  EXPECT_EQ(ShowData.ClientWidth.load(), 336);
  EXPECT_EQ(ShowData.ClientHeight.load(), 301);
  EXPECT_STREQ(SIP_id_doorphone, "");
  EXPECT_STREQ(SIP_call_prefix, "");
  EXPECT_STREQ(Snd_capture, "");
  EXPECT_STREQ(Snd_playback, "");
  EXPECT_STREQ(SIP_addr, "");
  EXPECT_STREQ(SIP_id, "Vestibell");
  EXPECT_STREQ(SIP_pass, "");
  EXPECT_STREQ(SIP_realm, "");
  EXPECT_EQ(SIP_reg_duration, 3600);
  EXPECT_EQ(UseSIP, 0);
}

TEST_F(Configuration, AllSixteenKeysAreReadFromTheirSections) {
  Load("[Window 0]\nIP_addr=127.0.0.1\npop=1\nLeft=-1200\nTop=40\n"
       "Width=640\nHeight=480\nSIP_id_doorphone=door7\nSIP_call_prefix=9\n"
       "[Sound]\nSound capture=WINSND: Mic\nSound playback=WINSND: Spk\n"
       "[SIP]\nSIP_addr=127.0.0.2\nSIP_id=pc\nSIP_pass=secret\n"
       "SIP_realm=home\nSIP_reg_duration=0600\nUseSIP=1\n");
  char ip[64];
  IP_addr.CopyTo(ip, sizeof ip);
  EXPECT_STREQ(ip, "127.0.0.1");
  EXPECT_EQ(PopUp.load(), 1);
  EXPECT_EQ(left, -1200);
  EXPECT_EQ(top, 40);
  EXPECT_EQ(ShowData.ClientWidth.load(), 640);
  EXPECT_EQ(ShowData.ClientHeight.load(), 480);
  EXPECT_STREQ(SIP_id_doorphone, "door7");
  EXPECT_STREQ(SIP_call_prefix, "9");
  EXPECT_STREQ(Snd_capture, "WINSND: Mic");
  EXPECT_STREQ(Snd_playback, "WINSND: Spk");
  EXPECT_STREQ(SIP_addr, "127.0.0.2");
  EXPECT_STREQ(SIP_id, "pc");
  EXPECT_STREQ(SIP_pass, "secret");
  EXPECT_STREQ(SIP_realm, "home");
  EXPECT_EQ(SIP_reg_duration, 600);
  EXPECT_EQ(UseSIP, 1);
}

TEST_F(Configuration, EveryInstanceUsesWindowZero) {
  PocSpusteni = 3;
  Load("[Window 2]\nIP_addr=127.0.0.2\n[Window 3]\nIP_addr=127.0.0.3\n"
       "[Window 0]\nIP_addr=127.0.0.1\n");
  char ip[64];
  IP_addr.CopyTo(ip, sizeof ip);
  EXPECT_STREQ(ip, "127.0.0.1");
  char window[15];
  FormWindowSection(window);
  EXPECT_STREQ(window, "Window 0");
}

TEST_F(Configuration, EmptyValuesStayEmptyAndLongOnesAreCut) {
  Load("[Window 0]\nIP_addr=" + std::string(70, '1') +
       "\n[Sound]\n"
       "Sound capture=" +
       std::string(60, 'c') +
       "\n[SIP]\nSIP_id=\n"
       "SIP_reg_duration=\n");
  char ip[64];
  IP_addr.CopyTo(ip, sizeof ip);
  EXPECT_EQ(std::string(ip), std::string(63, '1'));
  EXPECT_EQ(std::string(Snd_capture), std::string(49, 'c'));
  EXPECT_STREQ(SIP_id, "");
  // Except the expiry: 0 seconds would unregister at once.
  EXPECT_EQ(SIP_reg_duration, kRegDurationDefault);
}

TEST(StoredDevice, ALongNameMatchesTheSettingItWasCutTo) {
  const std::string long_name = "alsa_output.usb-Plantronics_Blackwire_3220_"
                                "Series-00.analog-stereo";
  const std::string kept = long_name.substr(0, sizeof Snd_capture - 1);
  const char *cut = kept.c_str();
  const struct {
    std::string name;
    const char *stored;
    bool same;
  } cases[] = {
      {"ALSA: default device", "ALSA: default device", true},
      {"ALSA: default device", "ALSA: default", false},
      {"ALSA: default", "ALSA: default device", false},
      {long_name, cut, true},
      {long_name + "-2", cut, true}, // cut to the same 49: taken as one
      {long_name.substr(0, 49), cut, true},
      {long_name.substr(0, 48), cut, false},
      {"", "", true},
  };
  for (const auto &c : cases)
    EXPECT_EQ(IsStoredDevice(c.name, c.stored), c.same)
        << c.name << " / " << c.stored;
}

} // namespace
