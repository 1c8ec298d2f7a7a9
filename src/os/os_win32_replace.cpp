// The safe replace on Windows: a marked, locked file beside the target,
// flushed, then renamed over it and flushed again.
//
// A replacement's name carries a check of its own random part (the mark),
// so a file of the user's is never taken for one. Its handle holds a lock
// (on one byte far past the data) from creation until after the move; a
// marked file that nobody locks was left by a save that died, and
// RemoveLeftovers takes it only under its own lock, so two runs never
// remove each other's files.
// The handle lets others read and rename it, so the rename needs no close.
#include <windows.h>
#include <bcrypt.h>

#include <algorithm>
#include <cstddef>
#include <vector>

#include "os/os.h"
#include "os/os_win32_internal.h"

namespace skov::os {

using namespace win32;

namespace {

constexpr char16_t kTempPrefix[] = u".skov-import-";
constexpr char16_t kTempSuffix[] = u".tmp";
constexpr size_t kPrefixLength = sizeof kTempPrefix / sizeof kTempPrefix[0] - 1;
constexpr size_t kSuffixLength = sizeof kTempSuffix / sizeof kTempSuffix[0] - 1;
constexpr size_t kHexDigits = 8;  // of the random part, and of its check
constexpr size_t kNameLength = kPrefixLength + 2 * kHexDigits + kSuffixLength;
// Names taken by others (or files other runs just locked) before giving up.
constexpr int kAttempts = 100;
constexpr uint32_t kFnvBasis = 2166136261u;
constexpr uint32_t kFnvPrime = 16777619u;
constexpr uint32_t kMarkKey = 0x534B4F56;  // "SKOV": the check differs from a plain hash of the digits

uint32_t Check(uint32_t random) {
  uint32_t h = kFnvBasis;
  for (uint32_t v : {kMarkKey, random}) {
    for (int shift = 0; shift < 32; shift += 8) {
      h ^= (v >> shift) & 0xFF;
      h *= kFnvPrime;
    }
  }
  return h;
}

void AppendHex(Text& out, uint32_t value) {
  static constexpr char16_t kDigits[] = u"0123456789abcdef";
  for (int shift = 28; shift >= 0; shift -= 4) out += kDigits[(value >> shift) & 0xF];
}

bool ParseHex(TextView digits, uint32_t& value) {
  value = 0;
  for (char16_t c : digits) {
    uint32_t d;
    if (c >= u'0' && c <= u'9') d = c - u'0';
    else if (c >= u'a' && c <= u'f') d = c - u'a' + 10;
    else return false;
    value = value << 4 | d;
  }
  return true;
}

Text MarkedName() {
  uint32_t random = 0;
  if (!BCRYPT_SUCCESS(::BCryptGenRandom(nullptr, reinterpret_cast<PUCHAR>(&random), sizeof random,
                                        BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
    random = ::GetTickCount() ^ (::GetCurrentProcessId() << 16) ^ ::GetCurrentThreadId();
  }
  Text name = kTempPrefix;
  AppendHex(name, random);
  AppendHex(name, Check(random));
  name += kTempSuffix;
  return name;
}

bool CarriesMark(TextView name) {
  if (name.size() != kNameLength || name.substr(0, kPrefixLength) != kTempPrefix ||
      name.substr(kNameLength - kSuffixLength) != kTempSuffix)
    return false;
  uint32_t random = 0, check = 0;
  return ParseHex(name.substr(kPrefixLength, kHexDigits), random) &&
         ParseHex(name.substr(kPrefixLength + kHexDigits, kHexDigits), check) && check == Check(random);
}

// The lock lies far past any workbook's end, so the bytes stay readable
// to others while it is held.
constexpr DWORD kLockOffsetHigh = 0x40000000;  // 2^62

bool LockMark(HANDLE h) {
  OVERLAPPED at{};
  at.OffsetHigh = kLockOffsetHigh;
  return ::LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at);
}

bool MarkDeleted(HANDLE h) {
  FILE_DISPOSITION_INFO remove{TRUE};
  return ::SetFileInformationByHandle(h, FileDispositionInfo, &remove, sizeof remove);
}

// Why a rename over the target was refused: "access denied" is also what
// a target that another program holds open gives. Only a file nobody has
// open can be opened without sharing (with an access that sharing checks).
DWORD WhyRefused(DWORD error, const std::wstring& target) {
  if (error != ERROR_ACCESS_DENIED) return error;
  HANDLE h = ::CreateFileW(target.c_str(), DELETE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return ::GetLastError() == ERROR_SHARING_VIOLATION ? ERROR_SHARING_VIOLATION : error;
  ::CloseHandle(h);
  return error;
}

// Hidden behind a wrong version test in mingw-w64's headers.
constexpr auto kFileRenameInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(22);

// The temp file renamed over the target (an absolute path), through a
// handle of its own (MoveFileExW does the same inside). With POSIX semantics
// (Windows 10 on NTFS) a target that a reader holds open, sharing its
// deletion, is replaced as on Linux; elsewhere the classic rename.
DWORD RenameOverTarget(const std::wstring& temp, const std::wstring& target) {
  HANDLE h = ::CreateFileW(temp.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) return ::GetLastError();
  const size_t nameBytes = target.size() * sizeof(wchar_t);
  std::vector<uint8_t> buffer(offsetof(FILE_RENAME_INFO, FileName) + nameBytes + sizeof(wchar_t));
  auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  info->Flags = FILE_RENAME_FLAG_REPLACE_IF_EXISTS | FILE_RENAME_FLAG_POSIX_SEMANTICS;
  info->FileNameLength = static_cast<DWORD>(nameBytes);
  std::copy(target.begin(), target.end(), info->FileName);
  const DWORD size = static_cast<DWORD>(buffer.size());
  BOOL renamed = ::SetFileInformationByHandle(h, kFileRenameInfoEx, info, size);
  DWORD error = renamed ? ERROR_SUCCESS : ::GetLastError();
  // Systems and file systems without it (Windows before 10, FAT, SMB).
  if (!renamed && (error == ERROR_INVALID_PARAMETER || error == ERROR_NOT_SUPPORTED ||
                   error == ERROR_INVALID_FUNCTION || error == ERROR_CALL_NOT_IMPLEMENTED)) {
    info->Flags = 0;
    info->ReplaceIfExists = TRUE;
    renamed = ::SetFileInformationByHandle(h, FileRenameInfo, info, size);
    error = renamed ? ERROR_SUCCESS : ::GetLastError();
  }
  ::CloseHandle(h);
  return error;
}

}  // namespace

Replacement WriteReplacement(const Path& target, Pieces bytes) {
  Replacement r;
  r.target = target;
  const Path folder(FolderOf(target));
  for (int attempt = 0; attempt < kAttempts && !r.file.IsOpen(); ++attempt) {
    r.temp = Join(folder, MarkedName());
    // No DELETE access of our own: others may then open it without sharing
    // deletion (a reader, a virus scanner), and the rename still can.
    HANDLE h = ::CreateFileW(Native(r.temp).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                             nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      const DWORD error = ::GetLastError();
      if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) continue;
      r.temp.clear();
      Fail(error, "cannot create a file beside", target);
    }
    File file(NativeOf(h));
    // Another run's clean-up may have locked it first, to remove it.
    if (LockMark(h)) r.file = std::move(file);
  }
  if (!r.file.IsOpen()) {
    r.temp.clear();
    throw Failure(Fault::kOther, "no free name for a file beside " + ToUtf8(target));
  }
  try {
    WriteAll(r.file, bytes);
  } catch (...) {
    DropReplacement(r);
    throw;
  }
  return r;
}

void FlushReplacement(Replacement& r) {
  if (r.flushed) return;
  if (!::FlushFileBuffers(HandleOf(r.file))) {
    const DWORD error = ::GetLastError();
    DropReplacement(r);
    Fail(error, "cannot flush", r.target);
  }
  r.flushed = true;
}

void CommitReplacement(Replacement& r) {
  if (r.temp.empty()) throw Failure(Fault::kOther, "nothing to commit for " + ToUtf8(r.target));
  FlushReplacement(r);
  const std::wstring target = Native(Absolute(r.target));
  // Refused by Windows itself; said here too for file systems that keep
  // the attribute as permission bits a privileged user ignores (wine).
  const DWORD attributes = ::GetFileAttributesW(target.c_str());
  const bool readOnly = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
  DWORD error = readOnly ? ERROR_ACCESS_DENIED : RenameOverTarget(Native(r.temp), target);
  if (error != ERROR_SUCCESS) {
    if (!readOnly) error = WhyRefused(error, target);
    DropReplacement(r);
    Fail(error, "cannot replace", r.target);
  }
  // The rename written through, as MOVEFILE_WRITE_THROUGH does it: by
  // flushing the moved file.
  ::FlushFileBuffers(HandleOf(r.file));
  r.temp.clear();
  ::CloseHandle(reinterpret_cast<HANDLE>(r.file.Release()));
}

void DropReplacement(Replacement& r) noexcept {
  if (r.file.IsOpen()) ::CloseHandle(reinterpret_cast<HANDLE>(r.file.Release()));
  if (!r.temp.empty()) ::DeleteFileW(Native(r.temp).c_str());
  r.temp.clear();
  r.flushed = false;
}

void FlushFolder(const Path&) {}

void RemoveLeftovers(const Path& folder) {
  const Path base = folder.empty() ? Path(u".") : folder;
  const std::wstring pattern = Native(Join(base, Text(kTempPrefix) + u"*" + kTempSuffix));
  WIN32_FIND_DATAW found;
  HANDLE find = ::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    const Text name = FromWide(found.cFileName, wcslen(found.cFileName));
    if (!CarriesMark(name) || (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
      continue;
    HANDLE h = ::CreateFileW(Native(Join(base, name)).c_str(), GENERIC_READ | DELETE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                             FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) continue;
    // Locked: a save that is alive holds it.
    if (HoldsFileData(h) && LockMark(h)) MarkDeleted(h);
    ::CloseHandle(h);
  } while (::FindNextFileW(find, &found));
  ::FindClose(find);
}

}  // namespace skov::os
