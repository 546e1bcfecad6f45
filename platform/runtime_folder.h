// The user's private runtime folder, where instances meet: named objects
// and the message space live there. Not for use outside platform/.
#pragma once

#include <string>

namespace plat {

// Makes `path` if needed; true when it is a folder of this user that nobody
// else may enter. A folder of that name owned by somebody else, open to
// others, or a link, is refused rather than trusted; `why` then says which
// (or why it could not be made).
bool OwnPrivateFolder(const std::string &path, std::string *why = nullptr);

// "$XDG_RUNTIME_DIR/vestibell", or /tmp/vestibell-UID without a runtime
// folder; empty when it cannot be made private. The first refusal is said
// once per process on standard error, with the folder and the reason.
std::string PrivateRuntimeFolder();

} // namespace plat
