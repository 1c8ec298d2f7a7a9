// The batch command's options: the window's settings given on the command line.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "strings/text.h"

namespace skov {

struct BatchOptions {
  Text separator = u";";      // the window's start values
  bool quotes = true;
  bool folderMode = true;
  std::optional<std::string> defaultFolder;  // as given, UTF-8
  std::string importFile;                    // as given, UTF-8
};

enum class ParseOutcome { Run, Help, Version, UsageError };

struct ParsedArgs {
  ParseOutcome outcome = ParseOutcome::UsageError;
  BatchOptions options;
  std::string error;  // German, for stderr, when outcome is UsageError
};

// args without the program name.
ParsedArgs ParseBatchArgs(const std::vector<std::string>& args);

std::string BatchHelpText();

}  // namespace skov
