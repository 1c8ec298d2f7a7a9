// What a run tells its user at the end: the files not saved and the counts.
#pragma once

#include <vector>

#include "import/import_state.h"

namespace skov {

// Whether a pass's outcome counts for the run. In folder mode every file of
// the folder is tried, earlier results, logs and lists (.XLS, .LOG, .LST)
// too; their failure is expected and does not count.
bool CountsForRun(const Text& file, bool folderMode);

// Why the list could not be built (its log line), empty when it was.
Text ListFailureLine(const RunSummary& summary);

// One line "NAME: reason" (and " Grund: " why, when known) per counted pass
// that was not saved, then the
// count line "N gespeichert, M nicht gespeichert", extended by the passes
// that did not count and the listed files never tried, when there are any.
std::vector<Text> SummaryLines(const RunSummary& summary, bool folderMode);

}  // namespace skov
