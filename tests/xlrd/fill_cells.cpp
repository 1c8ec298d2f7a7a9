// fill_cells: writes strings into a template through the .XLS host and saves the result, for the xlrd checks.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "host/xls_host.h"
#include "strings/runtime_error.h"
#include "strings/text.h"

namespace {

struct CellWrite {
  int sheet = 0;
  int row = 0;
  int column = 0;
  std::string value;  // UTF-8
};

// Cell files hold one write per line: sheet, row, column and value, separated
// by tabs; the value escapes \\, \t, \n and \r so that any string fits a line.
std::string Unescape(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\' || i + 1 == s.size()) {
      out += s[i];
      continue;
    }
    char c = s[++i];
    out += c == 't' ? '\t' : c == 'n' ? '\n' : c == 'r' ? '\r' : c;
  }
  return out;
}

bool ParseNumber(const std::string& s, int& out) {
  if (s.empty() || s.size() > 6) return false;
  out = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    out = out * 10 + (c - '0');
  }
  return true;
}

bool ReadCellFile(const std::string& path, std::vector<CellWrite>& writes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::cerr << "fill_cells: cannot read " << path << "\n";
    return false;
  }
  std::string line;
  int lineNo = 0;
  while (std::getline(in, line)) {
    ++lineNo;
    if (line.empty()) continue;
    std::vector<std::string> parts;
    size_t start = 0;
    for (int i = 0; i < 3; ++i) {
      size_t tab = line.find('\t', start);
      if (tab == std::string::npos) break;
      parts.push_back(line.substr(start, tab - start));
      start = tab + 1;
    }
    CellWrite w;
    if (parts.size() != 3 || !ParseNumber(parts[0], w.sheet) || !ParseNumber(parts[1], w.row) ||
        !ParseNumber(parts[2], w.column)) {
      std::cerr << "fill_cells: " << path << ":" << lineNo << ": expected SHEET<tab>ROW<tab>COL<tab>VALUE\n";
      return false;
    }
    w.value = Unescape(line.substr(start));
    writes.push_back(std::move(w));
  }
  return true;
}

std::string Folder(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

int Usage() {
  std::cerr << "usage: fill_cells TEMPLATE OUTPUT [--like-import] [--cells FILE] [SHEET ROW COL VALUE]...\n"
               "  --like-import: open, change sheets and save with the host calls an import run makes\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return Usage();
  const std::string templatePath = argv[1];
  const std::string outputPath = argv[2];
  std::vector<CellWrite> writes;
  bool likeImport = false;
  for (int i = 3; i < argc;) {
    std::string arg = argv[i];
    if (arg == "--like-import") {
      likeImport = true;
      ++i;
      continue;
    }
    if (arg == "--cells") {
      if (i + 1 >= argc || !ReadCellFile(argv[i + 1], writes)) return Usage();
      i += 2;
      continue;
    }
    if (i + 3 >= argc) return Usage();
    CellWrite w;
    if (!ParseNumber(argv[i], w.sheet) || !ParseNumber(argv[i + 1], w.row) || !ParseNumber(argv[i + 2], w.column))
      return Usage();
    w.value = argv[i + 3];
    writes.push_back(std::move(w));
    i += 4;
  }

  // The step is reported with the error so that the caller can tell a refused
  // write from a failed bind or save.
  std::string step = "binding";
  try {
    auto host = skov::MakeXlsHost(skov::FromUtf8(Folder(templatePath)));
    auto book = host->BindToFile(skov::FromUtf8(templatePath));
    int current = 1;
    if (likeImport) {
      step = "opening";
      book->Activate();
      book->ShowWindow(1);
      book->ActivateSheet(1);
      book->ShowSheet(1);
    }
    for (const CellWrite& w : writes) {
      if (likeImport && w.sheet != current) {
        step = "changing to sheet " + std::to_string(w.sheet);
        book->ActivateSheet(w.sheet);
        book->ShowSheet(w.sheet);
        current = w.sheet;
      }
      step = "writing sheet " + std::to_string(w.sheet) + " row " + std::to_string(w.row) + " col " +
             std::to_string(w.column);
      book->WriteCell(w.sheet, w.row, w.column, skov::FromUtf8(w.value));
    }
    if (likeImport) {
      step = "changing to sheet 1";
      book->ActivateSheet(1);
      book->ShowSheet(1);
    }
    step = "saving";
    book->SaveAs(skov::FromUtf8(outputPath));
    step = "closing";
    book->Close(false);
  } catch (const skov::RuntimeError& e) {
    std::cerr << "fill_cells: error " << e.Number() << " while " << step << ": " << e.what() << "\n";
    return 1;
  } catch (const std::exception& e) {
    std::cerr << "fill_cells: unexpected exception while " << step << ": " << e.what() << "\n";
    return 3;
  }
  std::printf("fill_cells: %zu cells written, saved %s\n", writes.size(), outputPath.c_str());
  return 0;
}
