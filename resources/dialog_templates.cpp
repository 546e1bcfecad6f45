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
};
constexpr int kTemplateIds[] = {kDialogAccept, kDialogTerminate,
                                kDialogAuthentication};

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

} // namespace res
