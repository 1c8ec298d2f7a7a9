// Runtime errors with the classic numbers the engine tells apart.
#pragma once

#include <stdexcept>
#include <string>

#include "strings/text.h"

namespace skov {

// Numbers in use: 5 bad argument, 6 overflow, 9 subscript, 52 bad file name or
// number, 53 file not found, 55 file already open, 62 input past end of file,
// 75 path/file access error, 76 path not found, 1004 the spreadsheet host
// refused; the workbook engine raises others (e.g. 432) when binding fails.
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
