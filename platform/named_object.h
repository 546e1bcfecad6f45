// Named objects visible to all processes of the user. A name exists while
// any process holds it; every holder keeps it until it ends.
#pragma once

namespace plat {

struct NamedObject;

// Creates the named object, or opens it where it exists already; `existed`
// tells which, atomically with respect to every other process doing the
// same. Null when the object cannot be made at all.
NamedObject *CreateNamedObject(const char *name, bool *existed);

} // namespace plat
