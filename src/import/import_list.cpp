// Folder mode: the folder's files listed into IMPORT.LST, then read back one
// name per pass.
#include "host/runtime_files.h"
#include "import/handler.h"
#include "os/os.h"

namespace skov {
namespace {

// The list keeps one name per line, even for a name holding a line break.
Text Listenzeile(Text name) {
  for (char16_t& c : name)
    if (c == u'\r' || c == u'\n') c = u'?';
  return name;
}

}  // namespace

bool ImportListeErstellen(ImportContext& ctx) {
  ImportState& s = ctx.state;
  s.Listennamen.clear();
  s.NaechsterListenname = 0;
  if (!s.VerzeichnisImport) {
    ctx.summary.filesListed = 1;
    return true;
  }
  const Text listPath = s.StandardPfad + os::kSeparator + u"IMPORT.LST";
  return WithHandler(
      [&] {
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
          for (const Text& name : names) ctx.files.PrintZones(s.ListeNr, {Listenzeile(name)});
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
        s.Listennamen = std::move(names);
        return true;
      },
      [&](int number) {
        Protokoll(ctx,
                  number == kFileAlreadyOpen ? u"Die ImportdateiListe ist bereits geoeffnet!"
                                             : u"ImportdateiListe kann nicht geoeffnet werden!",
                  listPath);
        return false;
      });
}

bool NaechsteImportdatei(ImportContext& ctx) {
  ImportState& s = ctx.state;
  s.WeitereDateien = false;
  if (!s.VerzeichnisImport) return true;
  if (ctx.files.Eof(s.ListeNr) || s.NaechsterListenname >= s.Listennamen.size()) {
    Protokoll(ctx, u"Importdateienliste wurde verarbeitet.");
    return false;
  }
  // The line only counts off the list: read back as Windows-1252 it may have
  // lost characters of the name, which then could not be opened.
  ctx.files.LineInput(s.ListeNr);
  s.Importdatei = s.Listennamen[s.NaechsterListenname++];
  s.WeitereDateien = true;
  return true;
}

}  // namespace skov
