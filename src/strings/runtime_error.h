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
constexpr int kLineTooLong = 14;  // the runtime's "out of string space"
constexpr int kBadFileNameOrNumber = 52;
constexpr int kFileNotFound = 53;
constexpr int kBadFileMode = 54;
constexpr int kFileAlreadyOpen = 55;
constexpr int kDeviceIoError = 57;
constexpr int kDiskFull = 61;
constexpr int kInputPastEndOfFile = 62;
constexpr int kPathFileAccessError = 75;
constexpr int kPathNotFound = 76;
constexpr int kObjectVariableNotSet = 91;
constexpr int kAutomationNameNotFound = 432;  // binding to a file that holds no workbook
constexpr int kHostRefused = 1004;

// reason: an optional German line for the log that says why, where the
// number alone would leave the user guessing.
class RuntimeError : public std::runtime_error {
 public:
  explicit RuntimeError(int number, const std::string& detail = {}, Text reason = {});
  int Number() const { return number_; }
  const Text& Reason() const { return reason_; }

 private:
  int number_;
  Text reason_;
};

// German description of an error number, as the log shows it.
Text ErrorDescription(int number);
// "Laufzeitfehler N", as the log and the error's own text name it.
Text RuntimeErrorTitle(int number);
// Why a write failed on a full disk, a quota or a file size limit.
Text DiskFullReason();

[[noreturn]] void Raise(int number, const std::string& detail = {});
[[noreturn]] void Raise(int number, const std::string& detail, const Text& reason);

}  // namespace skov
