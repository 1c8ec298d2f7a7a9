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

// A cell as the user sees it, row and column from 1: column letters, then the row (B13).
inline std::u16string CellName(int row, int column) {
  std::u16string name;
  for (int c = column; c > 0; c = (c - 1) / 26) name.insert(name.begin(), static_cast<char16_t>(u'A' + (c - 1) % 26));
  for (char digit : std::to_string(row)) name.push_back(static_cast<char16_t>(digit));
  return name;
}

[[noreturn]] inline void Fail(Fault fault, const std::string& reason) { throw Error(fault, reason); }
[[noreturn]] inline void RefuseWrite(int row, int column, const std::string& why) {
  throw Error(Fault::RefusedWrite, why, row, column);
}

}  // namespace skov::xls
