// Runtime error numbers and their German descriptions.
#include "strings/runtime_error.h"

namespace skov {

RuntimeError::RuntimeError(int number, const std::string& detail, Text reason)
    : std::runtime_error(ToUtf8(RuntimeErrorTitle(number)) + (detail.empty() ? "" : ": " + detail)),
      number_(number),
      reason_(std::move(reason)) {}

Text RuntimeErrorTitle(int number) {
  const std::string digits = std::to_string(number);
  return u"Laufzeitfehler " + Text(digits.begin(), digits.end());
}

Text DiskFullReason() { return u"Kein Speicherplatz mehr (Datentraeger voll oder Dateigroesse begrenzt)."; }

Text ErrorDescription(int number) {
  switch (number) {
    case 5: return u"Unzulaessiger Prozeduraufruf oder ungueltiges Argument";
    case 6: return u"Ueberlauf";
    case 9: return u"Index ausserhalb des gueltigen Bereichs";
    case 14: return u"Zeile zu lang";
    case 52: return u"Dateiname oder -nummer falsch";
    case 53: return u"Datei nicht gefunden";
    case 55: return u"Datei bereits geoeffnet";
    case 57: return u"Fehler beim Schreiben der Datei";
    case 61: return u"Datentraeger voll";
    case 62: return u"Einlesen hinter Dateiende";
    case 75: return u"Fehler beim Zugriff auf Pfad/Datei";
    case 76: return u"Pfad nicht gefunden";
    case 432: return u"Datei- oder Klassenname bei Automatisierungsvorgang nicht gefunden";
    case 1004: return u"Anwendungs- oder objektdefinierter Fehler";
    default: return u"Anwendungs- oder objektdefinierter Fehler";
  }
}

void Raise(int number, const std::string& detail) { throw RuntimeError(number, detail); }

void Raise(int number, const std::string& detail, const Text& reason) { throw RuntimeError(number, detail, reason); }

}  // namespace skov
