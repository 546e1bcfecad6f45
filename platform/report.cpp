#include "platform/report.h"

#include <cstdarg>
#include <cstdio>

namespace plat {

void Report(const char *format, ...) {
  char line[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  // One write, so that lines of several threads do not interleave.
  std::fprintf(stderr, "Vestibell: %s\n", line);
}

} // namespace plat
