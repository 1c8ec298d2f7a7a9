// The import engine's procedures; ImportStarten is the one entry.
#pragma once

#include "import/import_state.h"

namespace skov {

// A whole run: log, list, every file's pass, closing message. Never throws.
void ImportStarten(ImportContext& ctx);

// Log file.
bool LogDateiOeffnen(ImportContext& ctx);
void LogSchreiben(ImportContext& ctx, const Text& text1, const Text& text2, const Text& text3);
void LogDateiSchliessen(ImportContext& ctx);

// Directory import list.
bool ImportListeErstellen(ImportContext& ctx);
bool NaechsteImportdatei(ImportContext& ctx);

// Import file reading.
bool ImportdateiOeffnen(ImportContext& ctx);
bool HeaderLesen(ImportContext& ctx);
bool DatenzeileLesen(ImportContext& ctx);
bool ZeichnungsnameErmitteln(ImportContext& ctx);
void ImportdateiSchliessen(ImportContext& ctx);

// Workbook handling.
bool VorlageOeffnen(ImportContext& ctx);
bool MappeSpeichern(ImportContext& ctx);

// Sheet filling.
void BlattkopfSchreiben(ImportContext& ctx);
void DatenzeileSchreiben(ImportContext& ctx);
bool NaechstesBlatt(ImportContext& ctx);
void BlaetterNummerieren(ImportContext& ctx);

}  // namespace skov
