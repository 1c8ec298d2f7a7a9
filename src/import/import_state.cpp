// The field tables' bounds check.
#include "import/import_state.h"

#include "strings/runtime_error.h"

namespace skov {

Text& FeldTabelle::operator[](int slot) {
  if (slot < 0 || slot > kFeldSlots) Raise(9, "field slot " + std::to_string(slot));
  return slots_[static_cast<size_t>(slot)];
}

const Text& FeldTabelle::operator[](int slot) const {
  if (slot < 0 || slot > kFeldSlots) Raise(9, "field slot " + std::to_string(slot));
  return slots_[static_cast<size_t>(slot)];
}

int RunSummary::FilesSaved() const {
  int saved = 0;
  for (const PassRecord& pass : passes) saved += pass.saved ? 1 : 0;
  return saved;
}

void FeldTabelle::Clear() {
  for (auto& s : slots_) s.clear();
}

}  // namespace skov
