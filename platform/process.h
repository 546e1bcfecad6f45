// Programs this process starts and ends: the desktop's mixer, for one.
#pragma once

#include <string>
#include <vector>

namespace plat {

// A program started by StartProcess; pid 0 for none. Until it is reaped
// (EndProcess) its id cannot be reused, so
// ending it never reaches a stranger.
struct ChildProcess {
  int pid = 0;
};

// Starts argv[0], looked up in PATH, with the rest as its arguments, in a
// process group of its own (so that ending it ends what it started), with
// standard input from /dev/null and the environment of this process. False
// when it cannot be started (not found, not executable); `out` is then
// cleared.
bool StartProcess(const std::vector<std::string> &argv, ChildProcess *out);
// Ends it and its group (a polite request, then, after a second, by force),
// reaps it and clears the record. Harmless on one that already ended.
void EndProcess(ChildProcess &process);
// Whether `name` is an executable file in one of PATH's folders.
bool ProgramOnPath(const char *name);

} // namespace plat
