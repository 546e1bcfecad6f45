#include "platform/runtime_folder.h"

#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace plat {

bool OwnPrivateFolder(const std::string &path) {
  if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
    return false;
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
    return false;
  return st.st_uid == geteuid() && (st.st_mode & 077) == 0;
}

std::string PrivateRuntimeFolder() {
  const char *runtime = std::getenv("XDG_RUNTIME_DIR");
  std::string base = (runtime != nullptr && runtime[0] == '/')
                         ? std::string(runtime) + "/vestibell"
                         : "/tmp/vestibell-" + std::to_string(geteuid());
  return OwnPrivateFolder(base) ? base : std::string();
}

} // namespace plat
