// recalc_fill: fills a template through the workbook engine, recalculates its formulas and saves it, with a report of what was evaluated.
//
//   recalc_fill TEMPLATE OUTPUT [--cells FILE] [--precedents N] [--report FILE]
//
// --cells: one write per line, worksheet (from 1), row, column, value (UTF-8), tab-separated.
// --precedents N: besides, up to N cells that formulas read are written
//   ("7", "abc" and "" in turn), so that every template has due formulas.
// --report: "evaluated" and "deferred" lines (sheet name, row and column
//   from 0; a deferred one with its cause), then "note" and the log line.
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "strings/text.h"
#include "xls/book.h"
#include "xls/cfb.h"
#include "xls/error.h"
#include "xls/formula_recalc.h"

namespace {

using namespace skov;

struct Write {
  int sheet, row, col;
  std::u16string value;
};

bool ReadCells(const std::string& path, std::vector<Write>& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    std::vector<std::string> parts;
    size_t start = 0;
    for (int i = 0; i < 3; ++i) {
      const size_t tab = line.find('\t', start);
      if (tab == std::string::npos) return false;
      parts.push_back(line.substr(start, tab - start));
      start = tab + 1;
    }
    out.push_back({std::stoi(parts[0]), std::stoi(parts[1]), std::stoi(parts[2]), FromUtf8(line.substr(start))});
  }
  return true;
}

// Up to n cells that formulas read and that are no formulas themselves.
void PrecedentWrites(const xls::Template& t, size_t n, std::vector<Write>& out) {
  const auto index = xls::calc::IndexFormulas(t);
  std::set<std::tuple<int, int, int>> formulas, taken;
  for (const auto& f : index->cells) formulas.insert({f.sheet, f.row, f.col});
  static const char16_t* kValues[] = {u"7", u"abc", u""};
  size_t k = 0;
  for (const auto& a : index->areas) {
    if (out.size() >= n) break;
    const auto ws = std::find(t.worksheets.begin(), t.worksheets.end(), size_t(a.sheet));
    if (ws == t.worksheets.end()) continue;
    const int sheet = int(ws - t.worksheets.begin()) + 1;
    // The corners and the cell below the first: a few per area.
    for (auto [r, c] : {std::pair{a.row1, a.col1}, std::pair{a.row2, a.col2}, std::pair{std::min(a.row1 + 1, a.row2), a.col1}}) {
      if (formulas.count({a.sheet, r, c}) || !taken.insert({a.sheet, r, c}).second || out.size() >= n) continue;
      out.push_back({sheet, r + 1, c + 1, kValues[k++ % 3]});
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::cerr << "usage: recalc_fill TEMPLATE OUTPUT [--cells FILE] [--precedents N] [--report FILE]\n";
    return 2;
  }
  std::vector<Write> writes;
  std::string report;
  size_t precedents = 0;
  std::string index;  // a formula cell ("sheet row col", from 0) whose index entry is printed
  for (int i = 3; i + 1 < argc; i += 2) {
    const std::string opt = argv[i];
    if (opt == "--cells" && !ReadCells(argv[i + 1], writes)) {
      std::cerr << "recalc_fill: cannot read " << argv[i + 1] << "\n";
      return 2;
    }
    if (opt == "--precedents") precedents = std::stoul(argv[i + 1]);
    if (opt == "--report") report = argv[i + 1];
    if (opt == "--index") index = argv[i + 1];
  }
  try {
    std::ifstream in(argv[1], std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    xls::CompoundFile file = xls::ReadCompoundFile(bytes);
    xls::CfbEntry* stream = xls::FindChild(file.root, u"Workbook");
    if (!stream) stream = xls::FindChild(file.root, u"Book");
    if (!stream) throw xls::Error(xls::Fault::NotAWorkbook, "no workbook stream");
    auto t = xls::ParseWorkbookStream(stream->data);
    if (precedents) PrecedentWrites(*t, precedents, writes);
    if (!index.empty()) {
      const auto x = xls::calc::IndexFormulas(*t);
      int s = -1, r = -1, c = -1;
      std::sscanf(index.c_str(), "%d %d %d", &s, &r, &c);
      for (const auto& f : x->cells) {
        if (f.sheet != s || f.row != r || f.col != c) continue;
        std::cout << "expr " << f.expr << " dynamic " << f.dynamic << " volatile " << f.isVolatile << " blocker "
                  << ToUtf8(f.blocker);
        if (f.expr >= 0) std::cout << " unsupported " << ToUtf8(x->exprs[size_t(f.expr)].unsupported);
        std::cout << "\n";
        for (uint32_t k = f.areaBegin; k < f.areaEnd; ++k) {
          const auto& a = x->areas[x->cellAreas[k]];
          std::cout << "  area " << a.sheet << ".." << a.sheetLast << " r" << a.row1 << "-" << a.row2 << " c" << a.col1
                    << "-" << a.col2 << "\n";
        }
      }
      for (size_t n = 0; n < x->globals.names.size(); ++n) {
        const auto& d = x->globals.names[n];
        std::cout << "name " << n + 1 << " " << ToUtf8(d.name) << " scope " << d.scope << " nodes " << d.expr.nodes.size()
                  << " " << ToUtf8(d.expr.unsupported) << "\n";
      }
      for (const auto& xt : x->globals.xti) std::cout << "xti " << xt.first << ".." << xt.last << " ext " << xt.external << "\n";
    }
    xls::Book book(t);
    size_t written = 0;
    for (const Write& w : writes) {
      try {
        book.WriteCell(w.sheet, w.row, w.col, w.value);
        ++written;
      } catch (const xls::Error&) {
        // refused (an array formula, no such sheet): the others are written
      }
    }
    const xls::calc::RecalcReport& r = book.Recalculate();
    const auto names = xls::calc::IndexFormulas(*t)->sheetNames;
    auto sheetName = [&](int s) { return size_t(s) < names.size() ? ToUtf8(names[size_t(s)]) : std::to_string(s); };
    book.Serialize(stream->data);
    const std::vector<uint8_t> out = xls::WriteCompoundFile(file);
    std::ofstream(argv[2], std::ios::binary).write(reinterpret_cast<const char*>(out.data()), std::streamsize(out.size()));
    if (!report.empty()) {
      std::ofstream rep(report, std::ios::binary);
      for (const auto& p : r.evaluatedCells) {
        rep << "evaluated\t" << sheetName(p.sheet) << "\t" << p.row << "\t" << p.col << "\n";
      }
      for (const auto& d : r.deferred) {
        rep << "deferred\t" << sheetName(d.at.sheet) << "\t" << d.at.row << "\t" << d.at.col << "\t" << ToUtf8(d.why) << "\n";
      }
      rep << "note\t" << ToUtf8(xls::calc::DeferredNote(r)) << "\n";
    }
    std::cout << "recalc_fill: " << written << " cells written, " << r.due << " due, " << r.evaluated << " evaluated, "
              << r.changed << " changed, " << r.deferred.size() << " deferred\n";
    return 0;
  } catch (const std::exception& e) {
    std::cerr << "recalc_fill: " << argv[1] << ": " << e.what() << "\n";
    return 3;
  }
}
