// Typed failures of the workbook engine; the host turns them into its error numbers.
#pragma once

#include <stdexcept>
#include <string>

namespace skov::xls {

enum class Fault {
  NotAWorkbook,  // no BIFF8 workbook stream (another format, another version)
  Encrypted,     // protected by a password
  Damaged,       // the record structure does not hold together
  NoSuchWindow,  // fewer windows than asked for
  TooFewSheets,  // fewer worksheets than asked for
  RefusedWrite,  // the write would damage the workbook or cannot be stored
};

// What went wrong and why; `Reason()` names the record or cell concerned.
// For a refused write `row` and `column` (from 1) name the cell, else 0.
class Error : public std::runtime_error {
 public:
  Error(Fault fault, const std::string& reason, int row = 0, int column = 0)
      : std::runtime_error(reason), fault_(fault), row_(row), column_(column) {}
  Fault Kind() const { return fault_; }
  std::string Reason() const { return what(); }
  int Row() const { return row_; }
  int Column() const { return column_; }

 private:
  Fault fault_;
  int row_;
  int column_;
};

[[noreturn]] inline void Fail(Fault fault, const std::string& reason) { throw Error(fault, reason); }
[[noreturn]] inline void RefuseWrite(int row, int column, const std::string& why) {
  throw Error(Fault::RefusedWrite, why, row, column);
}

}  // namespace skov::xls
