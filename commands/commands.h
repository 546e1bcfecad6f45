// The skin's buttons: what a release of the left mouse button does.
#pragma once

#include "instance/protocol.h"

// The SIP address this instance wants dialled: written by the call button,
// sent whole (spaces after the text) when the core owner asks for it.
// Window thread only.
extern char CallToDoorPhone[kCallTargetSize];

// Carries out the command of the button `But` under the pointer at release.
// Window thread.
void MyLButtonUp(int But);
