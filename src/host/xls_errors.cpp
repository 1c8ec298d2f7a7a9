// The workbook engine's failures as runtime errors with the log's German reasons.
#include "host/xls_errors.h"

#include <algorithm>

namespace skov {

const Text kNoWorkbookText = u"Die Datei ist keine Excel-Arbeitsmappe.";
const Text kOldExcelText = u"Excel 2.x bis 4.0 wird nicht unterstuetzt. Bitte als Excel 97-2003 speichern.";
const Text kEncryptedText = u"Die Datei ist mit einem Kennwort verschluesselt.";

Text DamagedText(const std::string& what) { return u"Die Datei ist beschaedigt (" + FromUtf8(what) + u")."; }

int ErrorNumber(xls::Fault fault) {
  switch (fault) {
    case xls::Fault::NotAWorkbook:
    case xls::Fault::OldVersion:
    case xls::Fault::Encrypted:
    case xls::Fault::Damaged:
      return kNotAWorkbook;
    case xls::Fault::NoSuchWindow:
    case xls::Fault::TooFewSheets:
      return kSubscriptOutOfRange;
    case xls::Fault::RefusedWrite:
      return kRefused;
  }
  return kRefused;
}

Text Reason(const xls::Error& e, int worksheets) {
  switch (e.Kind()) {
    case xls::Fault::NotAWorkbook: return kNoWorkbookText;
    case xls::Fault::OldVersion: return kOldExcelText;
    case xls::Fault::Encrypted: return kEncryptedText;
    case xls::Fault::Damaged: return DamagedText(e.Reason());
    case xls::Fault::NoSuchWindow: return u"Die Vorlage hat kein Fenster.";
    case xls::Fault::TooFewSheets:
      if (worksheets == 0) return u"Die Vorlage hat keine Tabellenblaetter.";
      if (worksheets == 1) return u"Die Vorlage hat nur ein Tabellenblatt.";
      return u"Die Vorlage hat nur " + FromUtf8(std::to_string(worksheets)) + u" Tabellenblaetter.";
    case xls::Fault::RefusedWrite:
      return u"Zelle " + xls::CellName(e.Row(), e.Column()) + u" " + FromUtf8(e.Reason()) + u".";
  }
  return {};
}

Text ForeignFile(const std::vector<uint8_t>& bytes) {
  static constexpr uint8_t kZip[] = {'P', 'K', 3, 4};
  if (bytes.size() >= sizeof kZip && std::equal(kZip, kZip + sizeof kZip, bytes.begin())) {
    return u"Die Datei ist eine Excel-2007-Arbeitsmappe (.xlsx) oder ein anderes ZIP-Archiv. Bitte als Excel 97-2003 "
           u"speichern.";
  }
  // Excel 2.x to 4.0 wrote the bare record stream, starting with a BOF
  // record 0x0009, 0x0209 or 0x0409.
  if (bytes.size() >= 4 && bytes[0] == 0x09 && (bytes[1] == 0x00 || bytes[1] == 0x02 || bytes[1] == 0x04) &&
      bytes[3] == 0x00) {
    return kOldExcelText;
  }
  return kNoWorkbookText;
}

}  // namespace skov
