// The spreadsheet host of this system: .XLS (BIFF8) workbooks read, filled
// and written by the workbook engine in xls/.
#pragma once

#include <memory>

#include "host/spreadsheet_host.h"

namespace skov {

// defaultFolder is what DefaultFilePath answers (no trailing "/").
std::unique_ptr<SpreadsheetHost> MakeXlsHost(const Text& defaultFolder);

}  // namespace skov
