// Folder mode: the folder's files listed into IMPORT.LST, then read back one
// name per pass.
#include "host/runtime_files.h"
#include "import/handler.h"

namespace skov {

bool ImportListeErstellen(ImportContext& ctx) {
  ImportState& s = ctx.state;
  if (!s.VerzeichnisImport) {
    ctx.summary.filesListed = 1;
    return true;
  }
  return WithHandler(
      [&] {
        const Text listPath = s.StandardPfad + u"/IMPORT.LST";
        s.ListeNr = ctx.files.FreeFile();
        if (s.ListeNr == 0) {
          Protokoll(ctx, u"ImportListe kann nicht geoeffnet werden:", listPath);
          return false;
        }
        std::vector<Text> names;
        try {
          names = RuntimeFiles::ListFiles(s.Importverzeichnis);
        } catch (const RuntimeError&) {
          // Listed as empty, the folder would pass for one without files.
          Protokoll(ctx, u"Importordner kann nicht gelesen werden:", s.Importverzeichnis);
          return false;
        }
        ctx.files.Open(listPath, OpenMode::Output, s.ListeNr, false);
        try {
          for (const Text& name : names) ctx.files.PrintZones(s.ListeNr, {name});
          ctx.files.Close(s.ListeNr);
        } catch (const RuntimeError& e) {
          try {
            ctx.files.Close(s.ListeNr);
          } catch (const RuntimeError&) {
            // the same failure again
          }
          SchreibfehlerMelden(ctx, listPath, e.Number());
          throw;
        }
        Protokoll(ctx, u"Importdateien-Liste:", listPath);
        s.ListeNr = ctx.files.FreeFile();
        ctx.files.Open(listPath, OpenMode::Input, s.ListeNr, false);
        ctx.summary.filesListed = static_cast<int>(names.size());
        return true;
      },
      [&](int number) {
        Protokoll(ctx, number == 55 ? u"Die ImportdateiListe ist bereits geoeffnet!"
                                    : u"ImportdateiListe kann nicht geoeffnet werden!");
        return false;
      });
}

bool NaechsteImportdatei(ImportContext& ctx) {
  ImportState& s = ctx.state;
  s.WeitereDateien = false;
  if (!s.VerzeichnisImport) return true;
  if (ctx.files.Eof(s.ListeNr)) {
    Protokoll(ctx, u"Importdateienliste wurde verarbeitet.");
    return false;
  }
  s.Importdatei = ctx.files.LineInput(s.ListeNr);
  s.WeitereDateien = true;
  return true;
}

}  // namespace skov
