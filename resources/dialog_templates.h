// The call dialogs' templates and the program's resources as a module
// handle (templates, the ring sound, the icon) for the platform layer.
#pragma once

#include "platform/dialog_box.h"

namespace res {

inline constexpr int kDialogSettings = 104;
inline constexpr int kDialogAuthentication = 118;
inline constexpr int kDialogTerminate = 123;
inline constexpr int kDialogAccept = 124;
// The Authentication dialog's fields.
inline constexpr int kFieldUserName = 119;
inline constexpr int kFieldPassword = 120;
// The settings dialog's controls.
inline constexpr int kSetDoorAddress = 105;    // edit: IP_addr
inline constexpr int kSetPopUp = 106;          // check box: PopUp
inline constexpr int kSetCaptureList = 107;    // drop-down list
inline constexpr int kSetPlaybackList = 108;   // drop-down list
inline constexpr int kSetCaptureVolume = 109;  // push button
inline constexpr int kSetPlaybackVolume = 110; // push button
inline constexpr int kSetSipId = 112;          // edit: SIP_id
inline constexpr int kSetSipAddr = 113;        // edit: SIP_addr
inline constexpr int kSetRegDuration = 114;    // edit, digits only
inline constexpr int kSetUseSip = 115;         // check box: UseSIP
inline constexpr int kSetDoorSipId = 116;      // edit: SIP_id_doorphone
inline constexpr int kSetStatus = 117;         // static: registration
inline constexpr int kSetSipPass = 121;        // edit, masked
inline constexpr int kSetAddressLabel = 122;   // static: label of 105
inline constexpr int kSetCallPrefix = 125;     // edit: SIP_call_prefix
inline constexpr int kSetSeparator = 111;      // the two etched lines

// Null when the program has no template `id`.
const plat::DialogTemplate *FindDialogTemplate(int id);
// The program's module: CreateDialogParam(ProgramModule(), 124, ...),
// PlaySound(MAKEINTRESOURCE(kRingId), ProgramModule(), SND_RESOURCE | ...).
plat::HINSTANCE ProgramModule();
// The program's icon (resource kIconId) in every size it has, for windows,
// dialogs and the tray: made at the first call and kept, as a resource of
// the program. Window thread (start-up makes it before any other thread
// may ask).
plat::HICON ProgramIcon();

} // namespace res
