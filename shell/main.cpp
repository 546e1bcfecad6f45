#include <cstdio>
#include <cstdlib>

#include "shell/main.h"

// The command line is ignored: everything comes from the configuration.
int main() {
  const int code = VestibellMain();
  // Worker threads are never joined; end the process like Windows does,
  // without running destructors under threads that may still be working.
  std::fflush(nullptr);
  std::_Exit(code);
}
