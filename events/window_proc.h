// The main window's procedure: where every message of the instance enters.
#pragma once

#include "platform/window.h"

// The closing sequence WM_CLOSE runs before the window goes. It lives in
// start-up, above this module, which hands it in before the window exists.
void SetCloseSequence(void (*close)());
// What "Visitors..." in the context menus opens: the Visitors window,
// which also lives above this module.
void SetVisitorsOpener(void (*open)());

plat::LRESULT WindowProcMain(plat::HWND hwnd, plat::UINT message,
                             plat::WPARAM wParam, plat::LPARAM lParam);
