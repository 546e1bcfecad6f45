// The settings dialog's procedure, its saving, and the mixer it starts.
#include "commands/settings_dialog.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "instance/identity.h"
#include "instance/protocol.h"
#include "instance/settings.h"
#include "platform/message_box.h"
#include "platform/message_space.h"
#include "resources/dialog_templates.h"
#include "resources/resources.h"
#include "skin/skin.h"
#include "telephony/caller.h"
#include "telephony/telephony.h"
#include "video/video.h"

using namespace plat;

int aktivni_snd_capture = 0;
int aktivni_snd_playback = 0;
ChildProcess pi;

namespace {

constexpr int kDroppedWidth = 200;

// The six SIP fields, in the order they are switched together.
constexpr int kSipFields[] = {res::kSetSipAddr,     res::kSetSipId,
                              res::kSetRegDuration, res::kSetSipPass,
                              res::kSetDoorSipId,   res::kSetCallPrefix};

// Each field takes no more than its setting can hold: longer text is
// refused while typing instead of being cut when saved.
struct FieldLimit {
  int id;
  WPARAM chars;
};
constexpr FieldLimit kLimits[] = {
    {res::kSetDoorAddress, 63}, {res::kSetSipId, 63},
    {res::kSetSipAddr, 63},     {res::kSetSipPass, 63},
    {res::kSetRegDuration, 24}, {res::kSetDoorSipId, 63},
    {res::kSetCallPrefix, 63}};

void SetSipFieldsReadOnly(HDLG dlg, bool readOnly) {
  for (int id : kSipFields)
    SendDlgItemMessage(dlg, id, EM_SETREADONLY, readOnly ? 1 : 0, 0);
}

bool Checked(HDLG dlg, int id) {
  return SendDlgItemMessage(dlg, id, BM_GETCHECK, 0, 0) == LRESULT(BST_CHECKED);
}

void Check(HDLG dlg, int id, bool on) {
  SendDlgItemMessage(dlg, id, BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
}

void FillDeviceLists(HDLG dlg) {
  aktivni_snd_capture = 0;
  aktivni_snd_playback = 0;
  const std::vector<std::string> names = SoundDevices();
  for (std::size_t a = 0; a < names.size(); ++a) {
    const LPARAM text = reinterpret_cast<LPARAM>(names[a].c_str());
    SendDlgItemMessage(dlg, res::kSetCaptureList, CB_ADDSTRING, 0, text);
    if (IsStoredDevice(names[a], Snd_capture))
      aktivni_snd_capture = static_cast<int>(a);
    SendDlgItemMessage(dlg, res::kSetPlaybackList, CB_ADDSTRING, 0, text);
    if (IsStoredDevice(names[a], Snd_playback))
      aktivni_snd_playback = static_cast<int>(a);
  }
  SendDlgItemMessage(dlg, res::kSetCaptureList, CB_SETCURSEL,
                     aktivni_snd_capture, 0);
  SendDlgItemMessage(dlg, res::kSetCaptureList, CB_SETDROPPEDWIDTH,
                     kDroppedWidth, 0);
  SendDlgItemMessage(dlg, res::kSetPlaybackList, CB_SETCURSEL,
                     aktivni_snd_playback, 0);
  SendDlgItemMessage(dlg, res::kSetPlaybackList, CB_SETDROPPEDWIDTH,
                     kDroppedWidth, 0);
}

// The device chosen in `list` into `device` and its index.
void TakeDevice(HDLG dlg, int list, char (&device)[50], int &index) {
  const LRESULT vyber = SendDlgItemMessage(dlg, list, CB_GETCURSEL, 0, 0);
  if (vyber == CB_ERR)
    return;
  const LRESULT length =
      SendDlgItemMessage(dlg, list, CB_GETLBTEXTLEN, WPARAM(vyber), 0);
  if (length == CB_ERR)
    return;
  std::string text(static_cast<std::size_t>(length) + 1, '\0');
  SendDlgItemMessage(dlg, list, CB_GETLBTEXT, WPARAM(vyber),
                     reinterpret_cast<LPARAM>(text.data()));
  std::snprintf(device, sizeof device, "%s", text.c_str());
  index = static_cast<int>(vyber);
}

// "Registration failed" with the core owner's reason, or, when no copy
// answered, why there is no SIP side at all.
void ShowRegistrationFailure(HDLG dlg) {
  std::string reason = SIP_reg_reason.value_or("");
  if (!SIP_reg_reason)
    if (const int port = TakenSipPort())
      reason =
          "SIP port " + std::to_string(port) + " is taken by another program";
  if (reason.empty())
    return;
  const std::string text = "Registration failed: " + reason;
  SetDlgItemText(dlg, res::kSetStatus, text.c_str());
}

void OnInitDialog(HDLG dlg) {
  ShowData.Button = BTN_NONE;
  // No reader restart while the dialog is open.
  KillTimer(g_hwndMain, kReaderTimerId);
  ReadSipSettings();
  SetDialogClassIcon(dlg, res::ProgramIcon());

  for (const FieldLimit &limit : kLimits)
    SendDlgItemMessage(dlg, limit.id, EM_LIMITTEXT, limit.chars, 0);
  char text[64];
  IP_addr.CopyTo(text, sizeof text);
  SetDlgItemText(dlg, res::kSetDoorAddress, text);
  Check(dlg, res::kSetPopUp, PopUp != 0);
  SetDlgItemText(dlg, res::kSetDoorSipId, SIP_id_doorphone);
  SetDlgItemText(dlg, res::kSetCallPrefix, SIP_call_prefix);
  {
    std::lock_guard lock(SipAccountMutex);
    SetDlgItemText(dlg, res::kSetSipId, SIP_id);
    SetDlgItemText(dlg, res::kSetSipPass, SIP_pass);
  }
  SetDlgItemText(dlg, res::kSetSipAddr, SIP_addr);
  std::snprintf(text, sizeof text, "%i", SIP_reg_duration);
  SetDlgItemText(dlg, res::kSetRegDuration, text);

  if (UseSIP) {
    Check(dlg, res::kSetUseSip, true);
    SetDlgItemText(dlg, res::kSetAddressLabel, "Vestibell video IP address:");
    SetDlgItemText(dlg, res::kSetStatus, "Registration failed");
    // The core owner answers inside this send; without an answer the state
    // is not known, and an old one must not show.
    SIP_reg = 0;
    SIP_reg_reason.reset();
    SendCode(HWND_BROADCAST, MSG_REG_STATE, OwnHandle());
    if (SIP_reg != 0)
      SetDlgItemText(dlg, res::kSetStatus, "Registration successful");
    else
      ShowRegistrationFailure(dlg);
  } else {
    SetDlgItemText(dlg, res::kSetAddressLabel, "Vestibell IP address:");
    Check(dlg, res::kSetUseSip, false);
    SetSipFieldsReadOnly(dlg, true);
  }
  FillDeviceLists(dlg);
}

void OnUseSip(HDLG dlg) {
  if (Checked(dlg, res::kSetUseSip)) {
    SetSipFieldsReadOnly(dlg, false);
    SetDlgItemText(dlg, res::kSetAddressLabel, "Vestibell video IP address:");
  } else {
    SetSipFieldsReadOnly(dlg, true);
    SetDlgItemText(dlg, res::kSetStatus, "");
    SetDlgItemText(dlg, res::kSetAddressLabel, "Vestibell IP address:");
  }
}

t_SettingsFields ReadFields(HDLG dlg) {
  t_SettingsFields f{};
  GetDlgItemText(dlg, res::kSetDoorAddress, f.address, sizeof f.address);
  f.popUp = Checked(dlg, res::kSetPopUp);
  f.useSip = Checked(dlg, res::kSetUseSip);
  GetDlgItemText(dlg, res::kSetDoorSipId, f.doorSipId, sizeof f.doorSipId);
  GetDlgItemText(dlg, res::kSetCallPrefix, f.callPrefix, sizeof f.callPrefix);
  GetDlgItemText(dlg, res::kSetRegDuration, f.regDuration,
                 sizeof f.regDuration);
  GetDlgItemText(dlg, res::kSetSipId, f.sipId, sizeof f.sipId);
  GetDlgItemText(dlg, res::kSetSipPass, f.sipPass, sizeof f.sipPass);
  GetDlgItemText(dlg, res::kSetSipAddr, f.sipAddr, sizeof f.sipAddr);
  return f;
}

} // namespace

bool SaveSettings(t_SettingsFields f) {
  char IP_addr_new[64];
  std::snprintf(IP_addr_new, sizeof IP_addr_new, "%s",
                f.address[0] ? f.address : kEmptyIpAddr);
  char current[64];
  IP_addr.CopyTo(current, sizeof current);
  if (!SameDoorAddress(IP_addr_new, current)) {
    // The run in progress drops its connection; the timer starts one for
    // the new address.
    RequestReconnect();
  }
  IP_addr.Set(IP_addr_new);
  PopUp = f.popUp ? 1 : 0;
  PopupRearm({show, hide, ShowData.call});
  UseSIP = f.useSip ? 1 : 0;
  std::snprintf(SIP_id_doorphone, sizeof SIP_id_doorphone, "%s", f.doorSipId);
  std::snprintf(SIP_call_prefix, sizeof SIP_call_prefix, "%s", f.callPrefix);
  // The dialog refuses such a value while the field can be edited; kept
  // from a file, it is replaced, never handed on.
  if (!IsRegDuration(f.regDuration))
    std::snprintf(f.regDuration, sizeof f.regDuration, "%d",
                  kRegDurationDefault);
  SIP_reg_duration = std::atoi(f.regDuration);
  {
    std::lock_guard lock(SipAccountMutex);
    std::snprintf(SIP_id, sizeof SIP_id, "%s",
                  f.sipId[0] ? f.sipId : kDefaultSipId);
    std::snprintf(SIP_pass, sizeof SIP_pass, "%s", f.sipPass);
  }
  std::snprintf(SIP_addr, sizeof SIP_addr, "%s", f.sipAddr);
  const bool written = WriteSettings(f.regDuration);
  // After the writes: the core owner re-reads what is now in the file.
  PostCode(HWND_BROADCAST, MSG_RELOAD_SIP_SETTINGS, OwnHandle());
  return written;
}

std::vector<std::vector<std::string>> VolumeControlCommands(bool capture) {
  return {{"pavucontrol", capture ? "--tab=4" : "--tab=3"},
          {"x-terminal-emulator", "-e", "alsamixer", "-V",
           capture ? "capture" : "playback"}};
}

bool StartVolumeControl(bool capture) {
  EndVolumeControl();
  for (const auto &command : VolumeControlCommands(capture)) {
    // The terminal would open and close again without its mixer.
    if (command[0] == "x-terminal-emulator" &&
        !ProgramOnPath(command[2].c_str()))
      continue;
    if (StartProcess(command, &pi))
      return true;
  }
  MessageBox(g_hwndMain, "Error: sndvol", "Error", MB_ICONHAND);
  return false;
}

void EndVolumeControl() { EndProcess(pi); }

INT_PTR DialogProc(HDLG hwndDlg, UINT uMsg, WPARAM wParam, LPARAM) {
  switch (uMsg) {
  case WM_INITDIALOG:
    OnInitDialog(hwndDlg);
    break;
  case WM_COMMAND:
    switch (LOWORD(wParam)) {
    case res::kSetCaptureList:
      if (HIWORD(wParam) == CBN_SELCHANGE)
        TakeDevice(hwndDlg, res::kSetCaptureList, Snd_capture,
                   aktivni_snd_capture);
      break;
    case res::kSetPlaybackList:
      if (HIWORD(wParam) == CBN_SELCHANGE)
        TakeDevice(hwndDlg, res::kSetPlaybackList, Snd_playback,
                   aktivni_snd_playback);
      break;
    case res::kSetCaptureVolume:
      StartVolumeControl(true);
      break;
    case res::kSetPlaybackVolume:
      StartVolumeControl(false);
      break;
    case res::kSetUseSip:
      OnUseSip(hwndDlg);
      break;
    case IDOK: {
      const t_SettingsFields fields = ReadFields(hwndDlg);
      if (fields.useSip && !IsRegDuration(fields.regDuration)) {
        char text[96];
        std::snprintf(text, sizeof text,
                      "Expiration[sec]: a whole number of seconds from 1 to "
                      "%d, please.",
                      kRegDurationMax);
        MessageBox(g_hwndMain, text, "Error", MB_ICONEXCLAMATION);
        break; // the dialog stays open for a correction
      }
      const bool written = SaveSettings(fields);
      SetTimer(g_hwndMain, kReaderTimerId, kReaderTimerMs);
      EndDialog(hwndDlg, 1);
      if (!written) {
        // The values are in use in this copy; say that they will not last.
        char text[kPathSize + 128];
        std::snprintf(text, sizeof text,
                      "The settings could not be saved in %s. They apply "
                      "until this copy of Vestibell is closed.",
                      ini_file);
        MessageBox(g_hwndMain, text, "Error", MB_ICONHAND);
      }
      break;
    }
    case IDCANCEL:
      EndDialog(hwndDlg, 2);
      break;
    default:
      break;
    }
    break;
  default:
    break;
  }
  return 0;
}
