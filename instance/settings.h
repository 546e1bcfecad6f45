// Module settings: the configuration store. Where the settings file and
// the frame file live, and the values every instance starts from.
#pragma once

#include <atomic>
#include <mutex>
#include <string>

#include "instance/display_state.h"

// Paths are fixed by AccessIniFile at start-up, before any other thread runs,
// and only read afterwards.
inline constexpr int kPathSize = 1024;
extern char ini_file[kPathSize];
extern char NameJPEG[kPathSize];
extern char stateini;

// Defaults, each written once.
// The door unit's address from the factory, when the file names none.
inline constexpr const char kDefaultIpAddr[] = "192.168.1.250";
// What an address field left empty is saved as: the same address in the
// form the door unit's own documents give it.
inline constexpr const char kEmptyIpAddr[] = "192.168.001.250";
// The PC's SIP identity when none is set: the user part door units call.
inline constexpr const char kDefaultSipId[] = "Vestibell";
// The SIP port door units call, unless SIP_port says otherwise.
inline constexpr int kDefaultSipPort = 5060;

// Configuration values. Written by the window thread (start-up, settings
// dialog) and, for SIP_realm, the SIP thread; IP_addr and PopUp are read by
// the video reader and relay threads, so they are guarded.
extern SharedText<64> IP_addr;
extern std::atomic<int> PopUp;
extern int left;
extern int top;
extern char SIP_id_doorphone[64];
extern char SIP_call_prefix[64];
extern char Snd_capture[50];
extern char Snd_playback[50];
// Whether a sound device's full name is the one a setting keeps: the
// settings hold 49 characters, so a longer name is kept cut short.
bool IsStoredDevice(const std::string &name, const char *stored);
extern char SIP_addr[64];
extern char SIP_id[64];
extern char SIP_pass[64];
extern char SIP_realm[64];
extern int SIP_reg_duration;
// The registration's lifetime asked of the registrar, in whole seconds from
// 1 to a day: 0 (an emptied field) would unregister at once, and a longer
// one is refused by registrars anyway. What is not such a number gives the
// default.
inline constexpr int kRegDurationDefault = 3600;
inline constexpr int kRegDurationMax = 86400;
bool IsRegDuration(const char *text);
extern int UseSIP;
// SIP_id, SIP_pass and SIP_realm are also read and written on the SIP
// thread (the credentials request and its dialog): every access after
// start-up holds this lock.
extern std::mutex SipAccountMutex;

// The visitors' record, section [Visits]: how long, how many and how much
// of it to keep (0: no limit of that kind) and whether pictures are kept.
// Read at start-up; a negative number gives the default, with a line on
// standard error.
inline constexpr const char kVisitsSection[] = "Visits";
inline constexpr int kDefaultKeepDays = 30;
inline constexpr int kDefaultKeepCount = 1000;
inline constexpr int kDefaultKeepMB = 500;
inline constexpr int kDefaultVisitPictures = 1;
struct t_VisitSettings {
  int keepDays = kDefaultKeepDays;
  int keepCount = kDefaultKeepCount;
  int keepMB = kDefaultKeepMB;
  bool pictures = kDefaultVisitPictures != 0;
};
t_VisitSettings ReadVisitSettings();

// The door unit's section: "Window 0" in every instance, so all instances
// share one door-unit section.
void FormWindowSection(char (&window)[15]);
// The folder under which "Vestibell" lives: the first of ALLUSERSPROFILE,
// PROGRAMDATA, APPDATA, LOCALAPPDATA and TEMP that is set (an empty value
// counts, and means the root), else the user's configuration folder.
std::string ConfigBaseFolder();
// The folder of the settings file and the frame files: "Vestibell" under
// ConfigBaseFolder().
std::string SettingsFolder();
// Works out the folder and fills ini_file, NameJPEG and stateini.
void AccessIniFile();
// Reads the sixteen keys into their globals (the window's size into the
// display state).
void ReadConfiguration();
// Reads the sound devices and the SIP account again, all but SIP_realm
// (the SIP settings changed).
void ReadSipSettings();
// The local SIP port (0: any free one) and the local address signalling
// and audio keep to (empty: every address), read when a core is made. A
// port outside 0 to 65535 gives the default, with a line on standard
// error.
int ReadSipPort();
void ReadSipBindAddress(char (&address)[64]);

// The write side, beside the read side: each writes the current values of
// its keys; false when the file could not be written (the values apply all
// the same).
//
// Everything the settings dialog shows, in its order: the sound devices,
// the SIP account (the expiry as `regDuration`, the text as typed), the
// door unit's address, SIP identity, call prefix and pop-up. Window thread.
bool WriteSettings(const char *regDuration);
// The window's place and size (closing). Window thread.
bool WriteWindowPlace(int left, int top, t_ClientSize size);
// The realm the registrar asked credentials for, for the next record and
// the next start. Any thread.
bool WriteSipRealm(const char *realm);
// The four keys of [Visits]. Window thread.
bool WriteVisitSettings(const t_VisitSettings &settings);
