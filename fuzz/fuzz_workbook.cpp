// Fuzz target: the input as template SKOV_IMPORT.XLS, driven through the public host API; what it saves must bind again and hold what was written.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "host/xls_host.h"
#include "strings/runtime_error.h"
#include "strings/text.h"
#include "xls/biff5.h"
#include "xls/cell_table.h"
#include "xls/cfb.h"
#include "xls/template.h"

namespace {

namespace fs = std::filesystem;

// One folder per process, reused by every input and removed at exit.
const fs::path& Folder() {
  static const fs::path folder = [] {
    std::string templ = (fs::temp_directory_path() / "skov_fuzz_XXXXXX").string();
    if (!mkdtemp(templ.data())) std::abort();
    std::atexit([] { std::error_code ec; fs::remove_all(Folder(), ec); });
    return fs::path(templ);
  }();
  return folder;
}

// Each call may raise; the host is expected to refuse damaged workbooks.
template <typename F>
bool Try(F&& f) {
  try {
    f();
    return true;
  } catch (const skov::RuntimeError&) {
    return false;
  }
}

[[noreturn]] void Broken(const std::string& what) {
  std::fprintf(stderr, "fuzz_workbook: saved workbook broken: %s\n", what.c_str());
  std::abort();
}

struct Written {
  int sheet, row, column;
  std::u16string text;
};

// The saved file read with the engine: every written cell is a LABELSST
// holding its text (Excel 5.0/95: a LABEL holding it in the code page).
void ExpectCells(const fs::path& file, const std::vector<Written>& written) {
  std::ifstream in(file, std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  try {
    skov::xls::CompoundFile cf = skov::xls::ReadCompoundFile(bytes);
    skov::xls::CfbEntry* stream = skov::xls::FindChild(cf.root, u"Workbook");
    if (!stream) stream = skov::xls::FindChild(cf.root, u"Book");
    if (!stream) Broken("no Workbook stream");
    auto t = skov::xls::ParseWorkbookStream(std::move(stream->data));
    for (const Written& w : written) {
      if (size_t(w.sheet) > t->worksheets.size()) Broken("worksheet lost");
      const size_t si = t->worksheets[size_t(w.sheet) - 1];
      auto cells = skov::xls::BuildCells(*t, t->sheets[si]);
      const skov::xls::CellItem* c = skov::xls::FindCell(*cells, uint16_t(w.row - 1), uint16_t(w.column - 1));
      if (t->Biff5()) {
        if (!c || c->type != skov::xls::rec::kLabel) Broken("written cell missing");
        std::vector<uint8_t> want;
        skov::xls::EncodeLabel(*t, w.text, want);
        const auto record = skov::xls::ItemBytes(*t, *c);
        const size_t at = 4 + skov::xls::biff5::label::kChars;
        if (record.size() < at || !std::equal(want.begin(), want.end(), record.begin() + long(at), record.end())) {
          Broken("written cell holds another text");
        }
        continue;
      }
      if (!c || c->type != skov::xls::rec::kLabelSst) Broken("written cell missing");
      const uint8_t* body = skov::xls::ItemBytes(*t, *c).data() + 4;
      const uint32_t isst = t->strings.plain.Find(w.text);
      if (isst == skov::xls::TextIndex::kNone || skov::xls::Get32(body + skov::xls::labelsst::kIsst) != isst) {
        Broken("written cell holds another text");
      }
    }
  } catch (const std::exception& e) {
    Broken(e.what());
  }
}

// Binds `file`, which a save wrote: it must be a workbook again.
std::unique_ptr<skov::Workbook> Rebind(skov::SpreadsheetHost& host, const fs::path& file) {
  try {
    return host.BindToFile(skov::FromUtf8(file.string()));
  } catch (const skov::RuntimeError& e) {
    Broken(e.what());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const fs::path input = Folder() / "SKOV_IMPORT.XLS";
  const fs::path output = Folder() / "OUT.XLS";
  const fs::path again = Folder() / "OUT2.XLS";
  {
    std::ofstream out(input, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
  }
  std::error_code ec;
  fs::remove(output, ec);
  fs::remove(again, ec);
  auto host = skov::MakeXlsHost(skov::FromUtf8(Folder().string()));
  std::unique_ptr<skov::Workbook> book;
  try {
    book = host->BindToFile(skov::FromUtf8(input.string()));
  } catch (const skov::RuntimeError&) {
    return 0;
  }
  if (!book) return 0;
  std::vector<Written> written;
  auto write = [&](int sheet, int row, int column, std::u16string text) {
    if (Try([&] { book->WriteCell(sheet, row, column, text); })) written.push_back({sheet, row, column, text});
  };
  Try([&] { book->Activate(); });
  Try([&] { book->ShowWindow(1); });
  for (int sheet = 1; sheet <= 5; ++sheet) {
    Try([&] { book->ActivateSheet(sheet); });
    Try([&] { book->ShowSheet(sheet); });
    write(sheet, 1, 1, u"Projekt");
    write(sheet, 29, 3, u"\u00c4nderung \u00fcber 2 Zeilen");
    write(sheet, 12, 200, std::u16string(300, u'x'));
    write(sheet, 65536, 256, u"");
  }
  const bool saved = Try([&] { book->SaveAs(skov::FromUtf8(output.string())); });
  Try([&] { book->Close(false); });
  if (!saved) return 0;

  // A second generation: the saved workbook filled and saved again.
  ExpectCells(output, written);
  std::unique_ptr<skov::Workbook> next = Rebind(*host, output);
  if (!written.empty()) {
    const Written w = written.front();
    written.push_back({w.sheet, 2, 2, u"zweite Runde"});
    if (!Try([&] { next->WriteCell(w.sheet, 2, 2, u"zweite Runde"); })) written.pop_back();
  }
  if (!Try([&] { next->SaveAs(skov::FromUtf8(again.string())); })) return 0;
  Try([&] { next->Close(false); });
  ExpectCells(again, written);
  Rebind(*host, again);
  return 0;
}
