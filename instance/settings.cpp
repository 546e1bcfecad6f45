#include "instance/settings.h"
#include "platform/report.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "instance/identity.h"
#include "platform/files.h"
#include "platform/profile.h"

char ini_file[kPathSize];
char NameJPEG[kPathSize];
char stateini = 0;

SharedText<64> IP_addr(kEmptyIpAddr);
std::atomic<int> PopUp{0};
int left = 0;
int top = 0;
char SIP_id_doorphone[64];
char SIP_call_prefix[64];
char Snd_capture[50];
char Snd_playback[50];

bool IsStoredDevice(const std::string &name, const char *stored) {
  constexpr std::size_t kKept = sizeof Snd_capture - 1;
  return name.substr(0, kKept) ==
         std::string_view(stored, strnlen(stored, kKept));
}
char SIP_addr[64];
char SIP_id[64];
char SIP_pass[64];
char SIP_realm[64];
int SIP_reg_duration = 3600;
int UseSIP = 0;
std::mutex SipAccountMutex;

namespace {

constexpr const char kFolderName[] = "Vestibell";
constexpr const char kIniName[] = "Vestibell.ini";
// Checked in this order; the first one set, even to the empty text, wins.
constexpr const char *kBaseVariables[] = {"ALLUSERSPROFILE", "PROGRAMDATA",
                                          "APPDATA", "LOCALAPPDATA", "TEMP"};

// "%s/%s" into a path buffer; false when it does not fit whole.
bool FormPath(char (&out)[kPathSize], const std::string &folder,
              const char *name) {
  const int n = std::snprintf(out, kPathSize, "%s/%s", folder.c_str(), name);
  if (n < 0 || n >= kPathSize) {
    out[0] = '\0';
    return false;
  }
  return true;
}

} // namespace

bool IsRegDuration(const char *text) {
  if (text == nullptr || *text == '\0' || std::strlen(text) > 9)
    return false;
  long value = 0;
  for (const char *p = text; *p; ++p) {
    if (*p < '0' || *p > '9')
      return false;
    value = value * 10 + (*p - '0');
  }
  return value >= 1 && value <= kRegDurationMax;
}

void FormWindowSection(char (&window)[15]) {
  std::snprintf(window, sizeof window, "Window %i", 0);
}

std::string ConfigBaseFolder() {
  for (const char *name : kBaseVariables)
    if (auto value = plat::GetEnvironmentVariable(name))
      return *value;
  return plat::DefaultConfigBase();
}

std::string SettingsFolder() { return ConfigBaseFolder() + "/" + kFolderName; }

void AccessIniFile() {
  const std::string WinAppDir = ConfigBaseFolder();

  char path[kPathSize];
  // Instances run side by side, each with a frame file of its own.
  char frameName[32];
  std::snprintf(frameName, sizeof frameName, "Vestibell_%i.tmp", PocSpusteni);
  // A folder too long for the paths is refused whole: a cut path would
  // name some other folder.
  if (!FormPath(path, WinAppDir, kFolderName) ||
      !FormPath(ini_file, path, kIniName) ||
      !FormPath(NameJPEG, path, frameName)) {
    ini_file[0] = '\0';
    NameJPEG[0] = '\0';
    stateini = 2;
    return;
  }
  if (!plat::PathExists(path)) {
    stateini = 1;
    if (!plat::CreateDirectory(path))
      stateini = 2;
  }
}

void ReadConfiguration() {
  char window[15];
  FormWindowSection(window);
  char text[64];

  plat::GetPrivateProfileString(window, "IP_addr", kDefaultIpAddr, text,
                                sizeof text, ini_file);
  IP_addr.Set(text);
  PopUp = plat::GetPrivateProfileInt(window, "pop", 0, ini_file);
  left = plat::GetPrivateProfileInt(window, "Left", 0, ini_file);
  top = plat::GetPrivateProfileInt(window, "Top", 0, ini_file);
  const int width = plat::GetPrivateProfileInt(window, "Width",
                                               kDefaultClientWidth, ini_file);
  const int height = plat::GetPrivateProfileInt(window, "Height",
                                                kDefaultClientHeight, ini_file);
  ShowData.Size.store({width, height});
  plat::GetPrivateProfileString(window, "SIP_id_doorphone", "",
                                SIP_id_doorphone, sizeof SIP_id_doorphone,
                                ini_file);
  plat::GetPrivateProfileString(window, "SIP_call_prefix", "", SIP_call_prefix,
                                sizeof SIP_call_prefix, ini_file);

  ReadSipSettings();
  std::lock_guard lock(SipAccountMutex);
  plat::GetPrivateProfileString("SIP", "SIP_realm", "", SIP_realm,
                                sizeof SIP_realm, ini_file);
}

void ReadSipSettings() {
  plat::GetPrivateProfileString("Sound", "Sound capture", "", Snd_capture,
                                sizeof Snd_capture, ini_file);
  plat::GetPrivateProfileString("Sound", "Sound playback", "", Snd_playback,
                                sizeof Snd_playback, ini_file);
  plat::GetPrivateProfileString("SIP", "SIP_addr", "", SIP_addr,
                                sizeof SIP_addr, ini_file);
  {
    std::lock_guard lock(SipAccountMutex);
    plat::GetPrivateProfileString("SIP", "SIP_id", kDefaultSipId, SIP_id,
                                  sizeof SIP_id, ini_file);
    plat::GetPrivateProfileString("SIP", "SIP_pass", "", SIP_pass,
                                  sizeof SIP_pass, ini_file);
  }
  char duration[25];
  plat::GetPrivateProfileString("SIP", "SIP_reg_duration", "", duration,
                                sizeof duration, ini_file);
  if (IsRegDuration(duration)) {
    SIP_reg_duration = std::atoi(duration);
  } else {
    if (duration[0] != '\0')
      plat::Report("SIP_reg_duration=%s in the SIP section is not a number "
                   "of seconds from 1 to %d; using %d",
                   duration, kRegDurationMax, kRegDurationDefault);
    SIP_reg_duration = kRegDurationDefault;
  }
  UseSIP = plat::GetPrivateProfileInt("SIP", "UseSIP", 0, ini_file);
}

int ReadSipPort() {
  const int port =
      plat::GetPrivateProfileInt("SIP", "SIP_port", kDefaultSipPort, ini_file);
  // The library would bind what is left of the number modulo 65536.
  if (port < 0 || port > 65535) {
    plat::Report("SIP_port=%d in the SIP section is not a port (0 to 65535); "
                 "using %d",
                 port, kDefaultSipPort);
    return kDefaultSipPort;
  }
  return port;
}

void ReadSipBindAddress(char (&address)[64]) {
  plat::GetPrivateProfileString("SIP", "SIP_bind_addr", "", address,
                                sizeof address, ini_file);
}

t_VisitSettings ReadVisitSettings() {
  auto number = [](const char *key, int fallback) {
    const int value =
        plat::GetPrivateProfileInt(kVisitsSection, key, fallback, ini_file);
    if (value >= 0)
      return value;
    plat::Report("%s=%d in the %s section is below 0; using %d", key, value,
                 kVisitsSection, fallback);
    return fallback;
  };
  t_VisitSettings settings;
  settings.keepDays = number("Keep_days", kDefaultKeepDays);
  settings.keepCount = number("Keep_count", kDefaultKeepCount);
  settings.keepMB = number("Keep_MB", kDefaultKeepMB);
  settings.pictures =
      plat::GetPrivateProfileInt(kVisitsSection, "Pictures",
                                 kDefaultVisitPictures, ini_file) != 0;
  return settings;
}

namespace {

bool WriteInt(const char *section, const char *key, int value) {
  char text[16]; // any int, sign included
  std::snprintf(text, sizeof text, "%i", value);
  return plat::WritePrivateProfileString(section, key, text, ini_file);
}

} // namespace

bool WriteSettings(const char *regDuration) {
  char window[15];
  FormWindowSection(window);
  char id[64], pass[64], address[64];
  {
    std::lock_guard lock(SipAccountMutex);
    std::snprintf(id, sizeof id, "%s", SIP_id);
    std::snprintf(pass, sizeof pass, "%s", SIP_pass);
  }
  IP_addr.CopyTo(address, sizeof address);
  bool written = true;
  auto write = [&](const char *section, const char *key, const char *value) {
    written = plat::WritePrivateProfileString(section, key, value, ini_file) &&
              written;
  };
  write("Sound", "Sound capture", Snd_capture);
  write("Sound", "Sound playback", Snd_playback);
  write("SIP", "SIP_addr", SIP_addr);
  write("SIP", "SIP_id", id);
  write("SIP", "SIP_pass", pass);
  write("SIP", "SIP_reg_duration", regDuration);
  written = WriteInt("SIP", "UseSIP", UseSIP) && written;
  write(window, "IP_addr", address);
  write(window, "SIP_id_doorphone", SIP_id_doorphone);
  write(window, "SIP_call_prefix", SIP_call_prefix);
  return WriteInt(window, "pop", PopUp) && written;
}

bool WriteWindowPlace(int left, int top, t_ClientSize size) {
  char window[15];
  FormWindowSection(window);
  bool written = WriteInt(window, "Left", left);
  written = WriteInt(window, "Top", top) && written;
  written = WriteInt(window, "Width", size.width) && written;
  return WriteInt(window, "Height", size.height) && written;
}

bool WriteSipRealm(const char *realm) {
  std::lock_guard lock(SipAccountMutex);
  std::snprintf(SIP_realm, sizeof SIP_realm, "%s", realm ? realm : "");
  return plat::WritePrivateProfileString("SIP", "SIP_realm", SIP_realm,
                                         ini_file);
}

bool WriteVisitSettings(const t_VisitSettings &settings) {
  bool written = WriteInt(kVisitsSection, "Keep_days", settings.keepDays);
  written =
      WriteInt(kVisitsSection, "Keep_count", settings.keepCount) && written;
  written = WriteInt(kVisitsSection, "Keep_MB", settings.keepMB) && written;
  return WriteInt(kVisitsSection, "Pictures", settings.pictures ? 1 : 0) &&
         written;
}
