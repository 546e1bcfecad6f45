// Everything the program needs from the system, in one include.
#pragma once

#include "platform/files.h"
#include "platform/gdi.h"
#include "platform/http.h"
#include "platform/named_object.h"
#include "platform/profile.h"
#include "platform/tray.h"
#include "platform/window.h"
