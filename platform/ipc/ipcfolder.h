#pragma once
// The per-user folder that holds the programs' instance markers and window sockets:
// $XDG_RUNTIME_DIR/vant, or without a usable runtime dir /tmp/vant-<uid>. Created with mode 0700;
// a folder that is a link or belongs to another user is never used, so no other account can
// plant markers or listen under our windows' names.
//
// /tmp is shared, and so may a runtime dir be (mode 1777): another user may take the name
// /tmp/vant-<uid> or <runtime dir>/vant first. Then a private folder is made beside it (mkdtemp)
// and its name kept in this user's configuration folder, one file per machine with a line per
// shared folder, which no other user can write; both programs look there first, so they find
// the same folder for as long as it stays private.
#include <filesystem>
#include <string>

#include "exceptions.h"

namespace vant::ipc {

using vant::Exception;
VANT_DECLARE_EXCEPTION(EIpcError, Exception);

// Creates the folder when needed and checks it; raises EIpcError when it cannot be used.
// Reads the environment on each call.
std::filesystem::path RuntimeFolder();

// The folder `name` in `shared` (or the private one made beside it), with the folder of the
// record ($XDG_CONFIG_HOME/QORA) given. Without `name`, the one used in the temporary folder.
std::filesystem::path RuntimeFolderIn(const std::filesystem::path& shared,
                                      const std::filesystem::path& record_folder,
                                      const std::string& name);
std::filesystem::path RuntimeFolderIn(const std::filesystem::path& shared,
                                      const std::filesystem::path& record_folder);

}  // namespace vant::ipc
