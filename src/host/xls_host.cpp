// Placeholder until the workbook engine lands: every bind fails.
#include "host/xls_host.h"

#include "strings/runtime_error.h"

namespace skov {
namespace {

class XlsHost : public SpreadsheetHost {
 public:
  explicit XlsHost(Text folder) : folder_(std::move(folder)) {}
  Text DefaultFilePath() override { return folder_; }
  std::unique_ptr<Workbook> BindToFile(const Text&) override { Raise(432, "workbook engine not built yet"); }

 private:
  Text folder_;
};

}  // namespace

std::unique_ptr<SpreadsheetHost> MakeXlsHost(const Text& defaultFolder) {
  return std::make_unique<XlsHost>(defaultFolder);
}

}  // namespace skov
