// One batch run: options in, the engine run through the real workbook host,
// an exit status out.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "app/batch_options.h"
#include "os/os.h"

namespace skov {

struct PassResult {
  std::string name;  // the list entry (folder mode) or the chosen path
  bool saved = false;
};

struct RunOutcome {
  bool logOpened = false;
  bool folderMode = false;
  int listed = 0;
  std::vector<PassResult> passes;
  bool writeFailed = false;  // the log or the list could not be written
};

// 0 every counted file saved, 1 a counted file failed or nothing was saved,
// 2 the log could not be opened. In folder mode a failed .XLS/.LOG/.LST file
// does not count: those are earlier results, logs and lists lying there.
int ExitStatusFor(const RunOutcome& outcome);

// The whole command: args without the program name. Help goes to out,
// everything else to err; progress lines only when errIsTerminal.
int BatchMain(const std::vector<std::string>& args, const os::EnvLookup& env, std::ostream& out, std::ostream& err,
              bool errIsTerminal);

}  // namespace skov
