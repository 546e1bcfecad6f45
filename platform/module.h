// The program's resources as Windows finds them in an executable: a module
// handle that the resource owner fills in, so that the platform layer can
// load templates, sounds and icons by id without depending on it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace plat {

struct DialogTemplate;

struct ResourceBytes {
  const std::uint8_t *data = nullptr;
  std::size_t size = 0;
};

struct Module {
  // Null when the module has no such template.
  const DialogTemplate *(*findDialog)(int id);
  // `variant`: the pixel size of an icon image, else 0. Empty when the
  // module has no such resource. The bytes live as long as the program.
  ResourceBytes (*findResource)(int id, int variant);
};
using HINSTANCE = const Module *;

// A resource id where a name is expected, as Windows passes them.
inline const char *MAKEINTRESOURCE(int id) {
  return reinterpret_cast<const char *>(static_cast<std::uintptr_t>(id));
}

} // namespace plat
