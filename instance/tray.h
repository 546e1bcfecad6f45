// Module tray: the instance's icon in the desktop's tray. Its record is
// guarded inside tray.cpp; only these functions touch it.
#pragma once

#include <string>

#include "platform/window.h"

// Adds the icon with the program's tip; 0 (after telling the user) when the
// tray refuses it.
int AddNotifyIcon();
int DeleteNotifyIcon();
// Shows `text` (at most 63 characters) as the tray tip. Any thread.
void SetTrayTip(const char *text);

// The door's title as the window's title and the tray tip, each with the
// missed visitors' count while there are any (see SetMissedVisitors). Any
// thread.
void SetDoorTitle(plat::HWND hwnd, const char *title);
// Missed visitors nobody has looked at yet: the icon carries a red mark
// and the tip says how many ("2 missed visitors", first, so a long title
// cannot cut it off); without a tray, the window's title says it after the
// door's. Window thread.
void SetMissedVisitors(int count);
// "1 missed visitor", "2 missed visitors"; empty for none.
std::string MissedVisitorsText(int count);
// The door's title with the count after it, as the window shows it
// without a tray: "Front door (2 missed visitors)".
std::string TitleWithMissed(const char *title, int count);
