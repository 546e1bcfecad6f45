// The main window's procedure: where every message of the instance enters.
#pragma once

#include "platform/window.h"

plat::LRESULT WindowProcMain(plat::HWND hwnd, plat::UINT message,
                             plat::WPARAM wParam, plat::LPARAM lParam);
