// The background picture of the video area while the video is not
// connected: Skin/pozadi.jpg, read when the skin is loaded.
#pragma once

#include "platform/gdi.h"

// Reads the picture file into memory (or forgets it when it is missing,
// not a regular file, or larger than a picture of ours can be). With the
// skin, on the window thread.
void LoadBackgroundPicture(const char *path);
// Whether a picture was read. Any thread.
bool HasBackgroundPicture();
// Decodes the picture read, rescales it with the bilinear filter to exactly
// w x h and draws it with its top-left corner at (x, y). False when there
// is none or it cannot be decoded or rescaled; nothing is drawn then. Any
// thread.
bool DrawBackgroundPicture(plat::HDC hdc, int x, int y, int w, int h);
