// Where the batch command finds its default folder without a desktop toolkit.
#pragma once

#include <functional>
#include <string>

namespace skov {

// Reads an environment variable; nullptr when unset.
using EnvLookup = std::function<const char*(const char*)>;

// The user's documents folder: XDG_DOCUMENTS_DIR from
// $XDG_CONFIG_HOME/user-dirs.dirs (else ~/.config/user-dirs.dirs), with
// $HOME expanded, else $HOME/Documents. Empty when HOME is unknown.
std::string DocumentsFolder(const EnvLookup& env);

// The value of XDG_DOCUMENTS_DIR in a user-dirs.dirs text, $HOME expanded;
// empty when the text has no usable entry.
std::string DocumentsDirFromUserDirs(const std::string& content, const std::string& home);

// Without trailing "/" (the host's default folder is given that way); "/" stays.
std::string WithoutTrailingSlash(std::string path);

}  // namespace skov
