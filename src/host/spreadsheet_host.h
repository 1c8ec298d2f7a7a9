// The spreadsheet host as the import engine sees it: default folder, bound
// workbooks, their sheets, cells, save as and close.
#pragma once

#include <memory>

#include "strings/text.h"

namespace skov {

// A workbook bound from a file. Every operation may raise RuntimeError:
// 1004 when the host refuses (access, saving over the template), any other
// number when a thing asked for does not exist (9: no such worksheet).
// Sheets are numbered 1.. among the worksheets in tab order; each call
// looks its worksheet up anew.
class Workbook {
 public:
  virtual ~Workbook() = default;

  virtual void Activate() = 0;
  // Window n of the workbook becomes visible.
  virtual void ShowWindow(int window) = 0;
  // Worksheet n becomes the active and only selected sheet.
  virtual void ActivateSheet(int sheet) = 0;
  // Worksheet n becomes visible.
  virtual void ShowSheet(int sheet) = 0;
  // The cell holds exactly this string, as text.
  virtual void WriteCell(int sheet, int row, int column, const Text& value) = 0;
  virtual void SaveAs(const Text& path) = 0;
  // Closed; with saveChanges false its file stays unchanged.
  virtual void Close(bool saveChanges) = 0;
};

class SpreadsheetHost {
 public:
  virtual ~SpreadsheetHost() = default;

  // A folder path without trailing separator; callers append "/" and a name.
  virtual Text DefaultFilePath() = 0;
  // The workbook of that file, open in the host. Fails with a number other
  // than 1004 when there is no such file or it is not a workbook, with 1004
  // when access is refused.
  virtual std::unique_ptr<Workbook> BindToFile(const Text& path) = 0;
};

}  // namespace skov
