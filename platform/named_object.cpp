// Named objects as lock files in the user's runtime folder (or the folder
// given instead). Every holder keeps a shared flock on the file; a name
// "exists" exactly while somebody holds it, whatever files are left lying in
// the folder.
#include "platform/named_object.h"

#include "platform/runtime_folder.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace plat {

struct NamedObject {
  int fd;
};

namespace {

// A lock file of this user's. Another user's file planted in a shared
// folder is not taken: its owner could hold it for ever.
int OpenLockFile(const std::string &path) {
  const int fd =
      open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK,
           0600);
  if (fd < 0)
    return -1;
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid()) {
    close(fd);
    return -1;
  }
  return fd;
}

// The folder the objects live in; empty when there is none.
std::string ObjectFolder(const std::string &fallback) {
  std::string folder = PrivateRuntimeFolder();
  if (!folder.empty() || fallback.empty())
    return folder;
  struct stat st {};
  if (mkdir(fallback.c_str(), 0700) != 0 && errno != EEXIST)
    return {};
  if (stat(fallback.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
    return {};
  return fallback;
}

int Flock(int fd, int operation) {
  int r;
  do
    r = flock(fd, operation);
  while (r != 0 && errno == EINTR);
  return r;
}

} // namespace

NamedObject *CreateNamedObject(const char *name, bool *existed,
                               const std::string &fallbackFolder) {
  if (existed != nullptr)
    *existed = false;
  if (name == nullptr || *name == '\0')
    return nullptr;
  const std::string folder = ObjectFolder(fallbackFolder);
  if (folder.empty())
    return nullptr;
  std::string file;
  for (const char *p = name; *p; ++p)
    file += (*p == '/') ? '_' : *p;

  // Whether a name exists and taking hold of it must be one step for all
  // processes; one guard file makes every creation take turns.
  const int guard = OpenLockFile(folder + "/.guard");
  if (guard < 0)
    return nullptr;
  if (Flock(guard, LOCK_EX) != 0) {
    close(guard);
    return nullptr;
  }
  NamedObject *object = nullptr;
  const int fd = OpenLockFile(folder + "/" + file + ".lock");
  if (fd >= 0) {
    // Nobody else can try for the exclusive lock while we hold the guard,
    // so a refusal means that some process holds the name.
    const bool held = Flock(fd, LOCK_EX | LOCK_NB) != 0;
    if (Flock(fd, LOCK_SH) == 0) {
      if (existed != nullptr)
        *existed = held;
      object = new NamedObject{fd};
    } else {
      close(fd);
    }
  }
  Flock(guard, LOCK_UN);
  close(guard);
  return object;
}

} // namespace plat
