// What the program tells whoever reads its standard error (from the menu,
// the session's log): one line a report, behind the program's name, so
// that every line says where it comes from. Any thread.
#pragma once

namespace plat {

// printf-style; the name in front and the line end are added.
void Report(const char *format, ...) __attribute__((format(printf, 1, 2)));

} // namespace plat
