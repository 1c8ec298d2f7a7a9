// The run's log: named after the chosen file (or IMPORT.LOG), in the host's
// default folder, one line per step.
#include <algorithm>

#include "host/runtime_files.h"
#include "import/handler.h"
#include "os/os.h"
#include "strings/fields.h"

namespace skov {

bool LogDateiOeffnen(ImportContext& ctx) {
  ImportState& s = ctx.state;
  return WithHandler(
      [&] {
        Text title = TrimNull(s.LetzterDialog.lpstrFileTitle.value_or(Text()));
        if (title.size() < 3) Raise(kInvalidArgument, "file title shorter than three characters");
        Text logName = title.substr(0, title.size() - 3) + u"LOG";
        Text path = TrimNull(s.LetzterDialog.lpstrFile.value_or(Text()));
        if (path.size() < logName.size()) Raise(kInvalidArgument, "file path shorter than its title");
        s.Importverzeichnis = path.substr(0, path.size() - logName.size());
        s.StandardPfad = ctx.host.DefaultFilePath();
        s.LogPfad = s.StandardPfad + os::kSeparator + (s.VerzeichnisImport ? Text(u"IMPORT.LOG") : logName);
        // Opening empties the log: an import file named like it (KATALOG,
        // PLAN.LOG) in the default folder would be lost.
        if (RuntimeFiles::SameFile(s.LogPfad, path))
          Raise(kPathFileAccessError, "the log would be the import file",
                u"Die Log-Datei waere die Importdatei selbst.");
        // One run at a time per default folder, before anything is emptied.
        try {
          ctx.files.LockFolder(s.StandardPfad);
        } catch (const RuntimeError& e) {
          if (e.Number() == kFileAlreadyOpen)
            Raise(kFileAlreadyOpen, e.what(), u"Ein anderer Import laeuft gerade mit diesem Standardordner.");
          throw;
        }
        s.LogNr = ctx.files.FreeFile();
        if (s.LogNr == 0) {
          ctx.files.UnlockFolder();
          return false;
        }
        ctx.files.Open(s.LogPfad, OpenMode::Output, s.LogNr, true);
        return true;
      },
      [&](int number, const Text& reason) {
        s.LogNr = 0;  // nothing to write to
        ctx.files.UnlockFolder();
        s.Meldung = number == kFileAlreadyOpen ? u"Die Log-Datei ist bereits geoeffnet!"
                                               : u"Log-Ddatei kann nicht geoeffnet werden!";
        ctx.messages.Show(s.Meldung + s.LogPfad + (reason.empty() ? Text() : u"\n" + reason), u"SKOV Import DDC");
        return false;
      });
}

namespace {

// One log line: text1 and text2 joined in the first print zone, text3 in
// the next; text2 given as Windows-1252 bytes when it was read that way.
void Zeile(ImportContext& ctx, const Text& text1, const Text* text2, std::string_view text2Bytes, const Text& text3) {
  const int nr = ctx.state.LogNr;
  if (nr == 0 || !ctx.files.IsOpen(nr)) return;
  try {
    // Held lines go straight into their batch; the others through one buffer.
    static thread_local std::string buffer;
    std::string* held = ctx.saves.Following();
    std::string& line = held ? *held : buffer;
    if (!held) line.clear();
    // Room for a pass's lines (some 50 KB for a drawing) from the start, so
    // that they are not copied each time the buffer grows.
    constexpr size_t kPlatz = size_t{1} << 16;
    if (line.capacity() < kPlatz) line.reserve(kPlatz);
    // One byte per character in Windows-1252, so bytes count columns: the
    // line's length is known before it is written.
    const size_t zone = text1.size() + (text2 ? text2->size() : text2Bytes.size());
    const size_t pad = ZonePadding(zone);
    const size_t start = line.size();
    line.resize(start + zone + pad + text3.size() + 2);
    char* o = EncodeCp1252(text1, line.data() + start);
    o = text2 ? EncodeCp1252(*text2, o) : std::copy(text2Bytes.begin(), text2Bytes.end(), o);
    o = std::fill_n(o, pad, ' ');
    if (!text3.empty()) o = EncodeCp1252(text3, o);
    o[0] = '\r';
    o[1] = '\n';
    if (!held) ctx.files.PrintLines(nr, line);
  } catch (...) {
    // Writing the log never fails a run; the user is told once.
    SchreibfehlerMelden(ctx, ctx.state.LogPfad, ErrorNumberOf(std::current_exception()));
  }
}

}  // namespace

void LogSchreiben(ImportContext& ctx, const Text& text1, const Text& text2, const Text& text3) {
  Zeile(ctx, text1, &text2, {}, text3);
}

void ProtokollZeile(ImportContext& ctx, TextView meldung, const Text& zeile, std::string_view bytes) {
  ctx.state.Meldung = meldung;
  ctx.state.MeldungDetail = zeile;
  Zeile(ctx, ctx.state.Meldung, nullptr, bytes, Text());
}

void LogDateiSchliessen(ImportContext& ctx) {
  ImportState& s = ctx.state;
  try {
    ctx.files.Close(s.LogNr);
  } catch (...) {
    SchreibfehlerMelden(ctx, s.LogPfad, ErrorNumberOf(std::current_exception()));
  }
  ctx.files.UnlockFolder();
  ctx.summary.logClosed = true;
  s.Meldung = u"Log-Datei: ";
  ctx.messages.Show(s.Meldung + s.LogPfad, u"SKOV Import DDC");
}

void SchreibfehlerMelden(ImportContext& ctx, const Text& path, int number) {
  std::vector<Text>& unwritten = ctx.summary.unwritten;
  if (std::find(unwritten.begin(), unwritten.end(), path) != unwritten.end()) return;
  unwritten.push_back(path);
  Text prompt = u"Datei konnte nicht vollstaendig geschrieben werden: " + path;
  if (number == kDiskFull) prompt += u"\n" + DiskFullReason();
  ctx.messages.Show(prompt, u"SKOV Import DDC");
}

void GrundMelden(ImportContext& ctx, const Text& reason, PassRecord& pass) {
  if (reason.empty()) return;
  // Meldung keeps the failure the line explains; the pass keeps the reason.
  LogSchreiben(ctx, u"Grund: ", reason, Text());
  pass.grund = reason;
}

void HinweisMelden(ImportContext& ctx, const Text& note, PassRecord* pass) {
  if (note.empty()) return;
  LogSchreiben(ctx, u"Hinweis: ", note, Text());
  if (pass) pass->hinweis = note;
}

void GrundMelden(ImportContext& ctx, const Text& reason) {
  if (reason.empty()) return;
  if (ctx.summary.passes.empty()) {
    LogSchreiben(ctx, u"Grund: ", reason, Text());
  } else {
    GrundMelden(ctx, reason, ctx.summary.passes.back());
  }
}

void Protokoll(ImportContext& ctx, const Text& meldung, const Text& detail) {
  ctx.state.Meldung = meldung;
  ctx.state.MeldungDetail = detail;
  LogSchreiben(ctx, ctx.state.Meldung, ctx.state.MeldungDetail, Text());
}

}  // namespace skov
