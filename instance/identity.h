// Module identity: who this instance is among the copies that run side by
// side, and the window it answers through. Set by start-up on the window
// thread before any other thread runs; only read afterwards.
#pragma once

#include "platform/window.h"

// The literal that names this version everywhere: the registered message,
// the prefix of the instance names, the window title and the tray tip.
inline constexpr const char kAppTitle[] = "Vestibell_1.39";
inline constexpr const char kClassName[] = "VestibellClass";
// The tray icon's callback message (WM_APP + 1).
inline constexpr plat::UINT WM_TRAYICON = 0x8001;
// The count of missed visitors nobody has looked at changed; wParam is the
// new count (WM_APP + 2, posted by whoever counts).
inline constexpr plat::UINT WM_MISSED_VISITORS = 0x8002;

// This instance's number, from 1, and its name "Vestibell_1.39<N>".
extern int PocSpusteni;
extern char AppName[32];
extern plat::HWND g_hwndMain;
