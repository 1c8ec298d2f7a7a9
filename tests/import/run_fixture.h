// A scratch default folder and import folder around one ImportStarten call.
#pragma once

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "import/import.h"
#include "support/recording_host.h"
#include "support/temp_dir.h"

namespace skov::testing {

class ImportRun : public ::testing::Test {
 protected:
  ImportRun() : host(FromUtf8(dir / "std")), ctx{state, host, messages, pointer, files, {}, {}, {}} {
    std::filesystem::create_directories(dir / "std");
    std::filesystem::create_directories(dir / "imp");
    WriteFile(dir / "std/SKOV_IMPORT.XLS", "template");
    state.Trennzeichen = u";";
    state.MitAnfuehrungszeichen = true;
    state.VerzeichnisImport = false;
  }

  std::string Std(const std::string& name) const { return dir / ("std/" + name); }
  std::string Imp(const std::string& name) const { return dir / ("imp/" + name); }

  // What the file dialog leaves after choosing this import file.
  void Choose(const std::string& path) {
    state.LetzterDialog = RecordForChosenFile(FromUtf8(path));
    state.Importdatei = FromUtf8(path);
  }
  void Start() { ImportStarten(ctx); }
  void RunSingle(const std::string& name, const std::string& bytes) {
    WriteFile(Imp(name), bytes);
    Choose(Imp(name));
    Start();
  }

  // The log's lines, CR LF split, trailing zone spaces cut, as UTF-8.
  std::vector<std::string> LogLines(const std::string& name) const {
    std::string bytes = ReadFile(Std(name));
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < bytes.size()) {
      size_t end = bytes.find("\r\n", start);
      if (end == std::string::npos) end = bytes.size();
      std::string line = bytes.substr(start, end - start);
      while (!line.empty() && line.back() == ' ') line.pop_back();
      lines.push_back(ToUtf8(FromCp1252(line)));
      start = end + 2;
    }
    return lines;
  }
  bool LogHas(const std::string& name, const std::string& line) const {
    for (const auto& l : LogLines(name))
      if (l == line) return true;
    return false;
  }
  const Cells& Saved(const std::string& path) {
    static const Cells none;
    auto it = host.log.saved.find(FromUtf8(path));
    return it == host.log.saved.end() ? none : it->second;
  }
  static Text Cell(const Cells& cells, int sheet, int row, int column) {
    auto it = cells.find({sheet, row, column});
    return it == cells.end() ? Text(u"<none>") : it->second;
  }

  TempDir dir;
  RecordingHost host;
  RecordingMessages messages;
  RecordingPointer pointer;
  RuntimeFiles files;
  ImportState state;
  ImportContext ctx;
};

// An import file: the header, then lines; joined with CR LF, each ended by it.
inline std::string Lines(const std::vector<std::string>& lines) {
  std::string out;
  for (const auto& l : lines) out += l + "\r\n";
  return out;
}

// n data lines of drawing "Z1" with numbered fields 1..3 and a device text.
inline std::string Drawing(int n, const std::string& zname = "Z1") {
  std::vector<std::string> lines = {"ZNAME;PROJEKT1;GERAET;GERBEZ;1;2;3"};
  for (int i = 1; i <= n; ++i) {
    std::ostringstream line;
    line << zname << ";Projekt;G" << i << ";B" << i << ";a" << i << ";b" << i << ";c" << i;
    lines.push_back(line.str());
  }
  return Lines(lines);
}

}  // namespace skov::testing
