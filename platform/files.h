// Files, folders and the environment, as the configuration store needs them.
#pragma once

#include <optional>
#include <string>

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

} // namespace plat
