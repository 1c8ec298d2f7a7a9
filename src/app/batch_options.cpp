// Command-line parsing and the help text of skov-import.
#include "app/batch_options.h"

namespace skov {
namespace {

ParsedArgs Fehler(std::string text) {
  ParsedArgs r;
  r.outcome = ParseOutcome::UsageError;
  r.error = std::move(text);
  return r;
}

// The separator box holds exactly one character, and the import files are
// Windows-1252: a character without a code there could never split a line.
std::optional<Text> Trennzeichen(const std::string& utf8) {
  const Text t = FromUtf8(utf8);
  if (t.size() != 1 || t[0] == u'\0' || t[0] == u'\r' || t[0] == u'\n') return std::nullopt;
  if (FromCp1252(ToCp1252(t)) != t) return std::nullopt;
  return t;
}

}  // namespace

ParsedArgs ParseBatchArgs(const std::vector<std::string>& args) {
  ParsedArgs r;
  bool fileSeen = false;
  bool optionsEnded = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (!optionsEnded && a.size() > 1 && a[0] == '-') {
      if (a == "--") {
        optionsEnded = true;
        continue;
      }
      std::string name = a;
      std::optional<std::string> value;
      if (const size_t eq = a.find('='); a.rfind("--", 0) == 0 && eq != std::string::npos) {
        name = a.substr(0, eq);
        value = a.substr(eq + 1);
      }
      const bool takesValue = name == "--separator" || name == "--default-folder";
      if (!takesValue && value) return Fehler("Option " + name + " erwartet keinen Wert.");
      if (takesValue && !value) {
        if (i + 1 >= args.size()) return Fehler("Option " + name + " erwartet einen Wert.");
        value = args[++i];
      }
      if (name == "--help" || name == "-h") {
        r.outcome = ParseOutcome::Help;
        return r;
      } else if (name == "--version") {
        r.outcome = ParseOutcome::Version;
        return r;
      } else if (name == "--separator") {
        const std::optional<Text> sep = Trennzeichen(*value);
        if (!sep) return Fehler("Das Trennzeichen muss genau ein Zeichen (Windows-1252) sein: \"" + *value + "\"");
        r.options.separator = *sep;
      } else if (name == "--no-quotes") {
        r.options.quotes = false;
      } else if (name == "--single") {
        r.options.folderMode = false;
      } else if (name == "--folder") {
        r.options.folderMode = true;
      } else if (name == "--default-folder") {
        if (value->empty()) return Fehler("Option --default-folder erwartet einen Ordner.");
        r.options.defaultFolder = *value;
      } else {
        return Fehler("Unbekannte Option: " + name);
      }
      continue;
    }
    if (fileSeen) return Fehler("Nur eine Importdatei angeben (zweite: " + a + ").");
    if (a.empty()) return Fehler("Es ist keine Importdatei ausgewählt!");
    r.options.importFile = a;
    fileSeen = true;
  }
  if (!fileSeen) return Fehler("Es ist keine Importdatei ausgewählt!");
  r.outcome = ParseOutcome::Run;
  return r;
}

std::string BatchHelpText() {
  return R"(Aufruf: skov-import [OPTIONEN] IMPORTDATEI

Fuellt die Vorlage SKOV_IMPORT.XLS mit den Zeilen einer Importdatei (Text,
Windows-1252, Kopfzeile mit den Feldnamen) und speichert sie neben der
Importdatei unter deren Namen mit der Endung .XLS.

Optionen (Vorgaben wie im Fenster):
  --separator C         Trennzeichen, genau ein Zeichen (Vorgabe ";";
                        Tabulator in der Shell: --separator $'\t')
  --no-quotes           Felder sind nicht in Anfuehrungszeichen eingeschlossen
                        (Vorgabe: Anfuehrungszeichen am Anfang und Ende
                        eines Feldes werden entfernt)
  --folder              jede Datei im Ordner der Importdatei importieren
                        (Vorgabe)
  --single              nur die angegebene Importdatei importieren
  --default-folder DIR  Standardordner statt des Dokumente-Ordners
  -h, --help            diese Hilfe
  --version             die Programmversion

Standardordner: DIR aus --default-folder, sonst der Dokumente-Ordner
(XDG_DOCUMENTS_DIR aus $XDG_CONFIG_HOME/user-dirs.dirs, sonst
$HOME/Documents). Dort liegen:
  SKOV_IMPORT.XLS   die Vorlage (wird nur gelesen, muss fuenf Blaetter haben)
  IMPORT.LOG        das Protokoll im Ordnermodus; mit --single heisst es wie
                    die Importdatei mit der Endung LOG (PLAN.TXT -> PLAN.LOG)
  IMPORT.LST        die Liste der Dateien im Ordnermodus
Protokoll und Liste werden bei jedem Lauf neu geschrieben.

Meldungen erscheinen auf der Fehlerausgabe: "Log-Datei: <Pfad>", dann je
nicht gespeicherter Datei eine Zeile "DATEINAME: Grund" (wie im Protokoll)
und zuletzt die Zahlen, z.B. "3 gespeichert, 1 nicht gespeichert".
Ist die Fehlerausgabe ein Terminal, steht dort waehrend des Laufs je Datei
eine Zeile "[n/Anzahl] DATEINAME".

Rueckgabewert:
  0  jede Datei des Laufs wurde gespeichert
  1  eine Datei schlug fehl oder wurde uebersprungen (das Protokoll sagt,
     welche), oder es wurde nichts gespeichert
  2  falscher Aufruf, Importdatei oder Standardordner nicht vorhanden, oder
     das Protokoll laesst sich nicht oeffnen, oder Protokoll oder Liste
     liessen sich nicht vollstaendig schreiben
Im Ordnermodus werden alle Dateien des Ordners versucht. Dateien mit der
Endung .XLS, .LOG oder .LST (fruehere Ergebnisse, Protokolle, Listen) werden
dabei protokolliert, zaehlen aber nur mit, wenn sie gespeichert werden.
)";
}

}  // namespace skov
