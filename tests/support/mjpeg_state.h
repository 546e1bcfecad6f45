// The parser's own state, by its short names, for tests that look into it.
#pragma once

#include "video/mjpeg_parser.h"

using mjpeg::delka;
using mjpeg::delkas;
using mjpeg::head_index;
using mjpeg::state;
