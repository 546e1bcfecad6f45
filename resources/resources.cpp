#include "resources/resources.h"

#include "resources/resource_table.h"

namespace res {

ResourceData FindResource(int id, int variant) {
  for (std::size_t i = 0; i < kResourceCount; ++i) {
    const ResourceEntry &e = kResourceTable[i];
    if (e.id == id && e.variant == variant)
      return {e.data, e.size};
  }
  return {};
}

} // namespace res
