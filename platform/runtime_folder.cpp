#include "platform/runtime_folder.h"
#include "platform/report.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace plat {

bool OwnPrivateFolder(const std::string &path, std::string *why) {
  std::string reason;
  struct stat st {};
  if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
    reason = std::string("it cannot be made (") + std::strerror(errno) + ")";
  else if (lstat(path.c_str(), &st) != 0)
    reason =
        std::string("it cannot be examined (") + std::strerror(errno) + ")";
  else if (S_ISLNK(st.st_mode))
    reason = "it is a symbolic link";
  else if (!S_ISDIR(st.st_mode))
    reason = "it is not a folder";
  else if (st.st_uid != geteuid())
    reason = "it belongs to user " + std::to_string(st.st_uid);
  else if ((st.st_mode & 077) != 0) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o",
                  static_cast<unsigned>(st.st_mode & 07777));
    reason = std::string("others may enter it (mode ") + mode + ")";
  }
  if (why != nullptr)
    *why = reason;
  return reason.empty();
}

std::string PrivateRuntimeFolder() {
  const char *runtime = std::getenv("XDG_RUNTIME_DIR");
  std::string base = (runtime != nullptr && runtime[0] == '/')
                         ? std::string(runtime) + "/vestibell"
                         : "/tmp/vestibell-" + std::to_string(geteuid());
  std::string why;
  if (OwnPrivateFolder(base, &why))
    return base;
  // What stands there is the user's to clear away; a folder that cannot
  // be made needs another place.
  struct stat st {};
  const bool there = lstat(base.c_str(), &st) == 0;
  static std::atomic<bool> said{false};
  if (!said.exchange(true))
    Report("cannot use the runtime folder %s: %s; the copies of the "
           "program cannot reach each other (%spoint XDG_RUNTIME_DIR at a "
           "folder of your own)",
           base.c_str(), why.c_str(), there ? "remove it, or " : "");
  return {};
}

} // namespace plat
