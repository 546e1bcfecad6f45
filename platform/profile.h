// Private-profile (INI) files: the three operations the program makes on its
// configuration file, with the Windows semantics it was written for.
//
// Sections and keys match without regard to case; the first occurrence
// counts. Values are taken as written, blanks around them trimmed.
#pragma once

#include <cstddef>

namespace plat {

// Copies the value, cut to size - 1 bytes, into `buffer`. Where the file,
// section or key is missing the default is copied instead; a key present
// with an empty value gives the empty text. Returns the length copied.
std::size_t GetPrivateProfileString(const char *section, const char *key,
                                    const char *defaultValue, char *buffer,
                                    std::size_t size, const char *file);
// The value read as a decimal integer (leading blanks, a sign, then digits;
// anything after the digits is ignored; no digits gives 0). The default
// where the key is missing.
int GetPrivateProfileInt(const char *section, const char *key, int defaultValue,
                         const char *file);
// Replaces or adds the key, creating the section and the file as needed.
// Safe against other processes writing the same file at the same time: the
// file is locked, rewritten beside itself and renamed into place, so no
// writer loses another's keys and no reader sees half a file. A new file is
// readable by its owner only. A value is cut at its first line break, so it
// can never add lines of its own.
//
// A settings file kept as a symbolic link is read and rewritten at the end
// of the link only when every link on the way is the user's own and it ends
// at a regular file of the user's own; the target is replaced in its own
// folder and the link stays. Any other link reads as a missing file and
// refuses writes. Nothing but a regular file is ever read, and the lock is
// never taken through a link.
bool WritePrivateProfileString(const char *section, const char *key,
                               const char *value, const char *file);

} // namespace plat
