// The spreadsheet host as the import engine sees it: default folder, bound
// workbooks, their sheets, cells, save as and close.
#pragma once

#include <memory>
#include <span>

#include "os/os.h"
#include "strings/cell_text.h"
#include "strings/text.h"

namespace skov {

// A save written beside its target but not yet flushed to disk nor in
// place: saves begun one after another reach the disk together, in far fewer
// journal commits than one at a time. Dropping an unfinished one leaves the
// target unchanged and no file behind.
class PendingSave {
 public:
  virtual ~PendingSave() = default;
  // The file on disk; raises as SaveAs would. Flushing every save of a batch
  // before renaming any lets one journal commit carry them all.
  virtual void Flush() = 0;
  // Flushed if it was not, and renamed over the target; raises as SaveAs
  // would. The folder entry is durable only after
  // SpreadsheetHost::FlushSavedFolders.
  virtual void Finish() = 0;
  // Until Finish, a name the saved bytes can be read under (beside the
  // target); empty when there is none.
  virtual Text ReadableAs() const { return {}; }
  // The file that takes the target's name at Finish; unknown when not told.
  virtual os::FileId Identity() const { return {}; }
};

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
  virtual void WriteCell(int sheet, int row, int column, TextView value) = 0;
  // The cells of one row, written in this order exactly as by WriteCell one
  // after another (a later write to a column wins; a failing write raises
  // with the writes before it done). A device row is one call, not fifty.
  virtual void WriteRow(int sheet, int row, std::span<const CellText> cells) {
    for (const CellText& c : cells) WriteCell(sheet, row, c.column, c.value);
  }
  virtual void SaveAs(const Text& path) = 0;
  // SaveAs in two halves: every check and the writing now, flushing and
  // renaming in Finish. Null when the save is complete already.
  virtual std::unique_ptr<PendingSave> BeginSaveAs(const Text& path) {
    SaveAs(path);
    return nullptr;
  }
  // What the reader of the last file saved should know, for the log: the
  // formulas left to the spreadsheet application to compute when it opens
  // the file. Empty when there is nothing to tell.
  virtual Text SaveNote() const { return {}; }
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
  // Flushes the folders that finished saves renamed files into.
  virtual void FlushSavedFolders() {}
};

}  // namespace skov
