// The user's private runtime folder, where instances meet: named objects
// and the message space live there. Not for use outside platform/.
#pragma once

#include <string>

namespace plat {

// Makes `path` if needed; true when it is a folder of this user that nobody
// else may enter. A folder of that name owned by somebody else, or open to
// others, is refused rather than trusted.
bool OwnPrivateFolder(const std::string &path);

// "$XDG_RUNTIME_DIR/vestibell", or /tmp/vestibell-UID without a runtime
// folder; empty when it cannot be made private.
std::string PrivateRuntimeFolder();

} // namespace plat
