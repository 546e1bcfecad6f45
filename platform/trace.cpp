// The trace file: one write per event, appended, so lines from several
// threads never mix and nothing is lost when the program is killed.
#include "platform/trace.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

namespace plat {

namespace {

int OpenTrace() {
  const char *path = std::getenv("VESTIBELL_TRACE");
  if (path == nullptr || *path == '\0')
    return -1;
  return open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
}

const char *const kNames[] = {
    "frame",   "drawn",   "presented", "call",       "shown",      "invite",
    "ringing", "dialog",  "hangup",    "hung-up",    "accepted",   "answered",
    "dial",    "invited", "core-up",   "registered", "visit-saved"};

} // namespace

const int g_traceFd = OpenTrace();

void TraceWrite(TraceEvent event) {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  char line[64];
  const int n = std::snprintf(
      line, sizeof line, "%s %lld\n", kNames[event],
      static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec);
  if (n > 0) [[maybe_unused]]
    ssize_t written = write(g_traceFd, line, static_cast<std::size_t>(n));
}

} // namespace plat
