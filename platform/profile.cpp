// The INI reader and writer. Reads take the file as it is at that moment;
// writes lock, rewrite the whole file beside itself and rename it into
// place, so concurrent writers never lose each other's keys and a reader
// never meets half a file.
#include "platform/profile.h"
#include "platform/files.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <random>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace plat {

namespace {

// A configuration file this big is not ours; reading stops there and
// writing refuses, rather than cutting a file somebody else filled.
constexpr std::size_t kMaxFileSize = 4u << 20;
// How long a writer waits for another process's write to finish.
constexpr auto kLockWait = std::chrono::seconds(5);

bool EqualNoCase(const std::string &a, const char *b) {
  const std::size_t n = std::strlen(b);
  if (a.size() != n)
    return false;
  for (std::size_t i = 0; i < n; ++i) {
    const auto x = static_cast<unsigned char>(a[i]);
    const auto y = static_cast<unsigned char>(b[i]);
    if (std::tolower(x) != std::tolower(y))
      return false;
  }
  return true;
}

std::string Trim(const std::string &s) {
  std::size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t'))
    ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t'))
    --e;
  return s.substr(b, e - b);
}

struct Text {
  std::vector<std::string> lines; // without their line ends
  bool crlf = false;
};

// Where the settings really are: the path itself when it is missing or
// anything but a symbolic link (what stands there is judged when it is
// read or replaced); the end of a link only as JudgeOwnPath allows it.
// Nullopt for every other link.
std::optional<std::string> Resolve(const char *file) {
  struct stat st {};
  if (lstat(file, &st) != 0)
    return errno == ENOENT ? std::optional<std::string>(file) : std::nullopt;
  if (!S_ISLNK(st.st_mode))
    return std::string(file);
  const t_OwnPath judged = JudgeOwnPath(file, OwnKind::File);
  if (judged.state != t_OwnPath::Own)
    return std::nullopt;
  return judged.path;
}

// Reads the whole file; nullopt when it cannot be read, is too large or is
// no regular file. Never follows a link (the path is resolved already) and
// never waits on a FIFO or a device planted in its place.
std::optional<std::string> ReadAll(int dirFd, const char *path, bool *missing) {
  *missing = false;
  const int fd =
      openat(dirFd, path, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) {
    *missing = errno == ENOENT;
    return std::nullopt;
  }
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return std::nullopt;
  }
  std::string data;
  char chunk[8192];
  for (;;) {
    const ssize_t got = read(fd, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR)
      continue;
    if (got <= 0)
      break;
    data.append(chunk, static_cast<std::size_t>(got));
    if (data.size() > kMaxFileSize) {
      close(fd);
      return std::nullopt;
    }
  }
  close(fd);
  return data;
}

Text Split(const std::string &data) {
  Text text;
  std::size_t start = 0;
  while (start < data.size()) {
    std::size_t end = data.find('\n', start);
    if (end == std::string::npos)
      end = data.size();
    std::string line = data.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
      text.crlf = true;
    }
    text.lines.push_back(std::move(line));
    start = end + 1;
  }
  return text;
}

// The section name of a "[name]" line.
std::optional<std::string> SectionOf(const std::string &line) {
  const std::string t = Trim(line);
  if (t.size() < 2 || t.front() != '[')
    return std::nullopt;
  const std::size_t close = t.find(']');
  if (close == std::string::npos)
    return std::nullopt;
  return Trim(t.substr(1, close - 1));
}

// The key of a "key=value" line, and where its value starts.
std::optional<std::string> KeyOf(const std::string &line, std::size_t *eq) {
  const std::size_t at = line.find('=');
  if (at == std::string::npos || SectionOf(line))
    return std::nullopt;
  *eq = at;
  return Trim(line.substr(0, at));
}

// Line ranges: where the section's header is and where its body ends.
struct Place {
  std::ptrdiff_t header = -1;
  std::size_t end = 0;
  std::ptrdiff_t keyLine = -1;
};

Place Find(const Text &text, const char *section, const char *key) {
  Place place;
  for (std::size_t i = 0; i < text.lines.size(); ++i) {
    const auto name = SectionOf(text.lines[i]);
    if (!name)
      continue;
    if (place.header >= 0) {
      place.end = i;
      break;
    }
    if (EqualNoCase(*name, section)) {
      place.header = static_cast<std::ptrdiff_t>(i);
      place.end = text.lines.size();
    }
  }
  if (place.header < 0)
    return place;
  for (std::size_t i = static_cast<std::size_t>(place.header) + 1;
       i < place.end; ++i) {
    std::size_t eq;
    const auto k = KeyOf(text.lines[i], &eq);
    if (k && key != nullptr && EqualNoCase(*k, key)) {
      place.keyLine = static_cast<std::ptrdiff_t>(i);
      break;
    }
  }
  return place;
}

std::optional<std::string> Lookup(const char *section, const char *key,
                                  const char *file) {
  if (section == nullptr || key == nullptr || file == nullptr || !*file)
    return std::nullopt;
  const auto target = Resolve(file);
  if (!target)
    return std::nullopt;
  bool missing;
  const auto data = ReadAll(AT_FDCWD, target->c_str(), &missing);
  if (!data)
    return std::nullopt;
  const Text text = Split(*data);
  const Place place = Find(text, section, key);
  if (place.keyLine < 0)
    return std::nullopt;
  const std::string &line = text.lines[static_cast<std::size_t>(place.keyLine)];
  return Trim(line.substr(line.find('=') + 1));
}

bool WriteAllAndSync(int fd, const std::string &data) {
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t put = write(fd, data.data() + done, data.size() - done);
    if (put < 0 && errno == EINTR)
      continue;
    if (put <= 0)
      return false;
    done += static_cast<std::size_t>(put);
  }
  return fsync(fd) == 0;
}

// The lock beside the settings file. A symbolic link in its place is never
// ours: it is removed rather than followed, so it cannot make us create a
// file wherever it points. Anything but a regular file is refused.
int OpenLock(int dirFd, const std::string &name) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    const int fd =
        openat(dirFd, name.c_str(),
               O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    if (fd < 0) {
      if (errno != ELOOP)
        return -1;
      unlinkat(dirFd, name.c_str(), 0);
      continue;
    }
    struct stat st {};
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode))
      return fd;
    close(fd);
    return -1;
  }
  return -1;
}

// Writes `data` to a new file beside `name` and renames it over `name`:
// readers see the old file or the new one, never half of either, and
// nothing is ever written through a link that stands at `name`.
bool ReplaceAtomically(int dirFd, const std::string &name,
                       const std::string &data) {
  std::random_device entropy;
  for (int attempt = 0; attempt < 16; ++attempt) {
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, ".%08x", entropy());
    const std::string temp = name + suffix;
    const int fd =
        openat(dirFd, temp.c_str(),
               O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
      if (errno == EEXIST)
        continue;
      return false;
    }
    fchmod(fd, 0600); // the file holds a SIP password
    const bool written = WriteAllAndSync(fd, data);
    close(fd);
    if (written && renameat(dirFd, temp.c_str(), dirFd, name.c_str()) == 0)
      return true;
    unlinkat(dirFd, temp.c_str(), 0);
    return false;
  }
  return false;
}

bool LockWithin(int fd) {
  const auto deadline = std::chrono::steady_clock::now() + kLockWait;
  while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK && errno != EINTR)
      return false;
    if (std::chrono::steady_clock::now() > deadline)
      return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

} // namespace

std::size_t GetPrivateProfileString(const char *section, const char *key,
                                    const char *defaultValue, char *buffer,
                                    std::size_t size, const char *file) {
  if (buffer == nullptr || size == 0)
    return 0;
  const auto value = Lookup(section, key, file);
  const char *source =
      value ? value->c_str() : (defaultValue ? defaultValue : "");
  const std::size_t n = std::min(std::strlen(source), size - 1);
  std::memcpy(buffer, source, n);
  buffer[n] = '\0';
  return n;
}

int GetPrivateProfileInt(const char *section, const char *key, int defaultValue,
                         const char *file) {
  const auto value = Lookup(section, key, file);
  if (!value)
    return defaultValue;
  const char *p = value->c_str();
  while (*p == ' ' || *p == '\t')
    ++p;
  bool negative = false;
  if (*p == '-' || *p == '+')
    negative = *p++ == '-';
  long long n = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    n = n * 10 + (*p - '0');
    if (n > static_cast<long long>(INT_MAX) + 1)
      n = static_cast<long long>(INT_MAX) + 1; // saturate, never overflow
  }
  if (negative)
    return static_cast<int>(std::max(-n, static_cast<long long>(INT_MIN)));
  return static_cast<int>(std::min(n, static_cast<long long>(INT_MAX)));
}

bool WritePrivateProfileString(const char *section, const char *key,
                               const char *value, const char *file) {
  if (section == nullptr || file == nullptr || !*file)
    return false;
  const auto target = Resolve(file);
  if (!target)
    return false;
  // Everything happens relative to the target's own folder, opened once.
  const std::size_t slash = target->rfind('/');
  const std::string folder = slash == std::string::npos ? "."
                             : slash == 0               ? "/"
                                          : target->substr(0, slash);
  const std::string name = target->substr(slash + 1);
  const int dirFd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd < 0)
    return false;

  const int lockFd = OpenLock(dirFd, name + ".lock");
  if (lockFd < 0) {
    close(dirFd);
    return false;
  }
  if (!LockWithin(lockFd)) {
    close(lockFd);
    close(dirFd);
    return false;
  }

  bool ok = false;
  bool missing;
  const auto data = ReadAll(dirFd, name.c_str(), &missing);
  if (data || missing) {
    Text text = Split(data ? *data : std::string());
    std::string line;
    if (key != nullptr) {
      std::string v = value ? value : "";
      v = v.substr(0, v.find_first_of("\r\n"));
      line = std::string(key) + "=" + v;
    }
    Place place = Find(text, section, key);
    if (place.header < 0) {
      if (key != nullptr && value != nullptr) {
        if (!text.lines.empty() && !Trim(text.lines.back()).empty())
          text.lines.emplace_back();
        text.lines.push_back("[" + std::string(section) + "]");
        text.lines.push_back(line);
      }
    } else if (key == nullptr) {
      text.lines.erase(text.lines.begin() + place.header,
                       text.lines.begin() +
                           static_cast<std::ptrdiff_t>(place.end));
    } else if (place.keyLine >= 0) {
      if (value != nullptr)
        text.lines[static_cast<std::size_t>(place.keyLine)] = line;
      else
        text.lines.erase(text.lines.begin() + place.keyLine);
    } else if (value != nullptr) {
      // After the section's last non-blank line, keeping blank separators.
      std::size_t at = place.end;
      while (at > static_cast<std::size_t>(place.header) + 1 &&
             Trim(text.lines[at - 1]).empty())
        --at;
      text.lines.insert(text.lines.begin() + static_cast<std::ptrdiff_t>(at),
                        line);
    }

    std::string out;
    const char *eol = text.crlf ? "\r\n" : "\n";
    for (const std::string &l : text.lines)
      out += l + eol;

    ok = ReplaceAtomically(dirFd, name, out);
  }
  flock(lockFd, LOCK_UN);
  close(lockFd);
  close(dirFd);
  return ok;
}

} // namespace plat
