// The field tables: a line split into its slots, and their bounds check.
#include "import/import_state.h"

#include "strings/fields.h"
#include "strings/runtime_error.h"

namespace skov {

void FeldTabelle::OutOfRange(int slot) { Raise(kSubscriptOutOfRange, "field slot " + std::to_string(slot)); }

FeldTabelle::FeldTabelle() : slots_(kFeldSlots + 1) {}

int16_t FeldTabelle::Load(TextView text, char16_t split, bool quoted) {
  text_.assign(text);
  // Room for every field the text can hold, so that the loop below needs no
  // bounds check; the slots past 200 are never handed out.
  if (slots_.size() < text.size() + 2) slots_.resize(text.size() + 2);
  const char16_t* const chars = text_.data();
  Teil* const teile = slots_.data() + 1;
  size_t count = 0;
  uint32_t start = 0;
  ForEachFieldEnd(text_, split, [&](uint32_t end) {
    if (quoted && end - start >= 2 && chars[start] == u'"' && chars[end - 1] == u'"')
      teile[count] = {start + 1, end - start - 2};
    else
      teile[count] = {start, end - start};
    ++count;
    start = end + 1;
  });
  bool beyond = false;  // a value past the last slot
  if (count > kFeldSlots) {
    // Past the last slot's field only split characters may follow.
    size_t at = 0;
    for (int k = 0; k < kFeldSlots; ++k) at = text_.find(split, at) + 1;
    beyond = text_.find_first_not_of(split, at) != Text::npos;
  }
  const size_t written = std::min<size_t>(count, kFeldSlots), used = beyond ? 0 : written;
  for (size_t k = used; k < std::max(filled_, written); ++k) teile[k] = Teil{};
  filled_ = used;
  if (beyond) {
    text_.clear();
    Raise(kSubscriptOutOfRange, "more than 200 fields");
  }
  return static_cast<int16_t>(used);
}

int RunSummary::FilesSaved() const {
  int saved = 0;
  for (const PassRecord& pass : passes) saved += pass.saved ? 1 : 0;
  return saved;
}

}  // namespace skov
