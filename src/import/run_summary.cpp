// The end-of-run summary shared by the window's closing message and skov-import.
#include "import/run_summary.h"

#include <string>

#include "os/os.h"
#include "strings/text.h"

namespace skov {
namespace {

bool EndsWithIgnoreCase(const Text& name, const Text& suffix) {
  return name.size() >= suffix.size() && EqualsIgnoreCase(name.substr(name.size() - suffix.size()), suffix);
}

Text Number(int n) {
  const std::string digits = std::to_string(n);
  return Text(digits.begin(), digits.end());
}

// The log writes both texts without a separator; a reader gets a space.
Text Joined(const Text& meldung, const Text& detail) {
  Text line = meldung;
  if (!detail.empty()) {
    if (!line.empty() && line.back() != u' ') line += u' ';
    line += detail;
  }
  return line;
}

Text Reason(const PassRecord& pass) {
  Text line = Joined(pass.reason, pass.reasonDetail);
  if (!pass.grund.empty()) line += u" Grund: " + pass.grund;
  return line;
}

}  // namespace

bool CountsForRun(const Text& file, bool folderMode) {
  if (!folderMode) return true;
  return !EndsWithIgnoreCase(file, u".XLS") && !EndsWithIgnoreCase(file, u".LOG") && !EndsWithIgnoreCase(file, u".LST");
}

Text ListFailureLine(const RunSummary& summary) {
  return summary.listFailure.empty() ? Text() : Joined(summary.listFailure, summary.listFailureDetail);
}

std::vector<Text> SummaryLines(const RunSummary& summary, bool folderMode) {
  std::vector<Text> lines;
  int saved = 0, failed = 0, notCounted = 0;
  for (const PassRecord& pass : summary.passes) {
    if (pass.saved) {
      ++saved;
    } else if (CountsForRun(pass.file, folderMode)) {
      ++failed;
      lines.push_back(Text(os::BaseName(pass.file)) + u": " + Reason(pass));
    } else {
      ++notCounted;
    }
  }
  Text counts = Number(saved) + u" gespeichert, " + Number(failed) + u" nicht gespeichert";
  if (notCounted > 0) counts += u", " + Number(notCounted) + u" nicht gezaehlt (.XLS/.LOG/.LST)";
  const int untried = summary.filesListed - static_cast<int>(summary.passes.size());
  if (untried > 0) counts += u", " + Number(untried) + u" nicht versucht";
  lines.push_back(counts);
  return lines;
}

}  // namespace skov
