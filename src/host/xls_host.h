// The spreadsheet host of this system: .XLS workbooks (BIFF8, or BIFF5 of Excel 5.0/95) read, filled
// and written by the workbook engine in xls/.
#pragma once

#include <memory>

#include "host/spreadsheet_host.h"

namespace skov {

// defaultFolder is what DefaultFilePath answers (no trailing "/").
std::unique_ptr<SpreadsheetHost> MakeXlsHost(const Text& defaultFolder);

}  // namespace skov
