// The error handler the opening, reading and saving procedures share.
#pragma once

#include <exception>
#include <new>
#include <string_view>
#include <type_traits>

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

// The German reason an error carries for the log, empty when none.
inline Text ErrorReasonOf(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const RuntimeError& e) {
    return e.Reason();
  } catch (...) {
    return {};
  }
}

// Runs body; any error it raises goes to handler(number) or
// handler(number, reason), whose answer is then the procedure's.
template <class Body, class Handler>
bool WithHandler(Body&& body, Handler&& handler) {
  std::exception_ptr error;
  try {
    return body();
  } catch (...) {
    error = std::current_exception();
  }
  if constexpr (std::is_invocable_v<Handler, int, const Text&>)
    return handler(ErrorNumberOf(error), ErrorReasonOf(error));
  else
    return handler(ErrorNumberOf(error));
}

// Meldung and MeldungDetail set, then the usual log line.
void Protokoll(ImportContext& ctx, const Text& meldung, const Text& detail = {});

// Protokoll(meldung, zeile) for a line just read: its bytes as the file
// held them go into the log unchanged.
void ProtokollZeile(ImportContext& ctx, TextView meldung, const Text& zeile, std::string_view bytes);

// A log or list file that could not be written (error number): told to the
// user once per file, and kept in the run summary.
void SchreibfehlerMelden(ImportContext& ctx, const Text& path, int number);

// After a failure's own log line, the line "Grund: " & reason that tells
// the user why, also kept for the run's summary (for the current pass, or
// the one given); nothing when the error carries no reason.
void GrundMelden(ImportContext& ctx, const Text& reason);
void GrundMelden(ImportContext& ctx, const Text& reason, PassRecord& pass);

// After a save's "Neue Excel-Datei:" line, the line "Hinweis: " & note that
// names the formulas the workbook leaves to the spreadsheet application,
// kept with the pass; nothing when the note is empty.
void HinweisMelden(ImportContext& ctx, const Text& note, PassRecord* pass);

// Every begun save made final and logged ("Neue Excel-Datei:" or why not)
// in its place among the held log lines.
void SpeicherungenAbschliessen(ImportContext& ctx);

// A workbook left open by a failed pass is closed unsaved and let go.
void MappeVerwerfen(ImportContext& ctx);

// Fills ImportState::Kopf from the header just read.
void KopfIndexAufbauen(ImportState& s);

// The path ImportdateiOeffnen opens for the current pass.
Text AktuellerImportpfad(const ImportState& s);

}  // namespace skov
