// The state every step of an import run shares, and what a run needs around it.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/atomic_save.h"
#include "host/open_file_name.h"
#include "host/platform.h"
#include "host/runtime_files.h"
#include "host/spreadsheet_host.h"
#include "strings/text.h"

namespace skov {

constexpr int kFeldSlots = 200;  // usable slots 1..200; slot 0 unused

// A line's fields in slots 0..200 (slot 0 unused); any other index raises
// error 9. The slots are parts of the table's own copy of the line, so they
// stay valid until the table takes its next line, and taking one is a
// single copy instead of one per field.
class FeldTabelle {
 public:
  FeldTabelle();
  TextView operator[](int slot) const {
    if (slot < 0 || slot > kFeldSlots) OutOfRange(slot);
    const Teil& teil = slots_[static_cast<size_t>(slot)];
    return TextView(text_.data() + teil.start, teil.length);
  }
  // A new line: `text` copied into the table and split at `split`, slot k
  // its k-th field, without the quotation marks that wrap it where
  // `quoted`; every other slot empty. Empty fields past the last slot are
  // dropped (a trailing separator); a value there is error 9, and the table
  // is left empty. Returns the number of slots filled.
  int16_t Load(TextView text, char16_t split, bool quoted);
  void Clear() { Load(TextView(), u'\0', false); }

 private:
  struct Teil {
    uint32_t start = 0;
    uint32_t length = 0;
  };
  [[noreturn]] static void OutOfRange(int slot);
  Text text_;
  std::vector<Teil> slots_;  // at least 0..200
  // Slots past this were not filled since the last line was loaded: a line
  // of 60 fields leaves 140 slots that need no clearing.
  size_t filled_ = 0;
};

// Header slots of the keys a data row is written from, worked out once per
// header line: the row writer asks for the same keys on every line.
struct KopfIndex {
  // The slots named "1".."50" with the column each goes to (5..54), in the
  // order the row writer takes them: by number, then by slot.
  struct Nummer {
    int16_t spalte;
    int16_t slot;
  };
  std::vector<Nummer> nummern;
  int16_t geraet = 0;  // the last GERAET slot, which gives the device text; 0: none
  std::vector<int16_t> gerbez, gerbem;
  std::array<std::vector<int16_t>, 7> titel;  // per title block cell, its key's slots
};

struct ImportState {
  bool MitAnfuehrungszeichen = false;
  Text Trennzeichen;
  Text Importdatei;
  bool VerzeichnisImport = false;
  Text Basisname;
  OpenFileName LetzterDialog;
  bool WeitereDaten = false;
  bool WeitereDateien = false;
  FeldTabelle HeaderFelder;
  FeldTabelle DatenFelder;
  int16_t AnzahlHeaderFelder = 0;
  KopfIndex Kopf;  // follows HeaderFelder
  int32_t LogNr = 0;
  int32_t ImportNr = 0;
  int32_t ListeNr = 0;
  // Folder mode: the names as the folder gives them, in list order. The list
  // file holds them as Windows-1252 text, which cannot hold every name.
  std::vector<Text> Listennamen;
  size_t NaechsterListenname = 0;
  std::unique_ptr<Workbook> Mappe;
  Text Importverzeichnis;
  Text StandardPfad;
  Text Ausgabedatei;
  Text Zeichnungsname;
  int16_t BlattNr = 0;
  int16_t ZeilenNr = 0;
  int16_t SpaltenNr = 0;
  Text LogPfad;
  Text Meldung;
  Text MeldungDetail;
};

// One pass of the file loop: its file (list entry, or the chosen path in
// single mode) and whether its workbook was saved.
struct PassRecord {
  Text file;
  bool saved = false;
  Text reason, reasonDetail;  // a pass not saved: the last message it logged
  Text output;  // the workbook it saved
  Text grund;                 // and the reason logged after it, if any
  Text hinweis;               // a pass saved: what the log told about its formulas, if anything
};

// What a run did, for callers that report an exit status.
struct RunSummary {
  bool logOpened = false;
  bool logClosed = false;  // what a run shows from now on is its closing message
  int filesListed = 0;              // list entries (1 in single mode)
  std::vector<PassRecord> passes;  // in the order the loop took them
  std::vector<Text> unwritten;     // log or list files whose writing failed
  Text listFailure, listFailureDetail;  // folder mode: why the list could not be built (its log line)

  int FilesSaved() const;
  int FilesFailed() const { return static_cast<int>(passes.size()) - FilesSaved(); }
};

// The state plus the platform services one run works with.
struct ImportContext {
  ImportState& state;
  SpreadsheetHost& host;
  MessageService& messages;
  BusyPointer& pointer;
  RuntimeFiles& files;
  // Called at the start of each pass: index from 1, list length, file name.
  std::function<void(int, int, const Text&)> progress;
  RunSummary summary;
  // Saves begun and not yet final; the log lines of later steps wait behind
  // them, so that the log reads exactly as if each save had been done at once.
  SaveBatch saves;
};

}  // namespace skov
