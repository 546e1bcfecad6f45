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

// The registered inter-instance message, and its codes (in wParam).
extern plat::UINT MESSAGE;
enum : plat::WPARAM {
  MSG_REPORT_DOOR_ID = 0,
  MSG_SHOW_WINDOW = 2,
  MSG_SET_IN_CALL = 3,
  MSG_HANG_UP = 4,
  MSG_DIAL_REQUEST = 5,
  MSG_SEND_CALL_TARGET = 6,
  MSG_RELOAD_SIP_SETTINGS = 7,
  MSG_CORE_RELEASED = 8,
  MSG_CALL_ENDED = 9,
  MSG_START_CORE = 10,
  MSG_REG_STATE = 11,
};
// This instance's number, from 1, and its name "Vestibell_1.39<N>".
extern int PocSpusteni;
extern char AppName[32];
extern plat::HWND g_hwndMain;
