// The call dialogs' templates and the program's resources as a module
// handle (templates, the ring sound, the icon) for the platform layer.
#pragma once

#include "platform/dialog_box.h"

namespace res {

inline constexpr int kDialogAuthentication = 118;
inline constexpr int kDialogTerminate = 123;
inline constexpr int kDialogAccept = 124;
// The Authentication dialog's fields.
inline constexpr int kFieldUserName = 119;
inline constexpr int kFieldPassword = 120;

// Null when the program has no template `id`.
const plat::DialogTemplate *FindDialogTemplate(int id);
// The program's module: CreateDialogParam(ProgramModule(), 124, ...),
// PlaySound(MAKEINTRESOURCE(kRingId), ProgramModule(), SND_RESOURCE | ...).
plat::HINSTANCE ProgramModule();

} // namespace res
