// Runtime errors with the classic numbers the engine tells apart.
#pragma once

#include <stdexcept>
#include <string>

#include "strings/text.h"

namespace skov {

// The runtime's error numbers in use.
constexpr int kInvalidArgument = 5;
constexpr int kOverflow = 6;
constexpr int kSubscriptOutOfRange = 9;
constexpr int kBadFileNameOrNumber = 52;
constexpr int kFileNotFound = 53;
constexpr int kBadFileMode = 54;
constexpr int kFileAlreadyOpen = 55;
constexpr int kInputPastEndOfFile = 62;
constexpr int kPathFileAccessError = 75;
constexpr int kPathNotFound = 76;
constexpr int kObjectVariableNotSet = 91;
constexpr int kAutomationNameNotFound = 432;  // binding to a file that holds no workbook
constexpr int kHostRefused = 1004;

class RuntimeError : public std::runtime_error {
 public:
  explicit RuntimeError(int number, const std::string& detail = {});
  int Number() const { return number_; }

 private:
  int number_;
};

// German description of an error number, as the log shows it.
Text ErrorDescription(int number);

[[noreturn]] void Raise(int number, const std::string& detail = {});

}  // namespace skov
