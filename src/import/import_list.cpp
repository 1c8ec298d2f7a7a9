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
        ctx.files.Open(listPath, OpenMode::Output, s.ListeNr, false);
        const std::vector<Text> names = RuntimeFiles::ListFiles(s.Importverzeichnis);
        for (const Text& name : names) ctx.files.PrintZones(s.ListeNr, {name});
        Protokoll(ctx, u"Importdateien-Liste:", listPath);
        ctx.files.Close(s.ListeNr);
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
