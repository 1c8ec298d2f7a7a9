// The field tables' bounds check.
#include "import/import_state.h"

#include "strings/runtime_error.h"

namespace skov {

void FeldTabelle::OutOfRange(int slot) { Raise(kSubscriptOutOfRange, "field slot " + std::to_string(slot)); }

int RunSummary::FilesSaved() const {
  int saved = 0;
  for (const PassRecord& pass : passes) saved += pass.saved ? 1 : 0;
  return saved;
}

}  // namespace skov
