// The template workbook bound from the default folder, and the filled one
// saved next to the import file.
#include <algorithm>

#include "import/handler.h"

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
        const Text path = s.StandardPfad + u"/" + u"SKOV_IMPORT.XLS";
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
                  number == 1004 ? u"Kein Zugriff auf diese Datei moeglich." : u"Exceldatei kann nicht zugewiesen werden.");
        GrundMelden(ctx, reason);
        return false;
      });
}

// The file the output was first saved from in this run, empty when none.
Text SchonGeschriebenAus(const ImportContext& ctx, const Text& ausgabe) {
  const ImportState& s = ctx.state;
  for (const PassRecord& pass : ctx.summary.passes)
    if (pass.saved && pass.output == ausgabe) return s.VerzeichnisImport ? s.Importverzeichnis + pass.file : pass.file;
  return {};
}

bool MappeSpeichern(ImportContext& ctx) {
  ImportState& s = ctx.state;
  return WithHandler(
      [&] {
        if (!s.Mappe) Raise(91, "no workbook");
        s.Mappe->ActivateSheet(1);
        s.Mappe->ShowSheet(1);
        if (s.Importdatei.size() < 4) Raise(5, "import file name shorter than four characters");
        s.Basisname = s.Importdatei.substr(0, s.Importdatei.size() - 4);
        s.Ausgabedatei = s.VerzeichnisImport ? s.Importverzeichnis + s.Basisname + u".XLS" : s.Basisname + u".XLS";
        // Cutting four characters off a short name can reach into the folder
        // part: only a named file in the import file's own folder is written.
        const TextView ordner(s.Importverzeichnis);
        const TextView name = TextView(s.Ausgabedatei).substr(std::min(ordner.size(), s.Ausgabedatei.size()));
        if (!TextView(s.Ausgabedatei).starts_with(ordner) || name.find(u'/') != TextView::npos)
          Raise(kHostRefused, "output outside the import folder",
                u"Die Ausgabedatei laege nicht im Ordner der Importdatei:" + s.Importverzeichnis);
        if (name == u".XLS")
          Raise(kHostRefused, "output without a name", u"Die Ausgabedatei haette keinen Namen vor .XLS.");
        // PLAN.TXT and PLAN.CSV both give PLAN.XLS: the later one would replace the earlier.
        if (const Text erste = SchonGeschriebenAus(ctx, s.Ausgabedatei); !erste.empty())
          Raise(kHostRefused, "output already written in this run", u"In diesem Lauf schon geschrieben aus:" + erste);
        // An import file whose name ends in .XLS would be replaced by its own
        // workbook; the file is open for reading, so saving over it is refused.
        if (ctx.files.HoldsOpen(s.Ausgabedatei))
          Raise(kHostRefused, "output is the open import file", u"Die Ausgabedatei waere die Importdatei selbst.");
        s.Mappe->SaveAs(s.Ausgabedatei);
        if (!ctx.summary.passes.empty()) ctx.summary.passes.back().output = s.Ausgabedatei;
        Protokoll(ctx, u"Neue Excel-Datei:", s.Ausgabedatei);
        s.Mappe->Close(false);
        s.Mappe.reset();
        return true;
      },
      [&](int number, const Text& reason) {
        if (number == 1004)
          Protokoll(ctx, s.Ausgabedatei + u" :", u"Kein Zugriff auf diese Datei moeglich.");
        else
          Protokoll(ctx, s.Zeichnungsname + u".XLS :", u"Exceldatei kann nicht geschrieben werden.");
        GrundMelden(ctx, reason);
        return false;
      });
}

}  // namespace skov
