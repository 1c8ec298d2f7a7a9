// skov-import's run: the window's settings and dialog record built from the
// options, message boxes as stderr lines, the exit status from the passes.
#include "app/batch_run.h"

#include "host/xls_host.h"
#include "import/import.h"
#include "import/run_summary.h"

namespace skov {
namespace {

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

// Without trailing separators (the host's default folder is given that
// way); a root keeps its own.
Text WithoutTrailingSeparator(Text path) {
  while (path.size() > 1 && os::IsSeparator(path.back()) && os::FolderOf(path) != path) path.pop_back();
  return path;
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

int BatchMain(const std::vector<std::string>& args, const os::EnvLookup& env, std::ostream& out, std::ostream& err,
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

  // Paths as the shell gave them: bytes, shown back as they came.
  Text folder = o.defaultFolder ? FromFileName(*o.defaultFolder) : os::DocumentsFolder(env);
  if (folder.empty()) {
    err << "skov-import: Kein Standardordner bekannt (HOME ist nicht gesetzt). Bitte --default-folder DIR angeben.\n";
    return 2;
  }
  // The dialog hands over a full path; keep the user's spelling otherwise.
  folder = WithoutTrailingSeparator(os::Absolute(folder));
  os::FileInfo info;
  if (!os::Stat(folder, info) || !info.folder) {
    err << "skov-import: Der Standardordner existiert nicht: " << ToFileName(folder) << '\n'
        << "Dort werden SKOV_IMPORT.XLS und das Protokoll erwartet (--default-folder DIR).\n";
    return 2;
  }
  // The file dialog only ever answers with an existing file.
  const Text importFile = os::Absolute(FromFileName(o.importFile));
  if (!os::Stat(importFile, info) || !info.regular) {
    const bool exists = os::Stat(importFile, info);
    const char* what = exists && info.folder ? "ist ein Ordner"
                       : exists              ? "ist keine gewoehnliche Datei"
                                             : "existiert nicht";
    err << "skov-import: Die Importdatei " << what << ": " << ToFileName(importFile) << '\n';
    return 2;
  }
  const Text templatePath = folder + os::kSeparator + u"SKOV_IMPORT.XLS";
  if (!os::Stat(templatePath, info)) err << "skov-import: Vorlage nicht gefunden: " << ToFileName(templatePath) << '\n';

  ImportState state;
  state.MitAnfuehrungszeichen = o.quotes;
  state.Trennzeichen = o.separator;
  state.VerzeichnisImport = o.folderMode;
  state.Importdatei = importFile;
  state.LetzterDialog = RecordForChosenFile(state.Importdatei);

  std::unique_ptr<SpreadsheetHost> host = MakeXlsHost(folder);
  StderrMessages messages(err);
  NoPointer pointer;
  RuntimeFiles files;
  ImportContext ctx{state, *host, messages, pointer, files, nullptr, {}, {}};

  if (errIsTerminal) {
    ctx.progress = [&](int index, int total, const Text& name) {
      err << '[' << index << '/' << total << "] " << ToUtf8(os::BaseName(name)) << std::endl;
    };
  }
  ImportStarten(ctx);
  // What the log says about each file, without opening it.
  if (ctx.summary.logOpened) {
    // Without a list no file is named below; the exit status alone would not say why.
    if (const Text line = ListFailureLine(ctx.summary); !line.empty()) err << ToUtf8(line) << '\n';
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
