// Fuzz target: the input as template SKOV_IMPORT.XLS, driven through the public host API.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "host/xls_host.h"
#include "strings/runtime_error.h"
#include "strings/text.h"

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
void Try(F&& f) {
  try {
    f();
  } catch (const skov::RuntimeError&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const fs::path input = Folder() / "SKOV_IMPORT.XLS";
  const fs::path output = Folder() / "OUT.XLS";
  {
    std::ofstream out(input, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
  }
  std::error_code ec;
  fs::remove(output, ec);
  auto host = skov::MakeXlsHost(skov::FromUtf8(Folder().string()));
  std::unique_ptr<skov::Workbook> book;
  try {
    book = host->BindToFile(skov::FromUtf8(input.string()));
  } catch (const skov::RuntimeError&) {
    return 0;
  }
  if (!book) return 0;
  Try([&] { book->Activate(); });
  Try([&] { book->ShowWindow(1); });
  for (int sheet = 1; sheet <= 5; ++sheet) {
    Try([&] { book->ActivateSheet(sheet); });
    Try([&] { book->ShowSheet(sheet); });
    Try([&] { book->WriteCell(sheet, 1, 1, u"Projekt"); });
    Try([&] { book->WriteCell(sheet, 29, 3, u"\u00c4nderung \u00fcber 2 Zeilen"); });
    Try([&] { book->WriteCell(sheet, 12, 200, std::u16string(300, u'x')); });
    Try([&] { book->WriteCell(sheet, 65536, 256, u""); });
  }
  Try([&] { book->SaveAs(skov::FromUtf8(output.string())); });
  Try([&] { book->Close(false); });
  return 0;
}
