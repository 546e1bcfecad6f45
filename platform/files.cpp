#include "platform/files.h"

#include <cerrno>
#include <cstdlib>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace plat {

std::optional<std::string> GetEnvironmentVariable(const char *name) {
  const char *value = std::getenv(name);
  if (value == nullptr)
    return std::nullopt;
  return std::string(value);
}

std::string DefaultConfigBase() {
  const char *xdg = std::getenv("XDG_CONFIG_HOME");
  std::string base;
  if (xdg != nullptr && xdg[0] == '/') {
    base = xdg;
  } else {
    const char *home = std::getenv("HOME");
    if (home == nullptr || home[0] == '\0') {
      const passwd *pw = getpwuid(getuid());
      home = pw != nullptr ? pw->pw_dir : "/";
    }
    base = std::string(home) + "/.config";
  }
  // The base stands where Windows had a drive root, which always exists.
  if (!PathExists(base))
    mkdir(base.c_str(), 0700);
  return base;
}

bool PathExists(const std::string &path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0;
}

bool CreateDirectory(const std::string &path) {
  return mkdir(path.c_str(), 0700) == 0;
}

bool DeleteFile(const std::string &path) { return unlink(path.c_str()) == 0; }

} // namespace plat
