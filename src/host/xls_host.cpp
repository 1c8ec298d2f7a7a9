// The .XLS host's adapters: a bound workbook filled through the workbook engine
// and saved through the safe save, and the host that binds them.
#include "host/xls_host.h"

#include "host/atomic_save.h"
#include "host/book_shelf.h"
#include "host/template_cache.h"
#include "host/xls_errors.h"

namespace skov {
namespace {

// The buffers a workbook file is built in, kept between saves; one save
// builds and writes at a time.
struct SaveBuffers {
  std::mutex mutex;
  std::vector<uint8_t> stream;
  xls::CfbImage image;
};

class XlsWorkbook : public Workbook {
 public:
  XlsWorkbook(std::shared_ptr<const ParsedFile> file, std::shared_ptr<SaveFolders> folders,
              std::shared_ptr<SaveBuffers> buffers, std::shared_ptr<BookShelf> shelf)
      : file_(std::move(file)),
        folders_(std::move(folders)),
        buffers_(std::move(buffers)),
        shelf_(std::move(shelf)),
        book_(shelf_->Take(file_)) {}
  ~XlsWorkbook() override { shelf_->Put(file_, std::move(book_)); }

  void Activate() override { Open(); }
  void ShowWindow(int window) override {
    Engine(book_, [&] { Open().ShowWindow(window); });
  }
  void ActivateSheet(int sheet) override {
    Engine(book_, [&] { Open().ActivateSheet(sheet); });
  }
  void ShowSheet(int sheet) override {
    Engine(book_, [&] { Open().ShowSheet(sheet); });
  }
  void WriteCell(int sheet, int row, int column, TextView value) override {
    Engine(book_, [&] { Open().WriteCell(sheet, row, column, value); });
  }
  void WriteRow(int sheet, int row, std::span<const CellText> cells) override {
    Engine(book_, [&] { Open().WriteRow(sheet, row, cells); });
  }

  void SaveAs(const Text& path) override {
    Begin(path)->Finish();
    folders_->FlushAll();
  }

  std::unique_ptr<PendingSave> BeginSaveAs(const Text& path) override { return Begin(path); }
  Text SaveNote() const override { return note_; }

  void Close(bool saveChanges) override {
    if (saveChanges) SaveAs(file_->path);
    closed_ = true;
    book_.Reset();
  }

 private:
  xls::Book& Open() {
    if (closed_) Raise(kRefused, "workbook is closed");
    return book_;
  }

  std::unique_ptr<AtomicSave> Begin(const Text& path) {
    xls::Book& book = Open();
    if (path.empty()) Raise(kRefused, "no file name");
    const std::string shown = ToFileName(path);
    os::FileInfo target;
    if (os::Stat(path, target)) {
      if (target.folder) Raise(kRefused, shown + " is a folder");
      if (target.id == file_->info.id) Raise(kRefused, "the template is never written");
      // As Excel's save-as: a file its owner made read-only stays.
      if (target.readOnly) Raise(kRefused, shown + " is read-only", u"Die Ausgabedatei ist schreibgeschuetzt: " + path);
    } else if (IsTemplatePlace(path)) {
      Raise(kRefused, "the template is never written");
    }
    const std::span<const uint8_t> unchanged = file_->fileBytes;
    os::Pieces bytes(&unchanged, 1);
    std::lock_guard<std::mutex> building(buffers_->mutex);
    note_.clear();
    if (book.Changed()) {
      try {
        note_ = xls::calc::DeferredNote(book.Recalculate());
        book.Serialize(buffers_->stream);
        const xls::CfbEntry& workbook = file_->container.root.children[file_->workbookChild];
        xls::WriteCompoundFile(file_->container, buffers_->image, &workbook, buffers_->stream);
        bytes = buffers_->image.pieces;
      } catch (const RuntimeError&) {
        throw;
      } catch (const std::exception& e) {
        Raise(kRefused, std::string("cannot build the workbook file: ") + e.what());
      }
    }
    return std::make_unique<AtomicSave>(folders_, path, bytes, xls::kCfbSignature);
  }

  // Whether a target that does not exist names the template's place: its
  // folder and name, the folder known by identity since the bind.
  bool IsTemplatePlace(const Text& target) const {
    if (os::BaseName(target) != file_->name) return false;
    const TextView folder = os::FolderOf(target);
    os::FileInfo info;
    return os::Stat(folder.empty() ? Text(u".") : Text(folder), info) && info.id == file_->folder;
  }

  std::shared_ptr<const ParsedFile> file_;
  std::shared_ptr<SaveFolders> folders_;
  Text note_;  // of the last save begun
  std::shared_ptr<SaveBuffers> buffers_;
  std::shared_ptr<BookShelf> shelf_;
  xls::Book book_;
  bool closed_ = false;
};

class XlsHost : public SpreadsheetHost {
 public:
  explicit XlsHost(Text folder) : folder_(std::move(folder)) {}

  Text DefaultFilePath() override { return folder_; }

  std::unique_ptr<Workbook> BindToFile(const Text& path) override {
    return std::make_unique<XlsWorkbook>(templates_.Bind(path), folders_, buffers_, shelf_);
  }

  void FlushSavedFolders() override { folders_->FlushAll(); }

 private:
  Text folder_;
  TemplateCache templates_;
  std::shared_ptr<SaveFolders> folders_ = std::make_shared<SaveFolders>();
  std::shared_ptr<SaveBuffers> buffers_ = std::make_shared<SaveBuffers>();
  std::shared_ptr<BookShelf> shelf_ = std::make_shared<BookShelf>();
};

}  // namespace

std::unique_ptr<SpreadsheetHost> MakeXlsHost(const Text& defaultFolder) {
  return std::make_unique<XlsHost>(defaultFolder);
}

}  // namespace skov
