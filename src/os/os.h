// The operating system as the rest of the program sees it: files, folders,
// the documents folder, the safe replace of a file, code pages, the process.
//
// One implementation per system (os_posix*.cpp, os_win32*.cpp), picked by
// the build, as SQLite keeps its VFS: nothing outside src/os/ includes a
// system header or calls the system, so a port is a new implementation of
// this header and nothing else.
//
// Paths are Text (UTF-16). On Windows that is the system's own form. On
// POSIX a name is bytes: UTF-8 where it is valid, every other byte held as
// U+DC80..U+DCFF (FromFileName), so that every name a folder gives opens
// again under the same bytes.
//
// Failures throw os::Failure with a Fault the callers map to their own
// numbers and texts; nothing here knows the runtime's error numbers.
// Every function may be called from any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "strings/text.h"

namespace skov::os {

using Path = Text;

// ---- Paths ----------------------------------------------------------------

// The separator this system joins paths with: '/' on POSIX, '\\' on Windows.
extern const char16_t kSeparator;
// '/' on POSIX; '/' and '\\' on Windows.
bool IsSeparator(char16_t c);
// What follows the last separator (the whole path when there is none).
TextView BaseName(TextView path);
// The path up to its last separator, without it; empty for a bare name.
// A root keeps its separator ("/", "C:\\").
TextView FolderOf(TextView path);
// `name` appended to `folder` with one separator between them.
Path Join(TextView folder, TextView name);
// The process's current folder; empty when it cannot be told.
Path CurrentFolder();
// `path` made absolute against the current folder and lexically normal
// ("a/./b/../c" -> "a/c"); unchanged when that fails.
Path Absolute(const Path& path);

// ---- Failures -------------------------------------------------------------

enum class Fault : uint8_t {
  kMissing,        // no such file
  kMissingFolder,  // a folder on the way does not exist
  kDenied,         // access refused, or a read-only file to be written
  kNotRegular,     // a FIFO, device, socket, folder or reparse point where a file was wanted
  kNoSpace,        // disk full, quota exhausted, file size limit
  kBadName,        // a name too long or not allowed
  kInUse,          // locked, or held open by another program (sharing violation)
  kIo,             // a read or write failed otherwise
  kOther,
};

class Failure : public std::runtime_error {
 public:
  Failure(Fault fault, const std::string& what) : std::runtime_error(what), fault_(fault) {}
  Fault fault() const { return fault_; }

 private:
  Fault fault_;
};

// ---- Files ----------------------------------------------------------------

// What tells one file from another on this machine (POSIX: device and
// inode; Windows: volume serial and file index). Zero when unknown.
struct FileId {
  uint64_t volume = 0;
  uint64_t index = 0;
  bool Known() const { return volume != 0 || index != 0; }
  friend bool operator==(const FileId&, const FileId&) = default;
};

struct FileInfo {
  FileId id;
  uint64_t size = 0;
  int64_t modified = 0;  // in the system's finest unit; tells a changed file
  bool regular = false;
  bool folder = false;
  bool readOnly = false;  // nobody may write it: no write permission bit at all / the read-only attribute
};

// The file or folder a path names, links followed. False when nothing is
// there or it cannot be examined.
bool Stat(const Path& path, FileInfo& info);
// The entry a path names itself, a last link not followed: what a rename
// onto the path would replace. False as Stat.
bool StatEntry(const Path& path, FileInfo& info);
// Whether both paths name the same existing file (links, case-blind names).
bool SameFile(const Path& a, const Path& b);

// An open file, closed when destroyed. Move-only.
class File {
 public:
  File() = default;
  explicit File(intptr_t native) : native_(native) {}
  File(File&& other) noexcept : native_(other.Release()) {}
  File& operator=(File&& other) noexcept;
  ~File();
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  bool IsOpen() const { return native_ != kClosed; }
  intptr_t Native() const { return native_; }  // fd on POSIX, HANDLE on Windows
  intptr_t Release() {
    const intptr_t n = native_;
    native_ = kClosed;
    return n;
  }

  static constexpr intptr_t kClosed = -1;

 private:
  intptr_t native_ = kClosed;
};

// An existing regular file, for reading, in binary. Never blocks: a FIFO,
// a device or (on Windows) a reparse point fails with kNotRegular.
File OpenRead(const Path& path);
// A new, empty regular file for writing, in binary. A file that had this
// name before is unlinked first, never emptied: through a link or a second
// name it may be another file of the user's (the log and the list). A
// symbolic link of that name is removed, not followed. kNotRegular when a
// FIFO, device or folder has the name (it stays), kDenied when the old file
// may not be written (it stays).
File CreateFresh(const Path& path);
FileInfo Info(const File& file);
// Up to n bytes from the current position; 0 at the end.
size_t Read(File& file, void* buffer, size_t n);
// Up to n bytes from `offset`, the position unchanged; 0 at the end.
size_t ReadAt(const File& file, uint64_t offset, void* buffer, size_t n);

using Pieces = std::span<const std::span<const uint8_t>>;
// Every byte of every piece, in order, with as few calls as the system
// allows. A full disk, a quota or a file size limit is kNoSpace.
void WriteAll(File& file, Pieces pieces);
// The written data on the disk (fdatasync / FlushFileBuffers).
void Flush(File& file);
// Closed; a failure of the close itself (a late write error) throws.
void Close(File& file);

// ---- Folders --------------------------------------------------------------

struct DirEntry {
  Text name;
  bool hidden = false;   // by the system's rule: a leading '.' / the hidden attribute
  bool regular = false;  // a regular file (links followed)
};

// Every entry of a folder but "." and "..", in no particular order.
// kMissingFolder when there is no such folder, kDenied when it cannot be read.
std::vector<DirEntry> ListFolder(const Path& folder);

// One run at a time per folder: an exclusive lock on a lock file in the
// folder (kLockFileName, hidden), created where missing and never removed
// (removing it would let two runs lock two files). It needs only the right
// to create a file there, not to list the folder. Held until Unlock or
// destruction.
extern const char16_t* const kLockFileName;
class FolderLock {
 public:
  // False when another process holds the lock; true also where the file
  // system offers no locks at all (there is nothing to take turns with).
  // Throws when the lock file cannot be created or opened.
  bool TryLock(const Path& folder);
  void Unlock();

 private:
  File file_;
};

// ---- The safe replace -----------------------------------------------------

// A complete new file beside its target, waiting to take the target's name.
// WriteReplacement creates it (unnamed while it is written where the file
// system allows), fills it, and names it `temp` with this program's mark
// (the name prefix kTempPrefix and six letters), locked for as long as
// `file` is open, with the mode a new file gets; FlushReplacement puts it
// on the disk; CommitReplacement renames it over the target (handles closed
// first where the system requires it); DropReplacement removes it. A later
// RemoveLeftovers removes one whose process died; nothing else. Until the
// commit, `temp` can be opened for reading (OpenRead) and the commit still
// succeeds while it is open.
struct Replacement {
  Path target;
  Path temp;  // the name the bytes can be read under until the commit
  File file;
  bool flushed = false;
};

Replacement WriteReplacement(const Path& target, Pieces bytes);
void FlushReplacement(Replacement& r);
void CommitReplacement(Replacement& r);
// Never throws; the target is unchanged.
void DropReplacement(Replacement& r) noexcept;
// The renames into a folder made durable (POSIX: the folder's fsync;
// Windows: nothing, the rename was written through).
void FlushFolder(const Path& folder);
// Removes what saves of this program left in `folder` when their process
// died: regular files named with this program's mark that no living save
// holds locked and whose content is empty (created, not yet filled) or
// starts with `signature` (what the caller's files start with). Never a
// file it cannot prove it made.
extern const char16_t* const kTempPrefix;
void RemoveLeftovers(const Path& folder, std::span<const uint8_t> signature);

// ---- The user and the process ---------------------------------------------

// Reads an environment variable; nullptr when unset.
using EnvLookup = std::function<const char*(const char*)>;
const char* GetEnv(const char* name);

// The user's documents folder without trailing separator, empty when it
// cannot be told. POSIX: XDG_DOCUMENTS_DIR of user-dirs.dirs, else
// $HOME/Documents, from `env`; Windows: the Documents known folder.
Path DocumentsFolder(const EnvLookup& env);

// Once at the start of a program: a write past a file size limit fails as a
// full disk instead of ending the process; the console shows UTF-8.
void PrepareProcess();
// Whether standard output (1) or standard error (2) is a terminal.
bool IsTerminal(int stream);

// ---- Code pages -----------------------------------------------------------

// For code page `id` (Windows numbering: 1250, 932, 10000 Mac Roman, ...)
// per UTF-16 unit the byte (0x80..0xFF) or lead << 8 | trail that stands
// for it, 0 where none; table gets 0x10000 entries, the first spelling of a
// character winning. False when the system does not know the code page.
bool CodePageBytes(uint16_t id, std::vector<uint16_t>& table);

}  // namespace skov::os
