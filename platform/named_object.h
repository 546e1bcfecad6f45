// Named objects visible to all processes of the user. A name exists while
// any process holds it; every holder keeps it until it ends.
#pragma once

#include <string>

namespace plat {

struct NamedObject;

// Creates the named object, or opens it where it exists already; `existed`
// tells which, atomically with respect to every other process doing the
// same. The objects live in the user's private runtime folder; where that
// is refused, in `fallbackFolder` (made if missing) when one is given, so
// processes that share that folder still see each other's names. Null when
// the object cannot be made at all.
NamedObject *CreateNamedObject(const char *name, bool *existed,
                               const std::string &fallbackFolder = {});

} // namespace plat
