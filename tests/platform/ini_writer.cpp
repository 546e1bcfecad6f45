// ini_writer FILE PREFIX COUNT: writes COUNT keys PREFIX<i>=<i> into section
// "Load" of FILE, one write each, as fast as it can.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/profile.h"

int main(int argc, char **argv) {
  if (argc != 4)
    return 2;
  const int count = std::atoi(argv[3]);
  int failed = 0;
  for (int i = 0; i < count; ++i) {
    const std::string key = std::string(argv[2]) + std::to_string(i);
    if (!plat::WritePrivateProfileString("Load", key.c_str(),
                                         std::to_string(i).c_str(), argv[1]))
      ++failed;
  }
  std::printf("%d\n", failed);
  return failed == 0 ? 0 : 1;
}
