// The error handler the opening, reading and saving procedures share.
#pragma once

#include <exception>
#include <new>

#include "import/import.h"
#include "strings/runtime_error.h"

namespace skov {

// The runtime error number behind an exception; foreign exceptions count as
// out of memory (7) or an internal error (51).
inline int ErrorNumberOf(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const RuntimeError& e) {
    return e.Number();
  } catch (const std::bad_alloc&) {
    return 7;
  } catch (...) {
    return 51;
  }
}

// Runs body; any error it raises goes to handler(number), whose answer is
// then the procedure's.
template <class Body, class Handler>
bool WithHandler(Body&& body, Handler&& handler) {
  std::exception_ptr error;
  try {
    return body();
  } catch (...) {
    error = std::current_exception();
  }
  return handler(ErrorNumberOf(error));
}

// Meldung and MeldungDetail set, then the usual log line.
void Protokoll(ImportContext& ctx, const Text& meldung, const Text& detail = {});

// A workbook left open by a failed pass is closed unsaved and let go.
void MappeVerwerfen(ImportContext& ctx);

// Fills ImportState::Kopf from the header just read.
void KopfIndexAufbauen(ImportState& s);

// The path ImportdateiOeffnen opens for the current pass.
Text AktuellerImportpfad(const ImportState& s);

}  // namespace skov
