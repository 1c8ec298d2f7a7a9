// The safe replace on Windows: a marked, locked file beside the target, flushed, renamed over it.
#include <windows.h>
#include <bcrypt.h>

#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

#include "os/os.h"
#include "os/os_win32_internal.h"

namespace skov::os {

const char16_t* const kTempPrefix = u".skov-import-";

using namespace win32;

namespace {

constexpr size_t kSuffixLength = 6;
constexpr char16_t kLetters[] = u"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
constexpr size_t kLetterCount = sizeof kLetters / sizeof kLetters[0] - 1;
// Names taken by others (or files other runs just locked) before giving up.
constexpr int kAttempts = 100;

size_t PrefixLength() { return std::char_traits<char16_t>::length(kTempPrefix); }

Text MarkedName() {
  uint8_t random[kSuffixLength] = {};
  if (!BCRYPT_SUCCESS(::BCryptGenRandom(nullptr, random, sizeof random, BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
    const DWORD fallback = ::GetTickCount() ^ (::GetCurrentProcessId() << 16) ^ ::GetCurrentThreadId();
    for (size_t i = 0; i < kSuffixLength; ++i) random[i] = static_cast<uint8_t>(fallback >> (4 * i));
  }
  Text name = kTempPrefix;
  for (uint8_t r : random) name += kLetters[r % kLetterCount];
  return name;
}

bool OurName(TextView name) {
  const size_t prefix = PrefixLength();
  if (name.size() != prefix + kSuffixLength || name.substr(0, prefix) != kTempPrefix) return false;
  return std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix), name.end(), [](char16_t c) {
    return std::char_traits<char16_t>::find(kLetters, kLetterCount, c) != nullptr;
  });
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

// Removes a file of ours unless a save holds it or it shows another's
// content: empty (created, not yet filled) or starting with `signature`.
void RemoveIfLeft(const Path& path, std::span<const uint8_t> signature) {
  HANDLE h = ::CreateFileW(Native(path).c_str(), GENERIC_READ | DELETE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) return;
  File file(NativeOf(h));
  if (!HoldsFileData(h) || !LockMark(h)) return;  // locked: a save that is alive holds it
  const uint64_t size = InfoOf(h).size;
  if (size != 0) {
    std::vector<uint8_t> start(signature.size());
    if (signature.empty() || size < signature.size()) return;
    try {
      if (ReadAt(file, 0, start.data(), start.size()) != start.size()) return;
    } catch (const Failure&) {
      return;
    }
    if (!std::equal(start.begin(), start.end(), signature.begin())) return;
  }
  MarkDeleted(h);
}

}  // namespace

// A replacement's handle holds a lock (on one byte far past the data) from
// creation until after the rename; a file of our name that nobody locks was
// left by a save that died, and RemoveLeftovers takes it only under its own
// lock and only with the content the caller's files have, so two runs never
// remove each other's files, nor a user's. The handle lets others read and
// rename the file, so the rename needs no close.
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

void RemoveLeftovers(const Path& folder, std::span<const uint8_t> signature) {
  const Path base = folder.empty() ? Path(u".") : folder;
  const std::wstring pattern = Native(Join(base, Text(kTempPrefix) + u"*"));
  WIN32_FIND_DATAW found;
  HANDLE find = ::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
  if (find == INVALID_HANDLE_VALUE) return;
  std::vector<Text> ours;
  do {
    const Text name = FromWide(found.cFileName, wcslen(found.cFileName));
    if (OurName(name) && !(found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
      ours.push_back(name);
  } while (::FindNextFileW(find, &found));
  ::FindClose(find);
  for (const Text& name : ours) RemoveIfLeft(Join(base, name), signature);
}

}  // namespace skov::os
