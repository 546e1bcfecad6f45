// Module desktop: what the program puts on the desktop beside its skinned
// window, in Qt itself. Here the Visitors window: the visitors' record,
// newest first, with each visit's pictures to play back, save or delete.
//
// Threads: the window thread only. The window reads and writes the record
// through a worker of its own (visitors_worker.h), so it opens at once
// whatever the record holds and never holds up the live picture.
#pragma once

#include <cstdint>
#include <string>

namespace desktop {

// A visit to show on opening, by when its ring started (ms since 1970,
// UTC; 0: the newest) and whether it was a SIP call.
struct t_VisitorsAt {
  std::int64_t startedMs = 0;
  bool sip = false;
};

// Opens the window, or brings it up when open, on the record under
// `dataFolder` (where the settings file is), with `at` selected when it is
// listed. Opening marks the visits it lists as seen.
void OpenVisitorsWindow(const std::string &dataFolder,
                        const t_VisitorsAt &at = {});
// Closes it, ends its worker and forgets what it showed (closing the
// program).
void CloseVisitorsWindow();

// What the window shows, for the benchmark.
struct t_VisitorsShown {
  bool shown = false;
  bool listed = false; // the record's rows are in the list
  int rows = 0;
  int thumbnails = 0;         // made so far
  int thumbnailsOnScreen = 0; // of the rows in view, made
  int rowsOnScreen = 0;
};
t_VisitorsShown VisitorsWindowShown();

} // namespace desktop
