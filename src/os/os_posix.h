// What the POSIX implementation's files share, and its pure parts for tests.
#pragma once

#include <string>

#include "os/os.h"

namespace skov::os::posix {

// The path as the system takes it: the bytes FromFileName decoded.
std::string Native(TextView path);
// errno as a Fault.
Fault FaultOf(int err);
// Failure(FaultOf(err), what + ": " + strerror(err)).
[[noreturn]] void Fail(int err, const std::string& what);

// The value of XDG_DOCUMENTS_DIR in a user-dirs.dirs text, $HOME expanded,
// without trailing '/'; empty when the text has no usable entry.
std::string DocumentsDirFromUserDirs(const std::string& content, const std::string& home);

}  // namespace skov::os::posix
