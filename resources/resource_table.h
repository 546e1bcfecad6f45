// The table the build generates from the files in this folder; only
// resources.cpp reads it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace res {

struct ResourceEntry {
  int id;
  int variant;
  const std::uint8_t *data;
  std::size_t size;
};

extern const ResourceEntry kResourceTable[];
extern const std::size_t kResourceCount;

} // namespace res
