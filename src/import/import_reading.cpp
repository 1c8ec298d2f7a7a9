// The import text file: opened, header line and data lines split into the
// field tables, drawing name found, closed.
#include "host/runtime_files.h"
#include "import/handler.h"
#include "strings/fields.h"

namespace skov {
namespace {

// Quotation marks come off only a field that is wrapped in them.
TextView Unquoted(TextView field, bool mitAnfuehrungszeichen) {
  if (mitAnfuehrungszeichen && field.size() >= 2 && field.front() == u'"' && field.back() == u'"')
    return field.substr(1, field.size() - 2);
  return field;
}

// Every field of the line into slots 1.., the rest cleared, so nothing of an
// earlier line survives. Empty fields past the last slot are harmless (a
// trailing separator); a value there is error 9.
int16_t ZeileSpeichern(FeldTabelle& table, const Text& line, const ImportState& s) {
  Text scratch;
  const std::vector<TextView> fields = SplitFieldViews(line, s.Trennzeichen, scratch);
  size_t used = fields.size();
  while (used > kFeldSlots && fields[used - 1].empty()) --used;
  if (used > kFeldSlots) Raise(9, "more than 200 fields");
  for (size_t k = 0; k < used; ++k) table[static_cast<int>(k) + 1].assign(Unquoted(fields[k], s.MitAnfuehrungszeichen));
  for (size_t k = used + 1; k <= kFeldSlots; ++k) table[static_cast<int>(k)].clear();
  return static_cast<int16_t>(used);
}

}  // namespace

Text AktuellerImportpfad(const ImportState& s) {
  return s.VerzeichnisImport ? s.Importverzeichnis + s.Importdatei : TrimNull(s.LetzterDialog.lpstrFile.value_or(Text()));
}

bool ImportdateiOeffnen(ImportContext& ctx) {
  ImportState& s = ctx.state;
  return WithHandler(
      [&] {
        const Text path = AktuellerImportpfad(s);
        s.ImportNr = ctx.files.FreeFile();
        if (s.ImportNr == 0) {
          Protokoll(ctx, u"Importdatei kann nicht geoeffnet werden:", path);
          return false;
        }
        ctx.files.Open(path, OpenMode::Input, s.ImportNr, true);
        Protokoll(ctx, u"Importdatei geoeffnet:", path);
        return true;
      },
      [&](int number) {
        Protokoll(ctx, number == 55 ? u"Die Importdatei ist bereits geoeffnet!" : u"Importdatei kann nicht geoeffnet werden!");
        return false;
      });
}

bool HeaderLesen(ImportContext& ctx) {
  ImportState& s = ctx.state;
  Text line;
  return WithHandler(
      [&] {
        line = ctx.files.LineInput(s.ImportNr);
        if (ctx.files.Eof(s.ImportNr)) {
          Protokoll(ctx, u"Headerzeile konnte nicht gelesen werden!");
          return false;
        }
        s.AnzahlHeaderFelder = ZeileSpeichern(s.HeaderFelder, line, s);
        KopfIndexAufbauen(s);
        Protokoll(ctx, u"Header gelesen :", line);
        return true;
      },
      [&](int) {
        Protokoll(ctx, u"Header konnte nicht gelesen werden!", line);
        return false;
      });
}

bool DatenzeileLesen(ImportContext& ctx) {
  ImportState& s = ctx.state;
  for (;;) {
    if (ctx.files.Eof(s.ImportNr)) {
      Protokoll(ctx, u"Letzte Datenzeile wurde verarbeitet.");
      s.WeitereDaten = false;
      return false;
    }
    Text line = ctx.files.LineInput(s.ImportNr);
    if (line.empty()) {
      Protokoll(ctx, u"Leere Datenzeile uebersprungen.");
      continue;
    }
    ZeileSpeichern(s.DatenFelder, line, s);
    Protokoll(ctx, u"Daten gelesen :", line);
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
