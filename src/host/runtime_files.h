// The runtime's numbered text files: free number, open, line in, end-of-file
// test, line out in 14-character print zones, close, and a folder listing.
#pragma once

#include <cstdio>
#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "os/os.h"
#include "strings/text.h"

namespace skov {

enum class OpenMode { Input, Output };

// Print zones begin every kPrintZone characters (columns 1, 15, 29, ...).
constexpr size_t kPrintZone = 14;
// The spaces from `column` (counted from 0) to the start of the next zone:
// at least one, a whole zone at a zone's start.
constexpr size_t ZonePadding(size_t column) { return kPrintZone - column % kPrintZone; }

// Files hold Windows-1252 text. A line ends at CR or CR LF; a file that holds
// no CR at all (made on Linux) is split at LF instead. Only regular files are
// opened: a FIFO or a device fails at once. Input is read in bounded chunks.
// Failures raise RuntimeError: 14 line longer than kMaxLineBytes, 52 bad name
// or number, 53 no such file, 55 already open, 57 write failed, 61 disk full
// (or file size limit), 62 input past end, 75 access refused or not a regular
// file, 76 no such folder.
class RuntimeFiles {
 public:
  // No export line comes near this; a longer one is not read into memory.
  static constexpr size_t kMaxLineBytes = size_t{1} << 18;

  RuntimeFiles();
  ~RuntimeFiles();
  RuntimeFiles(const RuntimeFiles&) = delete;
  RuntimeFiles& operator=(const RuntimeFiles&) = delete;

  // The lowest unused number from 1 to 511, 0 when all are in use.
  int FreeFile() const;

  // Output writes a new file in the name's place: an existing file of that
  // name is removed, never emptied, so a file reached through a link or
  // under a second name is not touched. A path this process holds open for
  // output cannot be opened again, nor one it holds open at all for output
  // (error 55). `shared` lets other processes read the file meanwhile; on
  // Linux nothing locks, so it only documents the intent.
  void Open(const Text& path, OpenMode mode, int number, bool shared);
  bool IsOpen(int number) const;
  // Whether this process holds the file open under any number.
  bool HoldsOpen(const Text& path) const;

  Text LineInput(int number);
  // LineInput's line as the file holds it (Windows-1252), valid until the
  // next read or close on this object (Eof leaves it valid).
  std::string_view LineBytes(int number);
  bool Eof(int number) const;

  // The items in print zones: each after the first starts at the next zone
  // (columns 1, 15, 29, ...), at least one space after the one before; then
  // CR LF.
  void PrintZones(int number, std::initializer_list<TextView> items);
  // The line PrintZones writes, appended to out instead.
  static void AppendZones(std::string& out, std::initializer_list<TextView> items);
  // Lines AppendZones made, written as PrintZones writes them.
  void PrintLines(int number, std::string_view lines);

  // Flushes buffered output to the operating system. Output that could not
  // be written raises 61 or 57, here or at the latest at Close.
  void Flush(int number);

  // Closing a number that is not open does nothing. The number is free
  // afterwards even when the close raised.
  void Close(int number);
  // Never raises.
  void CloseAll();

  // An exclusive lock on the folder's lock file, held until UnlockFolder or
  // destruction, so that runs sharing a default folder take turns. 55 when
  // another run holds it, 75 when the lock file cannot be made; where the
  // file system gives no locks the run goes on without.
  void LockFolder(const Text& folder);
  void UnlockFolder();

  // Whether both paths name the same existing file (links included).
  static bool SameFile(const Text& a, const Text& b);

  // The plain, non-hidden files of a folder, names only (any bytes, see
  // FromFileName), in name order (letter case ignored). A folder path ends
  // with a separator. 76 when there is no such folder, 75 when it cannot be
  // read.
  static std::vector<Text> ListFiles(const Text& folder);

  struct File;  // one open number; defined with the functions

 private:
  File& Get(int number) const;
  std::map<int, std::unique_ptr<File>> files_;
  std::string line_;  // the line being printed or read, reused
  std::string raw_;   // the line last read
  std::vector<char> spareChunk_;  // an input buffer kept from a closed file
  os::FolderLock folderLock_;
};

}  // namespace skov
