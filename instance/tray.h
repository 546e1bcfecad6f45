// Module tray: the instance's icon in the desktop's tray. Its record is
// guarded inside tray.cpp; only these functions touch it.
#pragma once

// Adds the icon with the program's tip; 0 (after telling the user) when the
// tray refuses it.
int AddNotifyIcon();
int DeleteNotifyIcon();
// Shows `text` (at most 63 characters) as the tray tip. Any thread.
void SetTrayTip(const char *text);
