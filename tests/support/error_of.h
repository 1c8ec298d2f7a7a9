// The runtime error number a call raises, 0 when it raises none.
#pragma once

#include <functional>

#include "strings/runtime_error.h"

namespace skov::testing {

inline int ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const RuntimeError& e) {
    return e.Number();
  }
  return 0;
}

}  // namespace skov::testing
