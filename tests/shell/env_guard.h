// Sets the configuration variables for one test and puts them back after.
#pragma once

#include <cstdlib>
#include <map>
#include <optional>
#include <string>

class EnvGuard {
public:
  EnvGuard() {
    for (const char *name : kNames) {
      const char *v = std::getenv(name);
      saved_[name] = v ? std::optional<std::string>(v) : std::nullopt;
      unsetenv(name);
    }
  }
  ~EnvGuard() {
    for (const auto &[name, value] : saved_) {
      if (value)
        setenv(name.c_str(), value->c_str(), 1);
      else
        unsetenv(name.c_str());
    }
  }
  void Set(const char *name, const std::string &value) {
    setenv(name, value.c_str(), 1);
  }

private:
  static constexpr const char *kNames[] = {
      "ALLUSERSPROFILE", "PROGRAMDATA",     "APPDATA", "LOCALAPPDATA",
      "TEMP",            "XDG_CONFIG_HOME", "HOME"};
  std::map<std::string, std::optional<std::string>> saved_;
};
