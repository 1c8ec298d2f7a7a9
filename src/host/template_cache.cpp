// Reading and parsing a workbook file once for every bind of it.
#include "host/template_cache.h"

#include <algorithm>

#include "host/xls_errors.h"

namespace skov {
namespace {

// Excel 97 and later write "Workbook", Excel 5.0 and 95 "Book".
constexpr std::u16string_view kWorkbookStream = u"Workbook";
constexpr std::u16string_view kBookStream = u"Book";
// Excel 2007 and later keep a workbook with a password in a compound file.
constexpr std::u16string_view kEncryptedStream = u"EncryptedPackage";

std::shared_ptr<const ParsedFile> Parse(const Text& path, const os::FileInfo& info, std::vector<uint8_t> bytes) {
  auto f = std::make_shared<ParsedFile>();
  f->path = path;
  f->info = info;
  f->name = Text(os::BaseName(path));
  const TextView folder = os::FolderOf(path);
  os::FileInfo folderInfo;
  if (os::Stat(folder.empty() ? Text(u".") : Text(folder), folderInfo)) f->folder = folderInfo.id;
  try {
    f->container = xls::ReadCompoundFile(bytes);
  } catch (const std::exception& e) {
    const bool compound = bytes.size() >= sizeof xls::kCfbSignature &&
                          std::equal(std::begin(xls::kCfbSignature), std::end(xls::kCfbSignature), bytes.begin());
    Raise(kNotAWorkbook, std::string("not a workbook file: ") + e.what(),
          compound ? DamagedText("Aufbau der Verbunddatei") : ForeignFile(bytes));
  }
  std::vector<xls::CfbEntry>& children = f->container.root.children;
  auto streamNamed = [&](std::u16string_view name) {
    const xls::CfbEntry* e = xls::FindChild(f->container.root, name);
    return e && e->type == xls::CfbType::Stream ? e : nullptr;
  };
  // A file with both streams is read as the newer.
  const xls::CfbEntry* stream = streamNamed(kWorkbookStream);
  if (!stream) stream = streamNamed(kBookStream);
  if (!stream) {
    const bool encrypted = streamNamed(kEncryptedStream) != nullptr;
    Raise(kNotAWorkbook, "no workbook stream", encrypted ? kEncryptedText : kNoWorkbookText);
  }
  f->workbookChild = static_cast<size_t>(stream - children.data());
  try {
    f->book = xls::ParseWorkbookStream(std::move(children[f->workbookChild].data));
  } catch (const xls::Error& e) {
    Raise(ErrorNumber(e.Kind()), std::string("damaged workbook: ") + e.what(), Reason(e, 0));
  } catch (const std::exception& e) {
    Raise(kNotAWorkbook, std::string("damaged workbook: ") + e.what(), DamagedText("Arbeitsmappendaten"));
  }
  children[f->workbookChild].data.clear();
  f->fileBytes = std::move(bytes);
  return f;
}

bool Unchanged(const os::FileInfo& a, const os::FileInfo& b) {
  return a.id == b.id && a.size == b.size && a.modified == b.modified;
}

}  // namespace

std::shared_ptr<const ParsedFile> TemplateCache::Bind(const Text& path) {
  const std::string shown = ToFileName(path);
  os::File file;
  try {
    file = os::OpenRead(path);
  } catch (const os::Failure& e) {
    switch (e.fault()) {
      case os::Fault::kDenied: Raise(kRefused, "no access to " + shown, u"Keine Berechtigung, die Datei zu lesen.");
      case os::Fault::kMissing:
      case os::Fault::kMissingFolder: Raise(kNotAWorkbook, std::string("cannot open ") + e.what(), u"Die Datei fehlt: " + path);
      case os::Fault::kNotRegular: Raise(kNotAWorkbook, shown + " is not a file", u"Das ist keine gewoehnliche Datei: " + path);
      default: Raise(kNotAWorkbook, std::string("cannot open ") + e.what());
    }
  }
  const os::FileInfo info = os::Info(file);
  std::lock_guard<std::mutex> lock(mutex_);
  if (last_ && last_->path == path && Unchanged(last_->info, info)) return last_;
  last_.reset();
  std::vector<uint8_t> bytes(static_cast<size_t>(info.size));
  for (size_t got = 0; got < bytes.size();) {
    size_t n = 0;
    try {
      n = os::Read(file, bytes.data() + got, bytes.size() - got);
    } catch (const os::Failure& e) {
      if (e.fault() == os::Fault::kDenied) Raise(kRefused, "no access to " + shown);
      Raise(kNotAWorkbook, "cannot read " + shown);
    }
    if (n == 0) Raise(kNotAWorkbook, "cannot read " + shown);
    got += n;
  }
  last_ = Parse(path, info, std::move(bytes));
  return last_;
}

}  // namespace skov
