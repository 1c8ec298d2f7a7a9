// skov-import's run: the window's settings and dialog record built from the
// options, message boxes as stderr lines, the exit status from the passes.
#include "app/batch_run.h"

#include <filesystem>
#include <system_error>

#include "host/xls_host.h"
#include "import/import.h"
#include "import/run_summary.h"

namespace skov {
namespace {

namespace fs = std::filesystem;

class StderrMessages : public MessageService {
 public:
  explicit StderrMessages(std::ostream& err) : err_(err) {}
  // The prompt alone: the titles only repeat the program's name.
  void Show(const Text& prompt, const Text&) override { err_ << ToUtf8(prompt) << std::endl; }

 private:
  std::ostream& err_;
};

class NoPointer : public BusyPointer {
 public:
  void Set(MousePointer) override {}
};

const char kUsage[] =
    "Aufruf: skov-import [--separator C] [--no-quotes] [--single|--folder] [--default-folder DIR] IMPORTDATEI\n"
    "Mehr unter: skov-import --help\n";

// The dialog hands over a full path; keep the user's spelling otherwise.
std::string FullPath(const std::string& path) {
  std::error_code ec;
  fs::path p = fs::absolute(fs::path(path), ec);
  if (ec) return path;
  return p.lexically_normal().string();
}

std::string BaseName(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

int ExitStatusFor(const RunOutcome& outcome) {
  if (!outcome.logOpened || outcome.writeFailed) return 2;
  if (static_cast<int>(outcome.passes.size()) < outcome.listed) return 1;
  bool anySaved = false;
  for (const PassResult& pass : outcome.passes) {
    if (pass.saved) anySaved = true;
    else if (CountsForRun(FromUtf8(pass.name), outcome.folderMode)) return 1;
  }
  return anySaved ? 0 : 1;
}

int BatchMain(const std::vector<std::string>& args, const EnvLookup& env, std::ostream& out, std::ostream& err,
              bool errIsTerminal) {
  const ParsedArgs parsed = ParseBatchArgs(args);
  if (parsed.outcome == ParseOutcome::Help) {
    out << BatchHelpText();
    return 0;
  }
  if (parsed.outcome == ParseOutcome::Version) {
    out << "skov-import " << SKOV_VERSION << '\n';
    return 0;
  }
  if (parsed.outcome == ParseOutcome::UsageError) {
    err << "skov-import: " << parsed.error << '\n' << kUsage;
    return 2;
  }
  const BatchOptions& o = parsed.options;

  std::string folder = o.defaultFolder ? *o.defaultFolder : DocumentsFolder(env);
  if (folder.empty()) {
    err << "skov-import: Kein Standardordner bekannt (HOME ist nicht gesetzt). Bitte --default-folder DIR angeben.\n";
    return 2;
  }
  folder = WithoutTrailingSlash(FullPath(folder));
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) {
    err << "skov-import: Der Standardordner existiert nicht: " << folder << '\n'
        << "Dort werden SKOV_IMPORT.XLS und das Protokoll erwartet (--default-folder DIR).\n";
    return 2;
  }
  // The file dialog only ever answers with an existing file.
  const std::string importFile = FullPath(o.importFile);
  if (!fs::is_regular_file(importFile, ec)) {
    const char* what = fs::is_directory(importFile, ec) ? "ist ein Ordner"
                       : fs::exists(importFile, ec)     ? "ist keine gewoehnliche Datei"
                                                         : "existiert nicht";
    err << "skov-import: Die Importdatei " << what << ": " << importFile << '\n';
    return 2;
  }
  const std::string templatePath = folder + "/SKOV_IMPORT.XLS";
  if (!fs::exists(templatePath, ec)) err << "skov-import: Vorlage nicht gefunden: " << templatePath << '\n';

  ImportState state;
  state.MitAnfuehrungszeichen = o.quotes;
  state.Trennzeichen = o.separator;
  state.VerzeichnisImport = o.folderMode;
  state.Importdatei = FromFileName(importFile);
  state.LetzterDialog = RecordForChosenFile(state.Importdatei);

  std::unique_ptr<SpreadsheetHost> host = MakeXlsHost(FromFileName(folder));
  StderrMessages messages(err);
  NoPointer pointer;
  RuntimeFiles files;
  ImportContext ctx{state, *host, messages, pointer, files, nullptr, {}, {}};

  if (errIsTerminal) {
    ctx.progress = [&](int index, int total, const Text& name) {
      err << '[' << index << '/' << total << "] " << BaseName(ToUtf8(name)) << std::endl;
    };
  }
  ImportStarten(ctx);
  // What the log says about each file, without opening it.
  if (ctx.summary.logOpened) {
    for (const Text& line : SummaryLines(ctx.summary, o.folderMode)) err << ToUtf8(line) << '\n';
  }

  RunOutcome outcome;
  outcome.folderMode = o.folderMode;
  for (const PassRecord& pass : ctx.summary.passes) outcome.passes.push_back({ToUtf8(pass.file), pass.saved});
  outcome.logOpened = ctx.summary.logOpened;
  outcome.listed = ctx.summary.filesListed;
  outcome.writeFailed = !ctx.summary.unwritten.empty();
  return ExitStatusFor(outcome);
}

}  // namespace skov
