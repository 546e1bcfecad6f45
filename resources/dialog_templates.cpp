#include "resources/dialog_templates.h"

#include "resources/resources.h"

namespace res {

namespace {

using plat::ControlKind;
using plat::DialogControl;
using plat::DialogTemplate;

// Caption, system menu, modal frame, above other windows, Arial 8.
constexpr std::uint32_t kCallDialog = plat::WS_CAPTION | plat::WS_SYSMENU |
                                      plat::DS_MODALFRAME | plat::DS_SYSMODAL |
                                      plat::DS_SETFONT;
constexpr std::uint32_t kButton = plat::BS_PUSHBUTTON | plat::WS_TABSTOP;
constexpr std::uint32_t kField =
    plat::WS_BORDER | plat::ES_AUTOHSCROLL | plat::WS_TABSTOP;

constexpr DialogControl kAccept[] = {
    {ControlKind::Static, plat::IDC_STATIC, plat::SS_CENTER, 0, 10, 120, 10,
     "Accept call?"},
    {ControlKind::PushButton, plat::IDOK, kButton, 8, 25, 44, 14, "OK"},
    {ControlKind::PushButton, plat::IDCANCEL, kButton, 68, 25, 44, 14,
     "Cancel"},
};

constexpr DialogControl kTerminate[] = {
    {ControlKind::Static, plat::IDC_STATIC, plat::SS_CENTER, 0, 10, 120, 10,
     "Terminate call?"},
    {ControlKind::PushButton, plat::IDOK, kButton, 38, 25, 44, 14, "OK"},
};

constexpr DialogControl kAuthentication[] = {
    {ControlKind::Static, plat::IDC_STATIC, plat::SS_LEFT, 5, 5, 40, 10,
     "UserName:"},
    {ControlKind::Edit, kFieldUserName, kField, 45, 5, 55, 10, ""},
    {ControlKind::Static, plat::IDC_STATIC, plat::SS_LEFT, 5, 20, 40, 10,
     "Password:"},
    {ControlKind::Edit, kFieldPassword, kField | plat::ES_PASSWORD, 45, 20, 55,
     10, ""},
    {ControlKind::PushButton, plat::IDOK, kButton, 5, 35, 45, 14, "OK"},
    {ControlKind::PushButton, plat::IDCANCEL, kButton, 55, 35, 45, 14,
     "Cancel"},
};

constexpr std::uint32_t kSettingsDialog = plat::WS_CAPTION | plat::WS_SYSMENU |
                                          plat::DS_MODALFRAME |
                                          plat::DS_SETFONT | plat::DS_FIXEDSYS;
constexpr std::uint32_t kLabel = plat::SS_LEFT;
constexpr std::uint32_t kCheck = plat::BS_AUTOCHECKBOX | plat::WS_TABSTOP;
constexpr std::uint32_t kList =
    plat::CBS_DROPDOWNLIST | plat::WS_VSCROLL | plat::WS_TABSTOP;
constexpr int kNone = plat::IDC_STATIC;
// The settings dialog is 12 units taller than its controls need: the
// registration status line sits in that strip along the bottom, where it
// can be seen.
constexpr int kSettingsHeight = 132;

constexpr DialogControl kSettings[] = {
    {ControlKind::CheckBox, kSetUseSip, kCheck, 5, 5, 100, 10,
     "Use SIP server"},
    {ControlKind::Static, kNone, kLabel, 5, 15, 100, 10, "SIP server address:"},
    {ControlKind::Edit, kSetSipAddr, kField, 5, 25, 150, 10, ""},
    {ControlKind::Static, kNone, kLabel, 5, 37, 50, 10, "My identity:"},
    {ControlKind::Edit, kSetSipId, kField, 55, 37, 100, 10, ""},
    {ControlKind::Static, kNone, kLabel, 5, 49, 50, 10, "My password:"},
    {ControlKind::Edit, kSetSipPass, kField | plat::ES_PASSWORD, 55, 49, 100,
     10, ""},
    {ControlKind::Static, kNone, kLabel, 5, 61, 50, 10, "Expiration[sec]:"},
    {ControlKind::Edit, kSetRegDuration, kField | plat::ES_NUMBER, 55, 61, 100,
     10, ""},
    {ControlKind::Static, kNone, kLabel, 5, 73, 50, 10, "Temp. identity:"},
    {ControlKind::Edit, kSetDoorSipId, kField, 55, 73, 100, 10, ""},
    {ControlKind::Static, kNone, kLabel, 5, 85, 50, 10, "Call prefix:"},
    {ControlKind::Edit, kSetCallPrefix, kField, 55, 85, 100, 10, ""},
    {ControlKind::Static, kSetAddressLabel, kLabel, 5, 97, 100, 10,
     "Vestibell IP address:"},
    {ControlKind::Edit, kSetDoorAddress, kField, 5, 107, 150, 10, ""},
    {ControlKind::Static, kSetStatus, kLabel, 5, kSettingsHeight - 12, 260, 10,
     ""},
    {ControlKind::Static, kSetSeparator, plat::SS_ETCHEDVERT, 160, 5, 1, 115,
     ""},
    {ControlKind::Static, kNone, kLabel, 165, 5, 100, 10, "Playback device:"},
    {ControlKind::ComboBox, kSetPlaybackList, kList, 165, 15, 100, 114, ""},
    {ControlKind::PushButton, kSetPlaybackVolume, kButton, 185, 30, 60, 14,
     "Volume control"},
    {ControlKind::Static, kNone, kLabel, 165, 45, 100, 10, "Capture device:"},
    {ControlKind::ComboBox, kSetCaptureList, kList, 165, 55, 100, 114, ""},
    {ControlKind::PushButton, kSetCaptureVolume, kButton, 185, 70, 60, 14,
     "Volume control"},
    {ControlKind::CheckBox, kSetPopUp, kCheck, 165, 90, 100, 10,
     "Pop-up screen upon call"},
    {ControlKind::Static, kSetSeparator, plat::SS_ETCHEDHORZ, 165, 87, 100, 1,
     ""},
    {ControlKind::PushButton, plat::IDOK, kButton, 165, 103, 45, 14, "OK"},
    {ControlKind::PushButton, plat::IDCANCEL, kButton, 220, 103, 45, 14,
     "Cancel"},
};

template <std::size_t N>
constexpr DialogTemplate Make(std::uint32_t style, int cx, int cy,
                              const char *caption,
                              const DialogControl (&controls)[N]) {
  return {style, 50, 50, cx, cy, caption, "Arial", 8, controls, N};
}

constexpr DialogTemplate kTemplates[] = {
    Make(kCallDialog | plat::WS_VISIBLE, 120, 45, "Accept", kAccept),
    Make(kCallDialog | plat::WS_VISIBLE, 120, 45, "Terminate", kTerminate),
    Make(kCallDialog, 105, 55, "Authentication", kAuthentication),
    {kSettingsDialog, 10, 15, 270, kSettingsHeight, "Vestibell version 1.39",
     "Arial", 8, kSettings, std::size(kSettings)},
};
constexpr int kTemplateIds[] = {kDialogAccept, kDialogTerminate,
                                kDialogAuthentication, kDialogSettings};

plat::ResourceBytes FindBytes(int id, int variant) {
  const ResourceData data = FindResource(id, variant);
  return {data.data, data.size};
}

const plat::Module kProgram = {FindDialogTemplate, FindBytes};

} // namespace

const plat::DialogTemplate *FindDialogTemplate(int id) {
  for (std::size_t i = 0; i < std::size(kTemplateIds); ++i)
    if (kTemplateIds[i] == id)
      return &kTemplates[i];
  return nullptr;
}

plat::HINSTANCE ProgramModule() { return &kProgram; }

plat::HICON ProgramIcon() {
  static const plat::HICON icon = plat::LoadIcon(&kProgram, kIconId);
  return icon;
}

} // namespace res
