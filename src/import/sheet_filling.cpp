// Title blocks, device rows, the change of sheet and the sheet totals.
#include <algorithm>
#include <iterator>
#include <vector>

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
  for (size_t t = 0; t < std::size(kTitelblock); ++t) {
    const TitelZelle& cell = kTitelblock[t];
    const bool drawing = TextView(cell.key) == u"DWGNME";
    for (int16_t k : s.Kopf.titel[t])
      s.Mappe->WriteCell(s.BlattNr, cell.row, cell.column, drawing ? s.Zeichnungsname : s.DatenFelder[k]);
  }
}

// The number 1..50 a field name is, written as its digits; 0 for any other name.
int Nummer(TextView name) {
  if (name.empty() || name.size() > 2 || name[0] == u'0') return 0;
  int n = 0;
  for (char16_t c : name) {
    if (c < u'0' || c > u'9') return 0;
    n = n * 10 + (c - u'0');
  }
  return n <= 50 ? n : 0;
}

void KopfIndexAufbauen(ImportState& s) {
  // Emptied, not freed: the next file's header fills the same lists.
  KopfIndex& kopf = s.Kopf;
  kopf.nummern.clear();
  for (auto& slots : kopf.titel) slots.clear();
  kopf.gerbez.clear();
  kopf.gerbem.clear();
  kopf.geraet = 0;
  for (int16_t k = 1; k <= s.AnzahlHeaderFelder; ++k) {
    if (const int n = Nummer(s.HeaderFelder[k])) kopf.nummern.push_back({static_cast<int16_t>(4 + n), k});
    if (Passt(s, k, u"GERAET")) kopf.geraet = k;
    if (Passt(s, k, u"GERBEZ")) kopf.gerbez.push_back(k);
    if (Passt(s, k, u"GERBEM")) kopf.gerbem.push_back(k);
    for (size_t t = 0; t < std::size(kTitelblock); ++t)
      if (Passt(s, k, kTitelblock[t].key)) kopf.titel[t].push_back(k);
  }
  std::stable_sort(kopf.nummern.begin(), kopf.nummern.end(),
                   [](const KopfIndex::Nummer& a, const KopfIndex::Nummer& b) { return a.spalte < b.spalte; });
}

void DatenzeileSchreiben(ImportContext& ctx) {
  ImportState& s = ctx.state;
  // The row goes to the workbook in one call, in the order the cells would
  // be written one by one. Both buffers are kept for the run.
  static thread_local std::vector<CellText> zeile;
  static thread_local Text geraete;  // the device texts, one after another
  zeile.clear();
  const FeldTabelle& felder = s.DatenFelder;
  for (const KopfIndex::Nummer& n : s.Kopf.nummern) zeile.push_back({n.spalte, felder[n.slot]});
  s.SpaltenNr = 55;  // past the numbered columns, as after counting through them
  geraete.clear();
  for (int16_t k : s.Kopf.gerbez) {
    if (s.Kopf.geraet) geraete += felder[s.Kopf.geraet];
    geraete += u'-';
    geraete += felder[k];
  }
  // Views taken once the buffer no longer grows.
  size_t at = 0;
  for (int16_t k : s.Kopf.gerbez) {
    const size_t length = (s.Kopf.geraet ? felder[s.Kopf.geraet].size() : 0) + 1 + felder[k].size();
    zeile.push_back({2, TextView(geraete).substr(at, length)});
    at += length;
  }
  for (int16_t k : s.Kopf.gerbem) zeile.push_back({55, felder[k]});
  s.Mappe->WriteRow(s.BlattNr, s.ZeilenNr, zeile);
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
