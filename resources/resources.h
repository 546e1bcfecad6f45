// The program's built-in resources: the skin bitmaps and the program icon,
// compiled into the binary so that it runs from any folder. Resources keep
// the numeric ids the program has always used.
#pragma once

#include <cstddef>
#include <cstdint>

namespace res {

// The program icon: one image per pixel size (16, 32 and 48), PNG data.
inline constexpr int kIconId = 101;
inline constexpr int kIconSizes[] = {16, 32, 48};
// The built-in ring: a WAVE file (PCM, 2 channels, 44100 Hz, 16 bit), drawn
// at build time by tools/ringgen.
inline constexpr int kRingId = 103;
// The 27 skin bitmaps, Windows BMP data: id kSkinFirstResourceId (skin/)
// + element index.

struct ResourceData {
  const std::uint8_t *data = nullptr;
  std::size_t size = 0;
  explicit operator bool() const { return data != nullptr; }
};

// The bytes of resource `id`; `variant` picks one of several images under
// one id (the icon's pixel size) and is 0 otherwise. Empty when the program
// has no such resource. The bytes live as long as the program.
ResourceData FindResource(int id, int variant = 0);

} // namespace res
