// instance_probe: numbers itself like a starting instance, prints
// "<number> <name>", then holds its names until its input closes.
#include <cstdio>
#include <unistd.h>

#include "instance/identity.h"
#include "instance/settings.h"
#include "instance/tray.h"
#include "shell/main.h"

int main() {
  NumberInstance();
  std::printf("%d %s\n", PocSpusteni, AppName);
  std::fflush(stdout);
  char buffer[64];
  while (read(0, buffer, sizeof buffer) > 0) {
  }
  return 0;
}
