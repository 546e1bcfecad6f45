// Files, folders and the environment, as the configuration store needs them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace plat {

// The variable's value when it is set, also when it is set to the empty text.
std::optional<std::string> GetEnvironmentVariable(const char *name);
// The user's configuration base: $XDG_CONFIG_HOME when it names an absolute
// folder, else ~/.config. Created (owner only) when it is missing, as a
// fresh account may not have it yet.
std::string DefaultConfigBase();
// True when anything exists at the path (file, folder, device...).
bool PathExists(const std::string &path);
// Creates one folder level, readable by its owner only.
bool CreateDirectory(const std::string &path);
bool DeleteFile(const std::string &path);

// Files in a folder others may write into (the settings folder can be
// shared): what stands at a path is never trusted to be what we left there.
//
// Makes the file afresh for writing: empty, a regular file of the user's
// own, mode 0600. Whatever stood at the path before (a symbolic link, a
// FIFO, a file of someone else's) is unlinked first, never written through
// or emptied. Null when the file cannot be made (errno tells why).
std::FILE *CreatePrivateFile(const char *path);
// Opens for reading a regular file of the user's own, without following a
// symbolic link and without waiting on a FIFO or a device. Null otherwise.
std::FILE *OpenPrivateFile(const char *path);
// Flushes an open file's buffer and cuts the file to `size` bytes.
bool TruncateFile(std::FILE *file, std::size_t size);

// What stands at a path the user may keep elsewhere through a symbolic link
// (the settings file, the visitors' record): a link is followed only when
// it, and every link after it, is the user's own and the last leads to an
// existing regular file (or folder) of the user's own; a link planted by
// someone else in a shared folder must never make us read or write what it
// points to. Whatever stands there without a link must be of that kind and
// the user's own too.
enum class OwnKind { File, Folder };
struct t_OwnPath {
  enum State { Missing, Own, Refused } state = Missing;
  // Own: the real path, with no link left in it; Missing: the path as given.
  std::string path;
  // Refused: why, after the path's name ("is a symbolic link of user 1001",
  // "belongs to user 1001", "is not a folder", ...).
  std::string why;
};
t_OwnPath JudgeOwnPath(const std::string &path, OwnKind kind);
// Which file stands at the path (its device and inode), without following
// a symbolic link: whether it is still the one met before. Nullopt when
// nothing does.
struct t_FileId {
  std::uint64_t device = 0, inode = 0;
  bool operator==(const t_FileId &) const = default;
};
std::optional<t_FileId> FileIdOf(const std::string &path);
// Sets a file of the user's own to 0600, a folder to 0700.
bool MakeOwnerOnly(const std::string &path);
// Removes an empty folder.
bool RemoveFolder(const std::string &path);

// Files the user may put anywhere (a skin, a picture, a sound): the whole
// of a regular file of at most `limit` bytes, read at once, or nothing. A
// FIFO, a device or a folder of that name is never waited on or read, and
// counts as missing. `why`, when given, says why there is nothing, after
// the file's name ("is not a regular file", ...), or is left empty when
// nothing stands under the name.
std::optional<std::vector<std::uint8_t>>
ReadRegularFile(const char *path, std::size_t limit,
                std::string *why = nullptr);

} // namespace plat
