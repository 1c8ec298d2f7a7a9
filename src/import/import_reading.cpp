// The import text file: opened, header line and data lines split into the
// field tables, drawing name found, closed.
#include "host/runtime_files.h"
#include "import/handler.h"
#include "strings/fields.h"

namespace skov {
namespace {

// Every field of the line into slots 1.., the rest empty, so nothing of an
// earlier line survives; see FeldTabelle::Load.
int16_t ZeileSpeichern(FeldTabelle& table, const Text& line, const ImportState& s) {
  static thread_local Text scratch;  // kept between lines
  const SplitSource source = PrepareSplit(line, s.Trennzeichen, scratch);
  return table.Load(source.text, source.split, s.MitAnfuehrungszeichen);
}

// The next line of the import file, decoded into a buffer kept for the run;
// its bytes stay readable until the next read.
const Text& ZeileLesen(ImportContext& ctx, std::string_view& bytes) {
  static thread_local Text line;
  bytes = ctx.files.LineBytes(ctx.state.ImportNr);
  AssignCp1252(line, bytes);
  return line;
}

}  // namespace

Text AktuellerImportpfad(const ImportState& s) {
  return s.VerzeichnisImport ? s.Importverzeichnis + s.Importdatei : TrimNull(s.LetzterDialog.lpstrFile.value_or(Text()));
}

// An export saved as Unicode text reads as garbage in the system code page;
// without this line only the separator hint would follow.
void KodierungPruefen(ImportContext& ctx, const Text& header) {
  const TextView start(header);
  if (start.starts_with(u"\u00EF\u00BB\u00BF"))
    Protokoll(ctx, u"Importdatei ist UTF-8-Text (mit BOM), erwartet wird ANSI-Text:", AktuellerImportpfad(ctx.state));
  else if (start.starts_with(u"\u00FF\u00FE") || start.starts_with(u"\u00FE\u00FF"))
    Protokoll(ctx, u"Importdatei ist UTF-16-Text, erwartet wird ANSI-Text:", AktuellerImportpfad(ctx.state));
}

bool ImportdateiOeffnen(ImportContext& ctx) {
  ImportState& s = ctx.state;
  const Text path = AktuellerImportpfad(s);
  // An earlier pass's output read as input: read what that pass saved, from
  // beside the target while its save waits for the batch. A folder run over
  // its own earlier outputs would otherwise end a batch at every file.
  Text lesen = path;
  if (const PendingSave* offen = ctx.saves.Find(path)) {
    lesen = offen->ReadableAs();
    if (lesen.empty()) {
      SpeicherungenAbschliessen(ctx);
      lesen = path;
    }
  }
  return WithHandler(
      [&] {
        s.ImportNr = ctx.files.FreeFile();
        if (s.ImportNr == 0) {
          Protokoll(ctx, u"Importdatei kann nicht geoeffnet werden:", path);
          return false;
        }
        ctx.files.Open(lesen, OpenMode::Input, s.ImportNr, true);
        Protokoll(ctx, u"Importdatei geoeffnet:", path);
        return true;
      },
      [&](int number) {
        Protokoll(ctx,
                  number == kFileAlreadyOpen ? u"Die Importdatei ist bereits geoeffnet!"
                                             : u"Importdatei kann nicht geoeffnet werden!",
                  path);
        return false;
      });
}

bool HeaderLesen(ImportContext& ctx) {
  ImportState& s = ctx.state;
  Text line;
  return WithHandler(
      [&] {
        std::string_view bytes;
        line = ZeileLesen(ctx, bytes);
        KodierungPruefen(ctx, line);
        if (ctx.files.Eof(s.ImportNr)) {
          Protokoll(ctx, u"Headerzeile konnte nicht gelesen werden!");
          return false;
        }
        s.AnzahlHeaderFelder = ZeileSpeichern(s.HeaderFelder, line, s);
        KopfIndexAufbauen(s);
        ProtokollZeile(ctx, u"Header gelesen :", line, bytes);
        return true;
      },
      [&](int) {
        Protokoll(ctx, u"Header konnte nicht gelesen werden!", line);
        return false;
      });
}

bool DatenzeileLesen(ImportContext& ctx) {
  ImportState& s = ctx.state;
  // A run of blank lines is one log line, however long it is.
  long leer = 0;
  auto leereMelden = [&] {
    if (leer == 1) Protokoll(ctx, u"Leere Datenzeile uebersprungen.");
    if (leer > 1) Protokoll(ctx, u"Leere Datenzeilen uebersprungen:", NumberText(leer));
  };
  for (;;) {
    if (ctx.files.Eof(s.ImportNr)) {
      leereMelden();
      Protokoll(ctx, u"Letzte Datenzeile wurde verarbeitet.");
      s.WeitereDaten = false;
      return false;
    }
    std::string_view bytes;
    const Text& line = ZeileLesen(ctx, bytes);
    if (line.empty()) {
      ++leer;
      continue;
    }
    leereMelden();
    ZeileSpeichern(s.DatenFelder, line, s);
    ProtokollZeile(ctx, u"Daten gelesen :", line, bytes);
    s.WeitereDaten = true;
    return true;
  }
}

bool ZeichnungsnameErmitteln(ImportContext& ctx) {
  ImportState& s = ctx.state;
  s.Zeichnungsname.clear();  // a file without ZNAME must not inherit the last drawing's name
  for (int k = 1; k <= s.AnzahlHeaderFelder; ++k) {
    if (EqualsIgnoreCase(s.HeaderFelder[k], u"ZNAME")) {
      s.Zeichnungsname = s.DatenFelder[k];
      Protokoll(ctx, u"Zeichnungsname:", s.Zeichnungsname);
    }
  }
  if (s.Zeichnungsname.empty()) {
    Protokoll(ctx, u"Zeichnungsname konnte nicht ermittelt werden.", u"Ueberpruefen Sie auch die Trennzeichen!");
    return false;
  }
  return true;
}

void ImportdateiSchliessen(ImportContext& ctx) { ctx.files.Close(ctx.state.ImportNr); }

}  // namespace skov
