// Named objects as lock files in the user's runtime folder. Every holder
// keeps a shared flock on the file; a name "exists" exactly while somebody
// holds it, whatever files are left lying in the folder.
#include "platform/named_object.h"

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

// A folder only this user can enter: the runtime folder, or one of our own
// under /tmp. A folder of that name owned by somebody else, or open to
// others, is refused rather than trusted.
bool OwnPrivateFolder(const std::string &path) {
  if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
    return false;
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
    return false;
  return st.st_uid == geteuid() && (st.st_mode & 077) == 0;
}

std::string ObjectFolder() {
  const char *runtime = std::getenv("XDG_RUNTIME_DIR");
  std::string base = (runtime != nullptr && runtime[0] == '/')
                         ? std::string(runtime) + "/vestibell"
                         : "/tmp/vestibell-" + std::to_string(geteuid());
  return OwnPrivateFolder(base) ? base : std::string();
}

int OpenLockFile(const std::string &path) {
  return open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
}

int Flock(int fd, int operation) {
  int r;
  do
    r = flock(fd, operation);
  while (r != 0 && errno == EINTR);
  return r;
}

} // namespace

NamedObject *CreateNamedObject(const char *name, bool *existed) {
  if (existed != nullptr)
    *existed = false;
  if (name == nullptr || *name == '\0')
    return nullptr;
  const std::string folder = ObjectFolder();
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
