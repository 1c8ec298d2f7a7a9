// Typed failures of the workbook engine; the host turns them into its error numbers.
#pragma once

#include <stdexcept>
#include <string>

namespace skov::xls {

enum class Fault {
  NotAWorkbook,  // no workbook stream (another format)
  OldVersion,    // a workbook of Excel 2.x to 4.0
  Encrypted,     // protected by a password
  Damaged,       // the record structure does not hold together
  NoSuchWindow,  // fewer windows than asked for
  TooFewSheets,  // fewer worksheets than asked for
  RefusedWrite,  // the write would damage the workbook or cannot be stored
};

// What went wrong and why, in German: for Fault::Damaged what is damaged,
// for TooFewSheets and NoSuchWindow a whole sentence, for RefusedWrite what
// keeps the cell (`row` and `column`, from 1) from being written.
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
