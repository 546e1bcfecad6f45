// Module main: the application shell's globals and entry points (start-up,
// instance identity, configuration store).
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "platform/tray.h"
#include "platform/window.h"
#include "shell/show_data.h"
#include "video/popup_rules.h"

// The literal that names this version everywhere: the registered message,
// the prefix of the instance names, the window title and the tray tip.
inline constexpr const char kAppTitle[] = "Vestibell_1.39";
inline constexpr const char kClassName[] = "VestibellClass";
// The built-in skin's natural client size: the first window size and the
// defaults of "Width" and "Height".
inline constexpr int kDefaultClientWidth = 336;
inline constexpr int kDefaultClientHeight = 301;
inline constexpr std::uintptr_t kReaderTimerId = 0;
// The tray icon's callback message (WM_APP + 1).
inline constexpr plat::UINT WM_TRAYICON = 0x8001;
inline constexpr unsigned kReaderTimerMs = 1000;

// --- configuration store ---------------------------------------------------
// Paths are fixed by AccessIniFile at start-up, before any other thread runs,
// and only read afterwards.
inline constexpr int kPathSize = 1024;
extern char ini_file[kPathSize];
extern char NameJPEG[kPathSize];
extern char stateini;

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
extern char SIP_addr[64];
extern char SIP_id[64];
extern char SIP_pass[64];
extern char SIP_realm[64];
extern int SIP_reg_duration;
extern int UseSIP;

// The door unit's section: "Window 0" in every instance, so all instances
// share one door-unit section.
void FormWindowSection(char (&window)[15]);
// The folder under which "Vestibell" lives: the first of ALLUSERSPROFILE,
// PROGRAMDATA, APPDATA, LOCALAPPDATA and TEMP that is set (an empty value
// counts, and means the root), else the user's configuration folder.
std::string ConfigBaseFolder();
// Works out the folder and fills ini_file, NameJPEG and stateini.
void AccessIniFile();
// Reads the sixteen keys into their globals, in their documented order.
void ReadConfiguration();

// --- start-up and instance identity ----------------------------------------
extern plat::UINT MESSAGE;
extern int PocSpusteni;
extern char AppName[32];
extern plat::HWND g_hwndMain;
extern t_ShowData ShowData;
// The pop-up bookkeeping (show, hide) is the pop-up rules' own.

// --- tray icon and shutdown
// --------------------------------------------------- The tray icon's record.
// Guarded inside tray.cpp; use the functions.
extern plat::NOTIFYICONDATA nid;
int AddNotifyIcon();
int DeleteNotifyIcon();
// Shows `text` (at most 63 characters) as the tray tip. Any thread.
void SetTrayTip(const char *text);
// The closing sequence, on WM_CLOSE before the window is destroyed.
void MyClose();

// Gives the process its instance number by probing the named objects
// "Vestibell_1.39<N>"; every name probed stays held until the process ends.
void NumberInstance();
int InitApp();
// The display state before anything is read: default size, not connected,
// no ring, no call, no button, the skin table.
void SetInitialDisplayState();
// Where a window saved at `window` opens: where it was, as long as some of
// its drag strip (the top `stripHeight` rows, left of the `cornerWidth`
// wide top-right corner) lies on one of `screens`; otherwise, as the strip
// is the only way to move a frameless window, centred on the first
// (primary) screen, or at its top-left when it is larger than that screen.
// Returns the window's new top-left.
plat::POINT ReachablePlace(const plat::RECT &window, int stripHeight,
                           int cornerWidth,
                           const std::vector<plat::RECT> &screens);
// The whole life of one instance; returns the exit code.
int VestibellMain();
