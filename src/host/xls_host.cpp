// The .XLS host: binds compound files holding a BIFF8 or BIFF5 workbook, fills
// them through the workbook engine and saves them atomically under a new name.
#include "host/xls_host.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "host/write_all.h"
#include "strings/runtime_error.h"
#include "xls/book.h"
#include "xls/cfb.h"

namespace skov {
namespace {

// Binding failures that are not refusals: no file, not a workbook, damaged.
constexpr int kNotAWorkbook = kAutomationNameNotFound;
constexpr int kRefused = kHostRefused;

// The runtime error number of a workbook engine failure.
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

const Text kNoWorkbook = u"Die Datei ist keine Excel-Arbeitsmappe.";
const Text kOldExcel = u"Excel 2.x bis 4.0 wird nicht unterstuetzt. Bitte als Excel 97-2003 speichern.";
const Text kEncrypted = u"Die Datei ist mit einem Kennwort verschluesselt.";

Text Damaged(const std::string& what) { return u"Die Datei ist beschaedigt (" + FromUtf8(what) + u")."; }

// A cell as the user sees it: column letters, then the row (B13).
Text CellName(int row, int column) {
  std::string letters;
  for (int c = column; c > 0; c = (c - 1) / 26) letters.insert(letters.begin(), char('A' + (c - 1) % 26));
  return FromUtf8(letters + std::to_string(row));
}

// The log's reason for an engine failure; `worksheets` of the bound workbook.
Text Reason(const xls::Error& e, int worksheets) {
  switch (e.Kind()) {
    case xls::Fault::NotAWorkbook: return kNoWorkbook;
    case xls::Fault::OldVersion: return kOldExcel;
    case xls::Fault::Encrypted: return kEncrypted;
    case xls::Fault::Damaged: return Damaged(e.Reason());
    case xls::Fault::NoSuchWindow: return u"Die Vorlage hat kein Fenster.";
    case xls::Fault::TooFewSheets:
      if (worksheets == 0) return u"Die Vorlage hat keine Tabellenblaetter.";
      if (worksheets == 1) return u"Die Vorlage hat nur ein Tabellenblatt.";
      return u"Die Vorlage hat nur " + FromUtf8(std::to_string(worksheets)) + u" Tabellenblaetter.";
    case xls::Fault::RefusedWrite:
      return u"Zelle " + CellName(e.Row(), e.Column()) + u" " + FromUtf8(e.Reason()) + u".";
  }
  return {};
}

// Runs an engine operation, its failure raised as a runtime error.
template <typename F>
decltype(auto) Engine(const xls::Book& book, F&& f) {
  try {
    return f();
  } catch (const xls::Error& e) {
    Raise(ErrorNumber(e.Kind()), e.Reason(), Reason(e, book.WorksheetCount()));
  }
}

// Why a file that is no compound file cannot be bound.
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
    return kOldExcel;
  }
  return kNoWorkbook;
}

struct FileKey {
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = 0;
  timespec mtime{};
  bool operator==(const FileKey& o) const {
    return dev == o.dev && ino == o.ino && size == o.size && mtime.tv_sec == o.mtime.tv_sec &&
           mtime.tv_nsec == o.mtime.tv_nsec;
  }
};

// A template read and parsed once; binds share it and copy only what they change.
struct ParsedFile {
  std::string path;
  FileKey key;
  std::filesystem::path name;  // the file's name, and its folder's identity
  dev_t folderDev = 0;
  ino_t folderIno = 0;
  std::vector<uint8_t> fileBytes;  // the container as read, written back when nothing changed
  xls::CompoundFile container;     // with the Workbook stream's data moved into `book`
  size_t workbookChild = 0;
  std::shared_ptr<const xls::Template> book;
};

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  void reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_;
};

std::shared_ptr<const ParsedFile> ParseFile(const std::string& path, const FileKey& key, std::vector<uint8_t> bytes) {
  auto f = std::make_shared<ParsedFile>();
  f->path = path;
  f->key = key;
  const std::filesystem::path p(path);
  f->name = p.filename();
  struct stat folder {};
  if (::stat(p.has_parent_path() ? p.parent_path().c_str() : ".", &folder) == 0) {
    f->folderDev = folder.st_dev;
    f->folderIno = folder.st_ino;
  }
  static constexpr uint8_t kCfbSignature[] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  try {
    f->container = xls::ReadCompoundFile(bytes);
  } catch (const std::exception& e) {
    const bool compound = bytes.size() >= sizeof kCfbSignature &&
                          std::equal(kCfbSignature, kCfbSignature + sizeof kCfbSignature, bytes.begin());
    Raise(kNotAWorkbook, std::string("not a workbook file: ") + e.what(),
          compound ? Damaged("Aufbau der Verbunddatei") : ForeignFile(bytes));
  }
  std::vector<xls::CfbEntry>& children = f->container.root.children;
  // Excel 97 and later write "Workbook", Excel 5.0 and 95 "Book"; a file
  // with both is read as the newer.
  auto streamNamed = [&](std::u16string_view name) {
    const xls::CfbEntry* e = xls::FindChild(f->container.root, name);
    return e && e->type == xls::CfbType::Stream ? e : nullptr;
  };
  const xls::CfbEntry* stream = streamNamed(u"Workbook");
  if (!stream) stream = streamNamed(u"Book");
  if (!stream) {
    // Excel 2007 and later keep a workbook with a password in a compound file.
    const bool encrypted = streamNamed(u"EncryptedPackage") != nullptr;
    Raise(kNotAWorkbook, "no workbook stream", encrypted ? kEncrypted : kNoWorkbook);
  }
  f->workbookChild = static_cast<size_t>(stream - children.data());
  try {
    f->book = xls::ParseWorkbookStream(std::move(children[f->workbookChild].data));
  } catch (const xls::Error& e) {
    Raise(ErrorNumber(e.Kind()), std::string("damaged workbook: ") + e.what(), Reason(e, 0));
  } catch (const std::exception& e) {
    Raise(kNotAWorkbook, std::string("damaged workbook: ") + e.what(), Damaged("Arbeitsmappendaten"));
  }
  children[f->workbookChild].data.clear();
  f->fileBytes = std::move(bytes);
  return f;
}

// A save's temporary file: a short name, so that a target name of any
// allowed length fits beside it, and one that a later save recognises.
constexpr char kTempPrefix[] = ".skov-import-";
constexpr size_t kTempSuffix = 6;

[[noreturn]] void SaveFailed(const std::string& what, int err) {
  if (err == ENOSPC || err == EDQUOT || err == EFBIG)
    Raise(kRefused, what + ": " + std::strerror(err), u"Kein Speicherplatz mehr (Datentraeger voll oder Dateigroesse begrenzt).");
  Raise(kRefused, what + ": " + std::strerror(err));
}

// What a newly created file gets (temporary ones are 0600): read once, since
// the process never changes its umask.
mode_t NewFileMode() {
  static const mode_t mode = [] {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return static_cast<mode_t>(0666 & ~mask);
  }();
  return mode;
}

// The workbook's bytes handed to the file, with the mode a new file gets,
// and the disk set to work on them, so that the flush finds most of it done.
void Fill(int fd, Pieces bytes) {
  if (const int err = WriteAll(fd, bytes)) SaveFailed("cannot write the workbook", err);
  if (::fchmod(fd, NewFileMode()) != 0) Raise(kRefused, std::string("cannot set file mode: ") + std::strerror(errno));
  ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);  // only a hint: the flush is fdatasync's
}

std::string TempName(const std::string& folder) {
  static constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  static std::random_device random;
  std::string name = folder + "/" + kTempPrefix;
  for (size_t i = 0; i < kTempSuffix; ++i) name += kLetters[random() % (sizeof kLetters - 1)];
  return name;
}

bool SameInode(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// Removes a leftover temporary file unless a save holds it.
void RemoveIfLeft(const std::string& path) {
  Fd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat held {}, now {};
  if (fd.get() < 0 || ::fstat(fd.get(), &held) != 0 || !S_ISREG(held.st_mode)) return;
  if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) return;  // a save in progress
  // Renamed into place meanwhile: the name is gone or another file's.
  if (::lstat(path.c_str(), &now) != 0 || !SameInode(held, now)) return;
  ::unlink(path.c_str());
}

// What the saves of one host share: the folders whose leftovers are known,
// those renamed into since their last flush, and the buffers a workbook file
// is built in (handed to the file before the next save builds in them).
struct SaveFolders {
  // Per folder the ".NAME.XLS.XXXXXX" files of earlier versions, by NAME.XLS.
  std::map<std::string, std::multimap<std::string, std::string>> legacy;
  std::set<std::string> unflushed;
  std::vector<uint8_t> stream;
  xls::CfbImage image;
};

// Each save holds a lock on its temporary file, so a temporary file that
// nobody holds was left by a save that died; the first save into a folder
// removes those. The ".NAME.XLS.XXXXXX" files earlier versions left go with
// the save of their very target, which is about to be replaced anyway.
void RemoveLeftovers(SaveFolders& folders, const std::string& folder, const std::string& targetName) {
  auto known = folders.legacy.find(folder);
  if (known == folders.legacy.end()) {
    known = folders.legacy.emplace(folder, std::multimap<std::string, std::string>()).first;
    if (DIR* dir = ::opendir(folder.c_str())) {
      const std::string prefix = kTempPrefix;
      while (dirent* e = ::readdir(dir)) {
        const std::string name = e->d_name;
        if (name.size() == prefix.size() + kTempSuffix && name.rfind(prefix, 0) == 0) {
          RemoveIfLeft(folder + "/" + name);
        } else if (name.size() > kTempSuffix + 2 && name[0] == '.' && name[name.size() - kTempSuffix - 1] == '.') {
          known->second.emplace(name.substr(1, name.size() - kTempSuffix - 2), name);
        }
      }
      ::closedir(dir);
    }
  }
  auto [from, to] = known->second.equal_range(targetName);
  for (auto it = from; it != to; ++it) RemoveIfLeft(folder + "/" + it->second);
  known->second.erase(from, to);
}

// The filled, locked file given a temporary name; unnamed until then where
// the file system allows (O_TMPFILE), so that a crash while writing leaves
// nothing. False when it cannot be named that way.
bool WriteUnnamed(const std::string& folder, Pieces bytes, Fd& fd, std::string& temp) {
  fd.reset(::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600));
  if (fd.get() < 0) {
    if (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL) return false;
    SaveFailed("cannot create a file in " + folder, errno);
  }
  ::flock(fd.get(), LOCK_EX);
  Fill(fd.get(), bytes);
  const std::string self = "/proc/self/fd/" + std::to_string(fd.get());
  for (int attempt = 0; attempt < 100; ++attempt) {
    temp = TempName(folder);
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, temp.c_str(), AT_SYMLINK_FOLLOW) == 0) return true;
    if (errno != EEXIST) break;
  }
  temp.clear();
  fd.reset(-1);
  return false;
}

// The fallback: a named temporary file, locked at once, then filled.
void WriteNamed(const std::string& folder, Pieces bytes, Fd& fd, std::string& temp) {
  for (;;) {
    temp = folder + "/" + kTempPrefix + std::string(kTempSuffix, 'X');
    fd.reset(::mkostemp(temp.data(), O_CLOEXEC));
    if (fd.get() < 0) SaveFailed("cannot create a file in " + folder, errno);
    ::flock(fd.get(), LOCK_EX);
    // A concurrent save may have taken it for a leftover before the lock.
    struct stat held {}, now {};
    if (::fstat(fd.get(), &held) == 0 && ::lstat(temp.c_str(), &now) == 0 && SameInode(held, now)) break;
  }
  try {
    Fill(fd.get(), bytes);
  } catch (...) {
    ::unlink(temp.c_str());
    throw;
  }
}

void FlushFolder(const std::string& folder) {
  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
}

// Written beside the target now; flushed, then renamed over it in Finish: a
// failed save leaves neither a half-written workbook nor a lost one, and a
// crash at most a locked temporary file that the next save there removes.
class XlsPendingSave : public PendingSave {
 public:
  XlsPendingSave(std::shared_ptr<SaveFolders> folders, const std::string& target, Pieces bytes)
      : folders_(std::move(folders)), target_(target) {
    std::filesystem::path p(target);
    folder_ = p.has_parent_path() ? p.parent_path().string() : std::string(".");
    RemoveLeftovers(*folders_, folder_, p.filename().string());
    if (!WriteUnnamed(folder_, bytes, fd_, temp_)) WriteNamed(folder_, bytes, fd_, temp_);
  }
  ~XlsPendingSave() override { Drop(); }

  void Flush() override {
    if (fd_.get() < 0) Raise(kRefused, "save finished already");
    if (flushed_) return;
    if (::fdatasync(fd_.get()) != 0) {
      const int err = errno;
      Drop();
      SaveFailed("cannot flush the workbook", err);
    }
    flushed_ = true;
  }

  void Finish() override {
    Flush();
    if (::rename(temp_.c_str(), target_.c_str()) != 0) {
      const int err = errno;
      Drop();
      Raise(kRefused, "cannot replace " + target_ + ": " + std::strerror(err));
    }
    temp_.clear();
    fd_.reset(-1);  // the data is on disk since Flush; only now the lock goes
    folders_->unflushed.insert(folder_);
  }

 private:
  void Drop() {
    if (!temp_.empty()) ::unlink(temp_.c_str());
    temp_.clear();
    fd_.reset(-1);
  }

  std::shared_ptr<SaveFolders> folders_;
  std::string target_, folder_;
  Fd fd_{-1};
  std::string temp_;  // the temporary name until the rename
  bool flushed_ = false;
};

void FlushFolders(SaveFolders& folders) {
  for (const std::string& folder : folders.unflushed) FlushFolder(folder);
  folders.unflushed.clear();
}

// The book of the last closed workbook, emptied, for the next bind of the
// same template: a folder run fills one template hundreds of times, and
// each fill then reuses the storage the one before grew.
struct BookShelf {
  std::mutex mutex;
  std::shared_ptr<const ParsedFile> file;
  std::optional<xls::Book> book;

  xls::Book Take(const std::shared_ptr<const ParsedFile>& of) {
    std::lock_guard<std::mutex> lock(mutex);
    if (book && file == of) {
      xls::Book taken = std::move(*book);
      book.reset();
      return taken;
    }
    return xls::Book(of->book);
  }
  void Put(const std::shared_ptr<const ParsedFile>& of, xls::Book&& done) {
    done.Reset();
    std::lock_guard<std::mutex> lock(mutex);
    file = of;
    book.emplace(std::move(done));
  }
};

class XlsWorkbook : public Workbook {
 public:
  XlsWorkbook(std::shared_ptr<const ParsedFile> file, std::shared_ptr<SaveFolders> folders,
              std::shared_ptr<BookShelf> shelf)
      : file_(std::move(file)), folders_(std::move(folders)), shelf_(std::move(shelf)), book_(shelf_->Take(file_)) {}
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
    FlushFolders(*folders_);
  }

  std::unique_ptr<PendingSave> BeginSaveAs(const Text& path) override {
    return Begin(path);
  }

  void Close(bool saveChanges) override {
    if (saveChanges) SaveAs(FromFileName(file_->path));
    closed_ = true;
    book_.Reset();
  }

 private:
  xls::Book& Open() {
    if (closed_) Raise(kRefused, "workbook is closed");
    return book_;
  }

  std::unique_ptr<XlsPendingSave> Begin(const Text& path) {
    xls::Book& book = Open();
    std::string target = ToFileName(path);
    if (target.empty()) Raise(kRefused, "no file name");
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0) {
      if (S_ISDIR(st.st_mode)) Raise(kRefused, target + " is a folder");
      if (st.st_dev == file_->key.dev && st.st_ino == file_->key.ino) Raise(kRefused, "the template is never written");
    } else if (IsTemplatePlace(target)) {
      Raise(kRefused, "the template is never written");
    }
    const std::span<const uint8_t> unchanged = file_->fileBytes;
    Pieces bytes(&unchanged, 1);
    if (book.Changed()) {
      try {
        SaveFolders& built = *folders_;
        book.Serialize(built.stream);
        const xls::CfbEntry& workbook = file_->container.root.children[file_->workbookChild];
        xls::WriteCompoundFile(file_->container, built.image, &workbook, built.stream);
        bytes = built.image.pieces;
      } catch (const RuntimeError&) {
        throw;
      } catch (const std::exception& e) {
        Raise(kRefused, std::string("cannot build the workbook file: ") + e.what());
      }
    }
    return std::make_unique<XlsPendingSave>(folders_, target, bytes);
  }

  // Whether a target that does not exist names the template's place: its
  // folder and name, the folder known by identity since the bind.
  bool IsTemplatePlace(const std::string& target) const {
    std::filesystem::path p(target);
    if (p.filename() != file_->name) return false;
    struct stat folder {};
    const std::string parent = p.has_parent_path() ? p.parent_path().string() : std::string(".");
    return ::stat(parent.c_str(), &folder) == 0 && folder.st_dev == file_->folderDev &&
           folder.st_ino == file_->folderIno;
  }

  std::shared_ptr<const ParsedFile> file_;
  std::shared_ptr<SaveFolders> folders_;
  std::shared_ptr<BookShelf> shelf_;
  xls::Book book_;
  bool closed_ = false;
};

class XlsHost : public SpreadsheetHost {
 public:
  explicit XlsHost(Text folder) : folder_(std::move(folder)) {}

  Text DefaultFilePath() override { return folder_; }

  std::unique_ptr<Workbook> BindToFile(const Text& path) override {
    std::string p = ToFileName(path);
    // Non-blocking, so that a FIFO fails at the regular-file test below.
    Fd fd(::open(p.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (fd.get() < 0) {
      int e = errno;
      if (e == EACCES || e == EPERM) Raise(kRefused, "no access to " + p, u"Keine Berechtigung, die Datei zu lesen.");
      if (e == ENOENT) Raise(kNotAWorkbook, "cannot open " + p + ": " + std::strerror(e), u"Die Datei fehlt: " + path);
      Raise(kNotAWorkbook, "cannot open " + p + ": " + std::strerror(e));
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
      Raise(kNotAWorkbook, p + " is not a file", u"Das ist keine gewoehnliche Datei: " + path);
    }
    FileKey key{st.st_dev, st.st_ino, st.st_size, st.st_mtim};
    if (!cache_ || cache_->path != p || !(cache_->key == key)) {
      cache_.reset();
      std::vector<uint8_t> bytes(static_cast<size_t>(st.st_size));
      size_t got = 0;
      while (got < bytes.size()) {
        ssize_t n = ::read(fd.get(), bytes.data() + got, bytes.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EACCES || errno == EPERM)) Raise(kRefused, "no access to " + p);
        if (n <= 0) Raise(kNotAWorkbook, "cannot read " + p);
        got += static_cast<size_t>(n);
      }
      cache_ = ParseFile(p, key, std::move(bytes));
    }
    return std::make_unique<XlsWorkbook>(cache_, folders_, shelf_);
  }

  void FlushSavedFolders() override { FlushFolders(*folders_); }

 private:
  Text folder_;
  std::shared_ptr<const ParsedFile> cache_;
  std::shared_ptr<SaveFolders> folders_ = std::make_shared<SaveFolders>();
  std::shared_ptr<BookShelf> shelf_ = std::make_shared<BookShelf>();
};

}  // namespace

std::unique_ptr<SpreadsheetHost> MakeXlsHost(const Text& defaultFolder) {
  return std::make_unique<XlsHost>(defaultFolder);
}

}  // namespace skov
