// Title blocks, device rows, the change of sheet and the sheet totals.
#include "import/handler.h"

namespace skov {
namespace {

struct TitelZelle {
  const char16_t* key;
  int row;
  int column;
};

constexpr TitelZelle kTitelblock[] = {
    {u"PROJEKT1", 31, 22}, {u"PROJEKT2", 32, 22}, {u"PROJEKT3", 33, 22}, {u"INFO1", 31, 42},
    {u"DWGNME", 33, 42},   {u"GEWERK1", 30, 55},  {u"ANLAGE1", 31, 55},
};

bool Passt(const ImportState& s, int k, TextView key) { return EqualsIgnoreCase(s.HeaderFelder[k], key); }

}  // namespace

void BlattkopfSchreiben(ImportContext& ctx) {
  ImportState& s = ctx.state;
  s.Meldung = u"Blatt" + NumberText(s.BlattNr);
  LogSchreiben(ctx, s.Meldung, Text(), Text());
  for (const TitelZelle& cell : kTitelblock) {
    const bool drawing = TextView(cell.key) == u"DWGNME";
    for (int k = 1; k <= s.AnzahlHeaderFelder; ++k) {
      if (Passt(s, k, cell.key))
        s.Mappe->WriteCell(s.BlattNr, cell.row, cell.column, drawing ? s.Zeichnungsname : s.DatenFelder[k]);
    }
  }
}

void KopfIndexAufbauen(ImportState& s) {
  s.Kopf = KopfIndex();
  for (int n = 1; n <= 50; ++n) {
    const std::string digits = std::to_string(n);
    const Text key(digits.begin(), digits.end());
    for (int16_t k = 1; k <= s.AnzahlHeaderFelder; ++k)
      if (Passt(s, k, key)) s.Kopf.nummern[static_cast<size_t>(n)].push_back(k);
  }
  for (int16_t k = 1; k <= s.AnzahlHeaderFelder; ++k) {
    if (Passt(s, k, u"GERAET")) s.Kopf.geraet = k;
    if (Passt(s, k, u"GERBEZ")) s.Kopf.gerbez.push_back(k);
    if (Passt(s, k, u"GERBEM")) s.Kopf.gerbem.push_back(k);
  }
}

void DatenzeileSchreiben(ImportContext& ctx) {
  ImportState& s = ctx.state;
  s.SpaltenNr = 5;
  for (int n = 1; n <= 50; ++n) {
    for (int16_t k : s.Kopf.nummern[static_cast<size_t>(n)])
      s.Mappe->WriteCell(s.BlattNr, s.ZeilenNr, s.SpaltenNr, s.DatenFelder[k]);
    s.SpaltenNr = Increment16(s.SpaltenNr);
  }
  const Text geraet = s.Kopf.geraet ? s.DatenFelder[s.Kopf.geraet] : Text();
  for (int16_t k : s.Kopf.gerbez) s.Mappe->WriteCell(s.BlattNr, s.ZeilenNr, 2, geraet + u"-" + s.DatenFelder[k]);
  for (int16_t k : s.Kopf.gerbem) s.Mappe->WriteCell(s.BlattNr, s.ZeilenNr, 55, s.DatenFelder[k]);
}

bool NaechstesBlatt(ImportContext& ctx) {
  ImportState& s = ctx.state;
  s.BlattNr = Increment16(s.BlattNr);
  if (s.BlattNr > 5) {
    s.Meldung = Text(u"Es koennen nicht mehr ") + u"Blaetter erzeugt werden";
    LogSchreiben(ctx, s.Meldung, Text(), Text());
    return false;
  }
  s.Mappe->ActivateSheet(s.BlattNr);
  s.Mappe->ShowSheet(s.BlattNr);
  s.ZeilenNr = 12;
  BlattkopfSchreiben(ctx);
  return true;
}

void BlaetterNummerieren(ImportContext& ctx) {
  ImportState& s = ctx.state;
  s.BlattNr = s.BlattNr > 5 ? int16_t{6} : Increment16(s.BlattNr);
  const Text total = NumberText(s.BlattNr);
  for (int i = 1; i <= s.BlattNr - 1; ++i) {
    s.Mappe->ActivateSheet(i);
    s.Mappe->ShowSheet(i);
    s.Mappe->WriteCell(i, 33, 56, total);
  }
}

}  // namespace skov
