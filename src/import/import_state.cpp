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

void FeldTabelle::Clear() {
  for (auto& s : slots_) s.clear();
}

}  // namespace skov
