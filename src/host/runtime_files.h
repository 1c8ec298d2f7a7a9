// The runtime's numbered text files: free number, open, line in, end-of-file
// test, line out in 14-character print zones, close, and a folder listing.
#pragma once

#include <cstdio>
#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "strings/text.h"

namespace skov {

enum class OpenMode { Input, Output };

// Files hold Windows-1252 text. A line ends at CR or CR LF; a file that holds
// no CR at all (made on Linux) is split at LF instead. Failures raise
// RuntimeError: 52 bad name or number, 53 no such file, 55 already open,
// 62 input past end, 75 access refused, 76 no such folder.
class RuntimeFiles {
 public:
  RuntimeFiles();
  ~RuntimeFiles();
  RuntimeFiles(const RuntimeFiles&) = delete;
  RuntimeFiles& operator=(const RuntimeFiles&) = delete;

  // The lowest unused number from 1 to 511, 0 when all are in use.
  int FreeFile() const;

  // Output empties an existing file. A path this process holds open for
  // output cannot be opened again, nor one it holds open at all for output
  // (error 55). `shared` lets other processes read the file meanwhile; on
  // Linux nothing locks, so it only documents the intent.
  void Open(const Text& path, OpenMode mode, int number, bool shared);
  bool IsOpen(int number) const;
  // Whether this process holds the file open under any number.
  bool HoldsOpen(const Text& path) const;

  Text LineInput(int number);
  bool Eof(int number) const;

  // The items in print zones: each after the first starts at the next zone
  // (columns 1, 15, 29, ...), at least one space after the one before; then
  // CR LF.
  void PrintZones(int number, std::initializer_list<TextView> items);

  // Flushes buffered output to the operating system.
  void Flush(int number);

  // Closing a number that is not open does nothing.
  void Close(int number);
  void CloseAll();

  // The plain, non-hidden files of a folder, names only, in name order
  // (letter case ignored). A folder path ends with "/".
  static std::vector<Text> ListFiles(const Text& folder);

 private:
  struct File;
  File& Get(int number) const;
  std::map<int, std::unique_ptr<File>> files_;
  std::string line_;  // the line being printed, reused
};

}  // namespace skov
