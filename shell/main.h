// Module main: start-up and shutdown, the two ends of an instance's life.
#pragma once

#include <vector>

#include "instance/display_state.h"
#include "platform/window.h"

// The closing sequence, on WM_CLOSE before the window is destroyed.
void MyClose();

// Gives the process its instance number by probing the named objects
// "Vestibell_1.39<N>"; every name probed stays held until the process ends.
void NumberInstance();
int InitApp();
// Starts the visitors' record and hands it what the reader and the core
// owner see: after the settings are read, before the reader starts.
void WireVisits();
// The display state before anything is read: default size, not connected,
// no ring, no call, no button, the skin table.
void SetInitialDisplayState();
// Where a window saved at `window` opens: where it was, as long as some of
// its drag strip (the top `stripHeight` rows, left of the `cornerWidth`
// wide top-right corner) lies on one of `screens`; otherwise, as the strip
// is the only way to move a frameless window, centred on the first
// (primary) screen, or at its top-left when it is larger than that screen.
// Returns the window's new top-left.
plat::POINT ReachablePlace(const plat::RECT &window, int stripHeight,
                           int cornerWidth,
                           const std::vector<plat::RECT> &screens);
// The size a window saved at `saved` opens with: no smaller than `minimum`
// and no larger than the box around all of `screens` (when any are known),
// so that a size edited by hand cannot have a huge window made.
t_ClientSize UsableSize(t_ClientSize saved, plat::POINT minimum,
                        const std::vector<plat::RECT> &screens);
// The whole life of one instance; returns the exit code.
int VestibellMain();
