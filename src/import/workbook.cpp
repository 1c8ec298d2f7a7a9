// The template workbook bound from the default folder, and the filled one
// saved next to the import file.
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
      [&](int number) {
        Protokoll(ctx, u"SKOV_IMPORT.XLS :",
                  number == 1004 ? u"Kein Zugriff auf diese Datei moeglich." : u"Exceldatei kann nicht zugewiesen werden.");
        return false;
      });
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
        // An import file whose name ends in .XLS would be replaced by its own
        // workbook; the file is open for reading, so saving over it is refused.
        if (ctx.files.HoldsOpen(s.Ausgabedatei)) Raise(1004, "output is the open import file");
        s.Mappe->SaveAs(s.Ausgabedatei);
        Protokoll(ctx, u"Neue Excel-Datei:", s.Ausgabedatei);
        s.Mappe->Close(false);
        s.Mappe.reset();
        return true;
      },
      [&](int number) {
        if (number == 1004)
          Protokoll(ctx, s.Ausgabedatei + u" :", u"Kein Zugriff auf diese Datei moeglich.");
        else
          Protokoll(ctx, s.Zeichnungsname + u".XLS :", u"Exceldatei kann nicht geschrieben werden.");
        return false;
      });
}

}  // namespace skov
