// The runtime error numbers of the workbook engine's failures, next to the log's texts for them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "strings/runtime_error.h"
#include "xls/book.h"
#include "xls/error.h"

namespace skov {

// Binding failures that are not refusals: no file, not a workbook, damaged.
constexpr int kNotAWorkbook = kAutomationNameNotFound;
constexpr int kRefused = kHostRefused;

extern const Text kNoWorkbookText;   // kNotAWorkbook
extern const Text kOldExcelText;     // kNotAWorkbook
extern const Text kEncryptedText;    // kNotAWorkbook
// kNotAWorkbook: the file is damaged where `what` says.
Text DamagedText(const std::string& what);

// The runtime error number of a workbook engine failure.
int ErrorNumber(xls::Fault fault);

// The log's reason for an engine failure; `worksheets` of the bound workbook.
Text Reason(const xls::Error& e, int worksheets);

// Why a file that is no compound file cannot be bound.
Text ForeignFile(const std::vector<uint8_t>& bytes);

// Runs an engine operation, its failure raised as a runtime error.
template <typename F>
decltype(auto) Engine(const xls::Book& book, F&& f) {
  try {
    return f();
  } catch (const xls::Error& e) {
    Raise(ErrorNumber(e.Kind()), e.Reason(), Reason(e, book.WorksheetCount()));
  }
}

}  // namespace skov
