// A text with the column it is written to: one cell of a row being filled.
#pragma once

#include "strings/text.h"

namespace skov {

struct CellText {
  int column;
  TextView value;
};

}  // namespace skov
