// The OS interface on Windows: wide paths, handles, the documents folder.
#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <mutex>
#include <streambuf>

#include "os/os.h"
#include "os/os_win32_internal.h"

namespace skov::os {

const char16_t kSeparator = u'\\';
// Hidden by its attribute, so that Explorer does not show it in the documents folder.
const char16_t* const kLockFileName = u".skov-import.lock";

namespace win32 {
namespace {

// Below this a path goes to the W functions as it is; CreateDirectoryW
// already stops 12 characters short of MAX_PATH.
constexpr size_t kShortPath = MAX_PATH - 12;
constexpr wchar_t kLongPrefix[] = L"\\\\?\\";
constexpr wchar_t kLongUncPrefix[] = L"\\\\?\\UNC\\";
// ReadFile and WriteFile move at most a DWORD at a time; a round gigabyte
// keeps every call well inside it.
constexpr size_t kMaxTransfer = size_t{1} << 30;
// What WriteAll gathers into one WriteFile; larger pieces go on their own.
constexpr size_t kGatherBytes = size_t{1} << 16;
// Missing from mingw-w64's headers (or hidden behind a wrong version test).
constexpr auto kFileDispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
constexpr DWORD kErrorDiskQuotaExceeded = 1295;

bool StartsWith(const std::wstring& s, const wchar_t* prefix) { return s.rfind(prefix, 0) == 0; }

std::wstring Wide(TextView text) { return std::wstring(text.begin(), text.end()); }

std::string Utf8(const wchar_t* text, size_t n) { return ToUtf8(FromWide(text, n)); }

// The system's text for an error, without its closing period and line end.
std::string SystemMessage(DWORD error) {
  wchar_t* buffer = nullptr;
  const DWORD n = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, error, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::string text = n ? Utf8(buffer, n) : std::string();
  if (buffer) ::LocalFree(buffer);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.'))
    text.pop_back();
  return text + " (Windows error " + std::to_string(error) + ")";
}

// The path made absolute by the system; empty when it cannot.
std::wstring FullPathOf(const std::wstring& path) {
  const DWORD need = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (need == 0) return {};
  std::wstring full(need, L'\0');
  const DWORD got = ::GetFullPathNameW(path.c_str(), need, full.data(), nullptr);
  if (got == 0 || got >= need) return {};
  full.resize(got);
  return full;
}

// One size of file information to another: attributes, the reparse tag.
bool AttributeTag(HANDLE handle, FILE_ATTRIBUTE_TAG_INFO& tag) {
  if (::GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag)) return true;
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(handle, &info)) return false;
  tag.FileAttributes = info.dwFileAttributes;
  tag.ReparseTag = 0;
  return true;
}

// Reparse points whose data the system itself serves as the file's bytes.
bool ServesFileData(DWORD tag) {
  if ((tag & ~static_cast<DWORD>(IO_REPARSE_TAG_CLOUD_MASK)) == static_cast<DWORD>(IO_REPARSE_TAG_CLOUD)) return true;
  switch (tag) {
    case static_cast<DWORD>(IO_REPARSE_TAG_DEDUP):
    case static_cast<DWORD>(IO_REPARSE_TAG_WOF):
    case static_cast<DWORD>(IO_REPARSE_TAG_WIM):
    case static_cast<DWORD>(IO_REPARSE_TAG_HSM):
    case static_cast<DWORD>(IO_REPARSE_TAG_HSM2):
    case static_cast<DWORD>(IO_REPARSE_TAG_SIS):
    case static_cast<DWORD>(IO_REPARSE_TAG_ONEDRIVE):
    case static_cast<DWORD>(IO_REPARSE_TAG_STORAGE_SYNC):
      return true;
    default:
      return false;
  }
}

bool IsFolder(const std::wstring& native) {
  const DWORD attributes = ::GetFileAttributesW(native.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Removes the name alone (a link itself, not what it points to); the name
// is free at once where the file system allows, though another program
// holds the file open. Nothing to remove is no failure.
void RemoveName(const std::wstring& native, TextView path) {
  HANDLE h = ::CreateFileW(native.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    // No such folder either: creating the file tells.
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return;
    Fail(error, "cannot remove", path);
  }
  // A read-only file is not removed (Windows refuses it; wine as root would not).
  BY_HANDLE_FILE_INFORMATION info{};
  if (::GetFileInformationByHandle(h, &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY)) {
    ::CloseHandle(h);
    Fail(ERROR_ACCESS_DENIED, "cannot remove a read-only file", path);
  }
  FILE_DISPOSITION_INFO_EX posix{FILE_DISPOSITION_FLAG_DELETE | FILE_DISPOSITION_FLAG_POSIX_SEMANTICS};
  BOOL removed = ::SetFileInformationByHandle(h, kFileDispositionInfoEx, &posix, sizeof posix);
  DWORD error = removed ? ERROR_SUCCESS : ::GetLastError();
  if (!removed && error != ERROR_ACCESS_DENIED) {
    // Older systems and file systems without POSIX deletes.
    FILE_DISPOSITION_INFO classic{TRUE};
    removed = ::SetFileInformationByHandle(h, FileDispositionInfo, &classic, sizeof classic);
    error = removed ? ERROR_SUCCESS : ::GetLastError();
  }
  ::CloseHandle(h);
  if (!removed) Fail(error, "cannot remove", path);
}

DWORD Clamp(size_t n) { return static_cast<DWORD>(std::min(n, kMaxTransfer)); }

void WriteBytes(HANDLE h, const uint8_t* data, size_t n) {
  while (n > 0) {
    DWORD written = 0;
    if (!::WriteFile(h, data, Clamp(n), &written, nullptr)) FailLast("cannot write");
    if (written == 0) Fail(ERROR_DISK_FULL, "cannot write");
    data += written;
    n -= written;
  }
}

}  // namespace

std::wstring Native(TextView path) {
  std::wstring wide = Wide(path);
  if (wide.size() < kShortPath || StartsWith(wide, kLongPrefix)) return wide;
  const std::wstring full = FullPathOf(wide);
  if (full.empty()) return wide;
  if (StartsWith(full, L"\\\\")) return kLongUncPrefix + full.substr(2);
  return kLongPrefix + full;
}

Text FromWide(const wchar_t* text, size_t n) { return Text(text, text + n); }

Fault FaultOf(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
      return Fault::kMissing;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_DIRECTORY:
      return Fault::kMissingFolder;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
    case ERROR_NETWORK_ACCESS_DENIED:
    case ERROR_PRIVILEGE_NOT_HELD:
    case ERROR_FILE_READ_ONLY:
      return Fault::kDenied;
    case ERROR_CANT_ACCESS_FILE:
      return Fault::kNotRegular;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
    case kErrorDiskQuotaExceeded:
    case ERROR_NOT_ENOUGH_QUOTA:
    case ERROR_FILE_TOO_LARGE:
      return Fault::kNoSpace;
    case ERROR_INVALID_NAME:
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_BAD_PATHNAME:
      return Fault::kBadName;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_USER_MAPPED_FILE:
      return Fault::kInUse;
    case ERROR_READ_FAULT:
    case ERROR_WRITE_FAULT:
    case ERROR_CRC:
    case ERROR_GEN_FAILURE:
    case ERROR_IO_DEVICE:
    case ERROR_NOT_READY:
      return Fault::kIo;
    default:
      return Fault::kOther;
  }
}

void Fail(DWORD error, const std::string& what, TextView path) {
  std::string text = what;
  if (!path.empty()) text += " " + ToUtf8(path);
  throw Failure(FaultOf(error), text + ": " + SystemMessage(error));
}

bool HoldsFileData(HANDLE handle) {
  if (::GetFileType(handle) != FILE_TYPE_DISK) return false;
  FILE_ATTRIBUTE_TAG_INFO tag{};
  if (!AttributeTag(handle, tag) || (tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
  return !(tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) || ServesFileData(tag.ReparseTag);
}

FileInfo InfoOf(HANDLE handle) {
  FileInfo info;
  BY_HANDLE_FILE_INFORMATION by{};
  if (::GetFileType(handle) != FILE_TYPE_DISK || !::GetFileInformationByHandle(handle, &by)) return info;
  info.id.volume = by.dwVolumeSerialNumber;
  info.id.index = uint64_t{by.nFileIndexHigh} << 32 | by.nFileIndexLow;
  info.size = uint64_t{by.nFileSizeHigh} << 32 | by.nFileSizeLow;
  info.modified = static_cast<int64_t>(uint64_t{by.ftLastWriteTime.dwHighDateTime} << 32 |
                                       by.ftLastWriteTime.dwLowDateTime);
  info.folder = by.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
  info.regular = !info.folder && HoldsFileData(handle);
  // On a folder the attribute only asks Explorer to look for desktop.ini.
  info.readOnly = !info.folder && (by.dwFileAttributes & FILE_ATTRIBUTE_READONLY);
  return info;
}

}  // namespace win32

using namespace win32;

// ---- Paths ----------------------------------------------------------------

bool IsSeparator(char16_t c) { return c == u'/' || c == u'\\'; }

namespace {

bool IsDriveLetter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }

// The length of the root a path starts with: "C:\" 3, "C:" 2, "\" 1,
// "\\server\share\" up to its share; 0 for a relative path.
size_t RootLength(TextView path) {
  if (path.size() >= 2 && IsDriveLetter(path[0]) && path[1] == u':')
    return path.size() >= 3 && IsSeparator(path[2]) ? 3 : 2;
  if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
    size_t at = 2;
    for (int part = 0; part < 2 && at < path.size(); ++part) {
      while (at < path.size() && !IsSeparator(path[at])) ++at;
      if (at < path.size()) ++at;
    }
    return at;
  }
  return !path.empty() && IsSeparator(path[0]) ? 1 : 0;
}

size_t LastSeparator(TextView path) {
  for (size_t i = path.size(); i > 0; --i)
    if (IsSeparator(path[i - 1])) return i - 1;
  return TextView::npos;
}

}  // namespace

TextView BaseName(TextView path) {
  const size_t slash = LastSeparator(path);
  if (slash != TextView::npos) return path.substr(slash + 1);
  return RootLength(path) == 2 ? path.substr(2) : path;  // "C:PLAN.TXT"
}

TextView FolderOf(TextView path) {
  const size_t root = RootLength(path);
  const size_t slash = LastSeparator(path);
  if (slash == TextView::npos || slash + 1 <= root) return path.substr(0, std::min(root, path.size()));
  size_t end = slash;
  while (end > root && IsSeparator(path[end - 1])) --end;
  return path.substr(0, std::max(end, root));
}

Path Join(TextView folder, TextView name) {
  Path joined(folder);
  // "C:" names the drive's current folder: "C:PLAN.TXT" stays inside it.
  const bool driveOnly = joined.size() == 2 && RootLength(joined) == 2;
  if (!joined.empty() && !IsSeparator(joined.back()) && !driveOnly) joined += kSeparator;
  joined += name;
  return joined;
}

Path CurrentFolder() {
  const DWORD need = ::GetCurrentDirectoryW(0, nullptr);
  if (need == 0) return {};
  std::wstring folder(need, L'\0');
  const DWORD got = ::GetCurrentDirectoryW(need, folder.data());
  if (got == 0 || got >= need) return {};
  folder.resize(got);
  return FromWide(folder);
}

Path Absolute(const Path& path) {
  if (path.empty()) return path;
  const std::wstring full = FullPathOf(Wide(path));
  return full.empty() ? path : FromWide(full);
}

// ---- Files ----------------------------------------------------------------

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    if (IsOpen()) ::CloseHandle(reinterpret_cast<HANDLE>(native_));
    native_ = other.Release();
  }
  return *this;
}

File::~File() {
  if (IsOpen()) ::CloseHandle(reinterpret_cast<HANDLE>(native_));
}

bool Stat(const Path& path, FileInfo& info) {
  // Attributes only, every sharing allowed: a file another program holds
  // open can still be examined.
  HANDLE h = ::CreateFileW(Native(path).c_str(), FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  info = InfoOf(h);
  ::CloseHandle(h);
  return true;
}

bool StatEntry(const Path& path, FileInfo& info) {
  HANDLE h = ::CreateFileW(Native(path).c_str(), FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  info = InfoOf(h);
  ::CloseHandle(h);
  return true;
}

bool SameFile(const Path& a, const Path& b) {
  FileInfo x, y;
  return Stat(a, x) && Stat(b, y) && x.id.Known() && x.id == y.id;
}

File OpenRead(const Path& path) {
  const std::wstring native = Native(path);
  HANDLE h = ::CreateFileW(native.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_ACCESS_DENIED && IsFolder(native))
      throw Failure(Fault::kNotRegular, "not a regular file: " + ToUtf8(path));
    Fail(error, "cannot open", path);
  }
  File file(NativeOf(h));
  if (!HoldsFileData(h)) throw Failure(Fault::kNotRegular, "not a regular file: " + ToUtf8(path));
  return file;
}

File CreateFresh(const Path& path) {
  const std::wstring native = Native(path);
  if (IsFolder(native)) throw Failure(Fault::kNotRegular, "a folder: " + ToUtf8(path));
  RemoveName(native, path);
  HANDLE h = ::CreateFileW(native.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) FailLast("cannot create", path);
  return File(NativeOf(h));
}

FileInfo Info(const File& file) { return InfoOf(HandleOf(file)); }

size_t Read(File& file, void* buffer, size_t n) {
  DWORD got = 0;
  if (!::ReadFile(HandleOf(file), buffer, Clamp(n), &got, nullptr)) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_HANDLE_EOF || error == ERROR_BROKEN_PIPE) return 0;
    Fail(error, "cannot read");
  }
  return got;
}

size_t ReadAt(const File& file, uint64_t offset, void* buffer, size_t n) {
  // A positioned read moves a synchronous handle's position: put it back.
  HANDLE h = HandleOf(file);
  LARGE_INTEGER zero{}, here{};
  if (!::SetFilePointerEx(h, zero, &here, FILE_CURRENT)) FailLast("cannot read");
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD got = 0;
  const BOOL ok = ::ReadFile(h, buffer, Clamp(n), &got, &at);
  const DWORD error = ok ? ERROR_SUCCESS : ::GetLastError();
  ::SetFilePointerEx(h, here, nullptr, FILE_BEGIN);
  if (!ok && error != ERROR_HANDLE_EOF) Fail(error, "cannot read");
  return ok ? got : 0;
}

void WriteAll(File& file, Pieces pieces) {
  // Windows gathers only unbuffered writes; small pieces are gathered here.
  HANDLE h = HandleOf(file);
  std::vector<uint8_t> gathered;
  for (const std::span<const uint8_t>& piece : pieces) {
    if (piece.size() >= kGatherBytes) {
      if (!gathered.empty()) WriteBytes(h, gathered.data(), gathered.size());
      gathered.clear();
      WriteBytes(h, piece.data(), piece.size());
      continue;
    }
    if (gathered.size() + piece.size() > kGatherBytes) {
      WriteBytes(h, gathered.data(), gathered.size());
      gathered.clear();
    }
    if (gathered.capacity() == 0) gathered.reserve(kGatherBytes);
    gathered.insert(gathered.end(), piece.begin(), piece.end());
  }
  if (!gathered.empty()) WriteBytes(h, gathered.data(), gathered.size());
}

void Flush(File& file) {
  if (!::FlushFileBuffers(HandleOf(file))) FailLast("cannot flush");
}

void Close(File& file) {
  if (!file.IsOpen()) return;
  HANDLE h = reinterpret_cast<HANDLE>(file.Release());
  if (!::CloseHandle(h)) FailLast("cannot close");
}

// ---- Folders --------------------------------------------------------------

std::vector<DirEntry> ListFolder(const Path& folder) {
  const Path base = folder.empty() ? Path(u".") : folder;
  const std::wstring pattern = Native(Join(base, u"*"));
  WIN32_FIND_DATAW found;
  HANDLE find = ::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr,
                                   FIND_FIRST_EX_LARGE_FETCH);
  std::vector<DirEntry> entries;
  if (find == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    // A drive's empty root has not even "." and "..".
    if (error == ERROR_FILE_NOT_FOUND && IsFolder(Native(base))) return entries;
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_DIRECTORY) Fail(ERROR_PATH_NOT_FOUND, "cannot list", folder);
    Fail(error, "cannot list", folder);
  }
  do {
    const std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    DirEntry entry;
    entry.name = FromWide(name);
    entry.hidden = found.dwFileAttributes & FILE_ATTRIBUTE_HIDDEN;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
      FileInfo info;  // a link: what it leads to counts
      entry.regular = Stat(Join(base, entry.name), info) && info.regular;
    } else {
      entry.regular = !(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    }
    entries.push_back(std::move(entry));
  } while (::FindNextFileW(find, &found));
  const DWORD error = ::GetLastError();
  ::FindClose(find);
  if (error != ERROR_NO_MORE_FILES) Fail(error, "cannot list", folder);
  return entries;
}

bool FolderLock::TryLock(const Path& folder) {
  Unlock();
  const Path path = Join(folder.empty() ? Path(u".") : folder, kLockFileName);
  // Reading is all a lock needs, so a lock file made read-only still locks.
  HANDLE h = ::CreateFileW(Native(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_HIDDEN, nullptr);
  if (h == INVALID_HANDLE_VALUE) FailLast("cannot open the lock file", path);
  File file(NativeOf(h));
  OVERLAPPED whole{};
  if (!::LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD, &whole)) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING) return false;
    // A file system without locks: there is nothing to take turns with.
    if (error != ERROR_NOT_SUPPORTED && error != ERROR_INVALID_FUNCTION) Fail(error, "cannot lock", path);
  }
  file_ = std::move(file);
  return true;
}

void FolderLock::Unlock() {
  // Closing the handle releases its lock.
  file_ = File();
}

// ---- The user and the process ---------------------------------------------

const char* GetEnv(const char* name) { return std::getenv(name); }

Path DocumentsFolder(const EnvLookup&) {
  wchar_t* folder = nullptr;
  Path path;
  if (SUCCEEDED(::SHGetKnownFolderPath(FOLDERID_Documents, KF_FLAG_CREATE, nullptr, &folder)) && folder)
    path = FromWide(folder, wcslen(folder));
  ::CoTaskMemFree(folder);
  while (path.size() > 3 && IsSeparator(path.back())) path.pop_back();
  return path;
}

namespace {

// What the program writes as UTF-8 to a console, shown there as UTF-16
// through WriteConsoleW: right whatever the console's code page, in
// cmd.exe and PowerShell alike. A sequence cut at the buffer's end waits
// for its rest.
class ConsoleBuffer : public std::streambuf {
 public:
  explicit ConsoleBuffer(HANDLE console) : console_(console) { setp(bytes_, bytes_ + sizeof bytes_); }

 protected:
  int_type overflow(int_type c) override {
    Drain();
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    *pptr() = traits_type::to_char_type(c);
    pbump(1);
    return c;
  }
  int sync() override {
    Drain();
    return 0;
  }

 private:
  static constexpr size_t kBytes = 4096;
  static constexpr int kLongestSequence = 4;

  // Writes every whole UTF-8 sequence in the buffer; keeps a cut one.
  void Drain() {
    int n = static_cast<int>(pptr() - pbase());
    int whole = n;
    for (int back = 1; back <= kLongestSequence && back <= n; ++back) {
      const auto byte = static_cast<unsigned char>(bytes_[n - back]);
      if ((byte & 0xC0) == 0x80) continue;  // a continuation byte: look further back
      const int length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
      if (length > back) whole = n - back;
      break;
    }
    if (whole > 0) {
      std::wstring wide(static_cast<size_t>(whole), L'\0');
      wide.resize(static_cast<size_t>(::MultiByteToWideChar(CP_UTF8, 0, bytes_, whole, wide.data(), whole)));
      DWORD written = 0;
      ::WriteConsoleW(console_, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
    }
    std::memmove(bytes_, bytes_ + whole, static_cast<size_t>(n - whole));
    setp(bytes_, bytes_ + sizeof bytes_);
    pbump(n - whole);
  }

  HANDLE console_;
  char bytes_[kBytes];
};

bool IsConsole(HANDLE h) {
  DWORD mode = 0;
  return h && h != INVALID_HANDLE_VALUE && ::GetConsoleMode(h, &mode);
}

}  // namespace

void PrepareProcess() {
  // No "insert a disk" boxes for an empty drive in a path: the call fails.
  ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  // std::cout and std::cerr on a console go there as UTF-16; redirected,
  // they stay UTF-8 bytes.
  static std::once_flag once;
  std::call_once(once, [] {
    struct Stream {
      DWORD handle;
      std::ostream& stream;
    };
    for (const Stream s : {Stream{STD_OUTPUT_HANDLE, std::cout}, Stream{STD_ERROR_HANDLE, std::cerr}}) {
      HANDLE h = ::GetStdHandle(s.handle);
      if (!IsConsole(h)) continue;
      s.stream.flush();
      // Never freed: the streams flush into it at the very end of the process.
      s.stream.rdbuf(new ConsoleBuffer(h));
    }
  });
}

bool IsTerminal(int stream) { return IsConsole(::GetStdHandle(stream == 1 ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE)); }

// ---- Code pages -----------------------------------------------------------

namespace {

// The one UTF-16 unit the bytes decode to, 0 when they are no character.
char16_t DecodeOne(UINT codePage, const char* bytes, int n) {
  wchar_t unit[2] = {0, 0};
  const int got = ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes, n, unit, 2);
  return got == 1 ? static_cast<char16_t>(unit[0]) : 0;
}

constexpr unsigned kFirstHighByte = 0x80;
constexpr unsigned kLastByte = 0xFF;
constexpr unsigned kFirstTrailByte = 0x40;
constexpr size_t kUnits = 0x10000;

}  // namespace

bool CodePageBytes(uint16_t id, std::vector<uint16_t>& table) {
  if (!::IsValidCodePage(id)) return false;
  table.assign(kUnits, 0);
  // Every byte and byte pair decoded; the first spelling of a character wins.
  for (unsigned lead = kFirstHighByte; lead <= kLastByte; ++lead) {
    const char one[1] = {static_cast<char>(lead)};
    if (const char16_t u = DecodeOne(id, one, 1)) {
      if (table[u] == 0) table[u] = static_cast<uint16_t>(lead);
      continue;
    }
    if (!::IsDBCSLeadByteEx(id, static_cast<BYTE>(lead))) continue;
    for (unsigned trail = kFirstTrailByte; trail <= kLastByte; ++trail) {
      const char two[2] = {static_cast<char>(lead), static_cast<char>(trail)};
      const char16_t u = DecodeOne(id, two, 2);
      if (u && table[u] == 0) table[u] = static_cast<uint16_t>(lead << 8 | trail);
    }
  }
  return true;
}

}  // namespace skov::os
