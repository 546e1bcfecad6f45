// The background picture of the video area while the video is not connected.
#pragma once

#include "platform/gdi.h"

// Decodes the JPEG file at `path`, rescales it with the bilinear filter to
// exactly w x h and draws it with its top-left corner at (x, y). False when
// the file cannot be decoded or rescaled; nothing is drawn then. Any thread.
bool DrawBackgroundPicture(plat::HDC hdc, const char *path, int x, int y, int w,
                           int h);
