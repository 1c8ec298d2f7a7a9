// The template workbook bound from the default folder, and the filled one
// saved next to the import file.
#include <algorithm>

#include "import/handler.h"
#include "os/os.h"

namespace skov {

void MappeVerwerfen(ImportContext& ctx) {
  if (!ctx.state.Mappe) return;
  try {
    ctx.state.Mappe->Close(false);
  } catch (...) {
    // Discarding an unsaved workbook cannot fail in a way that matters.
  }
  ctx.state.Mappe.reset();
}

bool VorlageOeffnen(ImportContext& ctx) {
  ImportState& s = ctx.state;
  return WithHandler(
      [&] {
        s.StandardPfad = ctx.host.DefaultFilePath();
        const Text path = s.StandardPfad + os::kSeparator + u"SKOV_IMPORT.XLS";
        MappeVerwerfen(ctx);  // one left by an earlier failed pass
        s.Mappe = ctx.host.BindToFile(path);
        s.Mappe->Activate();
        s.Mappe->ShowWindow(1);
        s.Mappe->ActivateSheet(1);
        s.Mappe->ShowSheet(1);
        return true;
      },
      [&](int number, const Text& reason) {
        Protokoll(ctx, u"SKOV_IMPORT.XLS :",
                  number == kHostRefused ? u"Kein Zugriff auf diese Datei moeglich."
                                         : u"Exceldatei kann nicht zugewiesen werden.");
        GrundMelden(ctx, reason);
        return false;
      });
}

// The file whose pass saved this output in this run, empty when none: the
// same path, or (where the folder names one file two ways) the same file.
Text SchonGeschriebenAus(const ImportContext& ctx, const Text& ausgabe) {
  const ImportState& s = ctx.state;
  auto file = [&](const PassRecord& pass) { return s.VerzeichnisImport ? s.Importverzeichnis + pass.file : pass.file; };
  for (const PassRecord& pass : ctx.summary.passes)
    if (pass.saved && pass.output == ausgabe) return file(pass);
  if (std::optional<size_t> earlier = ctx.saves.WrittenAs(ausgabe)) return file(ctx.summary.passes[*earlier]);
  return {};
}

namespace {

// The log line of a failed save, with the output and drawing name the save
// was made under.
void SpeichernGescheitert(ImportContext& ctx, int number, const Text& ausgabedatei, const Text& zeichnungsname) {
  if (number == kHostRefused)
    Protokoll(ctx, ausgabedatei + u" :", u"Kein Zugriff auf diese Datei moeglich.");
  else
    Protokoll(ctx, zeichnungsname + u".XLS :", u"Exceldatei kann nicht geschrieben werden.");
}

const Text kSchonGeschrieben = u"In diesem Lauf schon geschrieben aus:";

// A begun save of the current pass, logged in its place once it is final.
void SpeicherungAnhaengen(ImportContext& ctx, std::unique_ptr<PendingSave> save, const Text& hinweis) {
  const size_t index = ctx.summary.passes.size() - 1;
  const Text ausgabedatei = ctx.state.Ausgabedatei, zeichnungsname = ctx.state.Zeichnungsname;
  auto final = [&ctx, index, ausgabedatei, zeichnungsname, hinweis](const SaveEnd& end, std::string_view danach) {
    PassRecord& pass = ctx.summary.passes[index];
    if (!end.error) {
      Protokoll(ctx, u"Neue Excel-Datei:", ausgabedatei);
      HinweisMelden(ctx, hinweis, &pass);
    } else {
      SpeichernGescheitert(ctx, ErrorNumberOf(end.error), ausgabedatei, zeichnungsname);
      pass.saved = false;
      pass.output.clear();
      pass.reason = ctx.state.Meldung;
      pass.reasonDetail = ctx.state.MeldungDetail;
      const ImportState& s = ctx.state;
      const Text reason = !end.sameAs ? ErrorReasonOf(end.error)
                          : kSchonGeschrieben + (s.VerzeichnisImport ? s.Importverzeichnis : Text()) +
                                ctx.summary.passes[*end.sameAs].file;
      GrundMelden(ctx, reason, pass);
    }
    // What the run logged after the save, where it belongs.
    if (ctx.state.LogNr != 0 && ctx.files.IsOpen(ctx.state.LogNr) && !danach.empty()) {
      try {
        ctx.files.PrintLines(ctx.state.LogNr, danach);
      } catch (...) {
        SchreibfehlerMelden(ctx, ctx.state.LogPfad, ErrorNumberOf(std::current_exception()));
      }
    }
  };
  ctx.saves.Add(std::move(save), ausgabedatei, index, std::move(final));
}

}  // namespace

void SpeicherungenAbschliessen(ImportContext& ctx) { ctx.saves.Finish(ctx.host); }

bool MappeSpeichern(ImportContext& ctx) {
  ImportState& s = ctx.state;
  return WithHandler(
      [&] {
        if (!s.Mappe) Raise(kObjectVariableNotSet, "no workbook");
        s.Mappe->ActivateSheet(1);
        s.Mappe->ShowSheet(1);
        if (s.Importdatei.size() < 4) Raise(kInvalidArgument, "import file name shorter than four characters");
        s.Basisname = s.Importdatei.substr(0, s.Importdatei.size() - 4);
        s.Ausgabedatei = s.VerzeichnisImport ? s.Importverzeichnis + s.Basisname + u".XLS" : s.Basisname + u".XLS";
        // Cutting four characters off a short name can reach into the folder
        // part: only a named file in the import file's own folder is written.
        const TextView ordner(s.Importverzeichnis);
        const TextView name = TextView(s.Ausgabedatei).substr(std::min(ordner.size(), s.Ausgabedatei.size()));
        if (!TextView(s.Ausgabedatei).starts_with(ordner) || std::any_of(name.begin(), name.end(), os::IsSeparator))
          Raise(kHostRefused, "output outside the import folder",
                u"Die Ausgabedatei laege nicht im Ordner der Importdatei:" + s.Importverzeichnis);
        if (name == u".XLS")
          Raise(kHostRefused, "output without a name", u"Die Ausgabedatei haette keinen Namen vor .XLS.");
        // Whether an earlier save of this output succeeded decides the next check.
        if (ctx.saves.Find(s.Ausgabedatei)) SpeicherungenAbschliessen(ctx);
        // PLAN.TXT and PLAN.CSV both give PLAN.XLS: the later one would replace the earlier.
        if (const Text erste = SchonGeschriebenAus(ctx, s.Ausgabedatei); !erste.empty())
          Raise(kHostRefused, "output already written in this run", kSchonGeschrieben + erste);
        // An import file whose name ends in .XLS would be replaced by its own
        // workbook; the file is open for reading, so saving over it is refused.
        if (ctx.files.HoldsOpen(s.Ausgabedatei))
          Raise(kHostRefused, "output is the open import file", u"Die Ausgabedatei waere die Importdatei selbst.");
        std::unique_ptr<PendingSave> save = s.Mappe->BeginSaveAs(s.Ausgabedatei);
        const Text hinweis = s.Mappe->SaveNote();
        if (!ctx.summary.passes.empty()) ctx.summary.passes.back().output = s.Ausgabedatei;
        if (save && !ctx.summary.passes.empty()) {
          // Logged once it is on disk; the pass counts as saved until then.
          SpeicherungAnhaengen(ctx, std::move(save), hinweis);
        } else {
          if (save) {
            save->Finish();
            ctx.host.FlushSavedFolders();
          }
          Protokoll(ctx, u"Neue Excel-Datei:", s.Ausgabedatei);
          HinweisMelden(ctx, hinweis, ctx.summary.passes.empty() ? nullptr : &ctx.summary.passes.back());
        }
        s.Mappe->Close(false);
        s.Mappe.reset();
        return true;
      },
      [&](int number, const Text& reason) {
        SpeichernGescheitert(ctx, number, s.Ausgabedatei, s.Zeichnungsname);
        GrundMelden(ctx, reason);
        return false;
      });
}

}  // namespace skov
