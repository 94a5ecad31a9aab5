#pragma once
// The per-user folder that holds the programs' instance markers and window sockets:
// $XDG_RUNTIME_DIR/vant, or /tmp/vant-<uid> without a usable runtime dir. Created with mode 0700; a
// folder that is a link or belongs to another user is refused, so no other account can plant
// markers or listen under our windows' names.
#include <filesystem>

#include "exceptions.h"

namespace vant::ipc {

using vant::Exception;
VANT_DECLARE_EXCEPTION(EIpcError, Exception);

// Creates the folder when needed and checks it; raises EIpcError when it cannot be used.
// Reads the environment on each call.
std::filesystem::path RuntimeFolder();

}  // namespace vant::ipc
