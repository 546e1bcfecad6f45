// The skin's buttons: what a release of the left mouse button does.
#pragma once

// Carries out the command of the button `But` under the pointer at release.
// Window thread.
void MyLButtonUp(int But);
