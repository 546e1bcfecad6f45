// Why the door unit cannot be reached: the words under "Connecting, please
// wait..." and in the tray tip while the video is not connected
// (ShowData.why). Written by the reader; any thread may read them.
#pragma once

#include <string>

#include "platform/http.h"

// The address and `why` ("127.0.0.1:8080: connection refused"); with a
// null address, `why` alone; an empty `why` says nothing is known.
void SetWhy(const char *address, const char *why);
// What the request to the door unit at `address` came to: why it failed,
// the answer's HTTP error, or (reached) nothing. A request given up on
// leaves what was known.
void TellWhy(const char *address, plat::HINTERNET request);
// The tray tip of a run's end: the words, or `otherwise` when none.
std::string TipWhenNotConnected(const char *otherwise);
