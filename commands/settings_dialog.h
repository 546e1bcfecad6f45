// The settings dialog: the door unit's address, the SIP account, the sound
// devices and the pop-up behaviour; and the mixer it can start.
#pragma once

#include <string>
#include <vector>

#include "platform/dialog_box.h"
#include "platform/process.h"

// The index in the device lists of the capture and playback device chosen
// or found. Window thread.
extern int aktivni_snd_capture;
extern int aktivni_snd_playback;
// The mixer last started from the dialog; pid 0 when none runs. Window
// thread.
extern plat::ChildProcess pi;

// The dialog procedure of template 104 (modal, owner g_hwndMain).
plat::INT_PTR DialogProc(plat::HDLG hwndDlg, plat::UINT uMsg,
                         plat::WPARAM wParam, plat::LPARAM lParam);

// The mixer's command line for playback or capture, as tried in order:
// the desktop's mixer on its device tab, else a terminal mixer.
std::vector<std::vector<std::string>> VolumeControlCommands(bool capture);
// Ends the previous mixer and starts a new one; false (after the "Error:
// sndvol" box) when none could be started.
bool StartVolumeControl(bool capture);
// Ends the mixer, if one runs (closing).
void EndVolumeControl();

// What OK keeps of the fields, read from the dialog.
struct t_SettingsFields {
  char address[64];     // 105
  bool popUp;           // 106
  bool useSip;          // 115
  char doorSipId[64];   // 116
  char callPrefix[64];  // 125
  char regDuration[25]; // 114
  char sipId[64];       // 112
  char sipPass[64];     // 121
  char sipAddr[64];     // 113
};
// Saving: puts the fields into the running instance (the reader asked to
// reconnect when the address really changed), writes the settings file in
// its order and tells the core owner. False when the file could not be
// written; the values apply all the same.
bool SaveSettings(t_SettingsFields fields);
