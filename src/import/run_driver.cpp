// ImportStarten: the log, the list, one pass per import file, the closing message.
#include "host/runtime_files.h"
#include "import/handler.h"
#include "os/os.h"

namespace skov {
namespace {

// An error no procedure caught ends only the pass it happened in.
void LaufzeitfehlerMelden(ImportContext& ctx, int number, const Text& detail) {
  Protokoll(ctx, RuntimeErrorTitle(number) + u": " + ErrorDescription(number) + u" - ", detail);
}

// One import file, from opening it to saving its workbook. True when saved.
bool Durchlauf(ImportContext& ctx) {
  ImportState& s = ctx.state;
  s.BlattNr = 1;
  if (!ImportdateiOeffnen(ctx)) return false;
  if (!HeaderLesen(ctx)) {
    Protokoll(ctx, Text(u"Headerzeile ") + u"konnte nicht gelesen werden.");
    ImportdateiSchliessen(ctx);
    return false;
  }
  s.ZeilenNr = 11;
  if (!DatenzeileLesen(ctx)) {
    Protokoll(ctx, u"Die erste Datenzeile konnte nicht gelesen werden.");
    ImportdateiSchliessen(ctx);
    return false;
  }
  if (!ZeichnungsnameErmitteln(ctx) || !VorlageOeffnen(ctx)) {
    ImportdateiSchliessen(ctx);
    return false;
  }
  BlattkopfSchreiben(ctx);
  s.WeitereDaten = true;
  while (s.WeitereDaten) {
    DatenzeileSchreiben(ctx);
    if (s.ZeilenNr == 28) {
      // The sheet changes only when another line is there to fill it.
      if (!DatenzeileLesen(ctx)) break;
      if (!NaechstesBlatt(ctx)) break;
    } else {
      s.ZeilenNr = Increment16(s.ZeilenNr);
      DatenzeileLesen(ctx);
    }
  }
  BlaetterNummerieren(ctx);
  const bool saved = MappeSpeichern(ctx);
  ImportdateiSchliessen(ctx);
  return saved;
}

void DateiSchleife(ImportContext& ctx) {
  ImportState& s = ctx.state;
  s.WeitereDateien = true;
  while (s.WeitereDateien) {
    if (!NaechsteImportdatei(ctx)) continue;
    ctx.summary.passes.push_back({s.Importdatei, false, {}, {}, {}, {}, {}});
    const int index = static_cast<int>(ctx.summary.passes.size());
    if (ctx.progress) ctx.progress(index, ctx.summary.filesListed, s.Importdatei);
    bool saved = false;
    try {
      saved = Durchlauf(ctx);
    } catch (...) {
      LaufzeitfehlerMelden(ctx, ErrorNumberOf(std::current_exception()), AktuellerImportpfad(s));
      GrundMelden(ctx, ErrorReasonOf(std::current_exception()));
      MappeVerwerfen(ctx);
      ImportdateiSchliessen(ctx);
    }
    PassRecord& pass = ctx.summary.passes.back();
    pass.saved = saved;
    // Every way a pass can stop logs why as its last line.
    if (!saved) {
      pass.reason = s.Meldung;
      pass.reasonDetail = s.MeldungDetail;
    } else {
      pass.grund.clear();
    }
    if (ctx.saves.Full()) SpeicherungenAbschliessen(ctx);
    try {
      ctx.files.Flush(s.LogNr);
    } catch (...) {
      SchreibfehlerMelden(ctx, s.LogPfad, ErrorNumberOf(std::current_exception()));
    }
  }
  SpeicherungenAbschliessen(ctx);
}

}  // namespace

void ImportStarten(ImportContext& ctx) {
  ImportState& s = ctx.state;
  ctx.summary = RunSummary();
  ctx.saves.Reset();
  s.BlattNr = 1;
  ctx.pointer.Set(MousePointer::Hourglass);
  if (!LogDateiOeffnen(ctx)) {
    ctx.pointer.Set(MousePointer::Default);
    ctx.messages.Show(u"Die Log-Datei läßt sich nicht öffnen!", u"SKOV_Import");
    return;
  }
  ctx.summary.logOpened = true;
  if (ImportListeErstellen(ctx)) {
    try {
      DateiSchleife(ctx);
    } catch (...) {
      // Only reading the list itself can get here; the passes catch their own.
      LaufzeitfehlerMelden(ctx, ErrorNumberOf(std::current_exception()), s.StandardPfad + os::kSeparator + u"IMPORT.LST");
    }
    SpeicherungenAbschliessen(ctx);
    ctx.files.Close(s.ListeNr);
  } else {
    ctx.summary.listFailure = s.Meldung;
    ctx.summary.listFailureDetail = s.MeldungDetail;
  }
  MappeVerwerfen(ctx);
  ctx.pointer.Set(MousePointer::Default);
  LogDateiSchliessen(ctx);
}

}  // namespace skov
