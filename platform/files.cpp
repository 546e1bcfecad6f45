#include "platform/files.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
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

std::FILE *CreatePrivateFile(const char *path) {
  if (path == nullptr || *path == '\0') {
    errno = ENOENT;
    return nullptr;
  }
  // Someone may plant a new entry between the unlink and the create; the
  // exclusive create then fails rather than opening theirs, and we try
  // again a few times.
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (unlink(path) != 0 && errno != ENOENT)
      return nullptr; // a folder of that name, or no right to remove it
    const int fd =
        open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
      if (errno == EEXIST)
        continue;
      return nullptr;
    }
    // The umask may have taken bits away, never added any; make it exact.
    fchmod(fd, 0600);
    std::FILE *file = fdopen(fd, "wb");
    if (file == nullptr)
      close(fd);
    return file;
  }
  errno = EEXIST;
  return nullptr;
}

std::FILE *OpenPrivateFile(const char *path) {
  if (path == nullptr || *path == '\0') {
    errno = ENOENT;
    return nullptr;
  }
  const int fd = open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0)
    return nullptr;
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid()) {
    close(fd);
    errno = EPERM;
    return nullptr;
  }
  // Blocking reads again: a regular file never waits anyway.
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  std::FILE *file = fdopen(fd, "rb");
  if (file == nullptr)
    close(fd);
  return file;
}

std::optional<std::vector<std::uint8_t>>
ReadRegularFile(const char *path, std::size_t limit, std::string *why) {
  std::string reason;
  std::optional<std::vector<std::uint8_t>> bytes;
  // Without O_NONBLOCK the open of a FIFO waits for a writer that never
  // comes; a folder or a device opens at once and is refused below.
  const int fd = path == nullptr || *path == '\0'
                     ? -1
                     : open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  struct stat st {};
  if (fd < 0) {
    if (path != nullptr && *path != '\0' && errno != ENOENT)
      reason = std::string("cannot be opened (") + std::strerror(errno) + ")";
  } else if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    reason = "is not a regular file";
  } else if (st.st_size < 0 || static_cast<std::uint64_t>(st.st_size) > limit) {
    reason = "is larger than " + std::to_string(limit >> 20) + " MiB";
  } else {
    // The size may change while it is read: never more than `limit`.
    std::vector<std::uint8_t> data(static_cast<std::size_t>(st.st_size) + 1);
    std::size_t got = 0;
    for (;;) {
      if (got == data.size()) {
        if (data.size() > limit)
          break;
        data.resize(std::min(limit + 1, data.size() * 2));
      }
      const ssize_t n = read(fd, data.data() + got, data.size() - got);
      if (n < 0 && errno == EINTR)
        continue;
      if (n <= 0) {
        if (n == 0 && got <= limit) {
          data.resize(got);
          bytes = std::move(data);
        } else {
          reason = n < 0 ? "cannot be read" : "grew while it was read";
        }
        break;
      }
      got += static_cast<std::size_t>(n);
    }
  }
  if (fd >= 0)
    close(fd);
  if (why != nullptr)
    *why = reason;
  return bytes;
}

namespace {

// How many symbolic links a path of the user's may pass through.
constexpr int kMaxLinks = 8;

std::string OfUser(uid_t uid) { return "user " + std::to_string(uid); }

} // namespace

t_OwnPath JudgeOwnPath(const std::string &given, OwnKind kind) {
  t_OwnPath judged;
  std::string path = given;
  struct stat st {};
  for (int hop = 0;; ++hop) {
    if (lstat(path.c_str(), &st) != 0) {
      if (hop == 0 && errno == ENOENT) {
        judged.path = given;
        return judged;
      }
      judged.state = t_OwnPath::Refused;
      judged.why =
          hop == 0
              ? std::string("cannot be examined (") + std::strerror(errno) + ")"
              : "is a symbolic link to " + path + ", which does not exist";
      return judged;
    }
    if (!S_ISLNK(st.st_mode))
      break;
    judged.state = t_OwnPath::Refused;
    if (st.st_uid != geteuid()) {
      judged.why = (hop == 0 ? "is a symbolic link of "
                             : "leads through a symbolic link of ") +
                   OfUser(st.st_uid);
      return judged;
    }
    char to[PATH_MAX];
    const ssize_t n =
        hop == kMaxLinks ? -1 : readlink(path.c_str(), to, sizeof to);
    if (n <= 0 || static_cast<std::size_t>(n) >= sizeof to) {
      judged.why = "leads through too many symbolic links";
      return judged;
    }
    std::string next(to, static_cast<std::size_t>(n));
    if (next[0] != '/')
      next = path.substr(0, path.rfind('/') + 1) + next;
    path = std::move(next);
  }
  judged.state = t_OwnPath::Refused;
  const bool folder = kind == OwnKind::Folder;
  if (folder ? !S_ISDIR(st.st_mode) : !S_ISREG(st.st_mode)) {
    judged.why = path == given
                     ? (folder ? "is not a folder" : "is not a regular file")
                     : "leads to " + path +
                           (folder ? ", which is not a folder"
                                   : ", which is not a regular file");
    return judged;
  }
  if (st.st_uid != geteuid()) {
    judged.why = path == given ? "belongs to " + OfUser(st.st_uid)
                               : "leads to " + path + ", which belongs to " +
                                     OfUser(st.st_uid);
    return judged;
  }
  char *real = realpath(path.c_str(), nullptr);
  if (real == nullptr) {
    judged.why =
        std::string("cannot be examined (") + std::strerror(errno) + ")";
    return judged;
  }
  judged.state = t_OwnPath::Own;
  judged.path = real;
  std::free(real);
  return judged;
}

std::optional<t_FileId> FileIdOf(const std::string &path) {
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0)
    return std::nullopt;
  return t_FileId{static_cast<std::uint64_t>(st.st_dev),
                  static_cast<std::uint64_t>(st.st_ino)};
}

bool MakeOwnerOnly(const std::string &path) {
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0 || st.st_uid != geteuid() ||
      !(S_ISREG(st.st_mode) || S_ISDIR(st.st_mode)))
    return false;
  const mode_t mode = S_ISDIR(st.st_mode) ? 0700 : 0600;
  return (st.st_mode & 07777) == mode || chmod(path.c_str(), mode) == 0;
}

bool RemoveFolder(const std::string &path) { return rmdir(path.c_str()) == 0; }

bool TruncateFile(std::FILE *file, std::size_t size) {
  return std::fflush(file) == 0 && std::ferror(file) == 0 &&
         ftruncate(fileno(file), static_cast<off_t>(size)) == 0;
}

} // namespace plat
