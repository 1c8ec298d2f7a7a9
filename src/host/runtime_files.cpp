// Numbered text files in Windows-1252 with CR LF lines, as the runtime keeps them.
#include "host/runtime_files.h"

#include <algorithm>
#include <cstring>

#include "strings/case_fold.h"
#include "strings/runtime_error.h"

namespace skov {

struct RuntimeFiles::File {
  OpenMode mode = OpenMode::Input;
  std::string path;  // as opened, for messages
  os::FileId id;     // the file's identity, for the already-open test
  os::File file;
  // Input: a window of the file, refilled as lines are taken.
  std::vector<char> chunk;
  size_t pos = 0;
  size_t end = 0;
  bool lfLines = false;  // no CR anywhere: lines end at LF
  // Output: bytes not yet written, and the first write failure (sticky).
  std::string pending;
  int writeError = 0;
};

namespace {

constexpr int kMaxNumber = 511;
constexpr size_t kChunk = size_t{1} << 16;
static_assert(kChunk <= RuntimeFiles::kMaxLineBytes, "a line within one chunk is never too long");

// The runtime's number for a failed open or listing.
int OpenErrorNumber(os::Fault fault) {
  switch (fault) {
    case os::Fault::kMissing: return kFileNotFound;
    case os::Fault::kMissingFolder: return kPathNotFound;
    case os::Fault::kBadName: return kBadFileNameOrNumber;
    default: return kPathFileAccessError;
  }
}

// The runtime's number for a failed write: a full disk, a quota or a file
// size limit are all "disk full".
int WriteErrorNumber(os::Fault fault) { return fault == os::Fault::kNoSpace ? kDiskFull : kDeviceIoError; }

// Whether the file holds a CR anywhere; read once, a chunk at a time.
bool HoldsCr(const os::File& file, std::vector<char>& chunk) {
  for (uint64_t at = 0;;) {
    const size_t n = os::ReadAt(file, at, chunk.data(), chunk.size());
    if (n == 0) return false;
    if (std::memchr(chunk.data(), '\r', n)) return true;
    at += n;
  }
}

// The next chunk of input; false at the end of the file.
bool Refill(RuntimeFiles::File& f) {
  if (f.pos < f.end) return true;
  try {
    f.end = os::Read(f.file, f.chunk.data(), f.chunk.size());
  } catch (const os::Failure& e) {
    Raise(kDeviceIoError, e.what());
  }
  f.pos = 0;
  return f.end > 0;
}

// The pending bytes, then `more`, written out in one call where it can.
void WritePending(RuntimeFiles::File& f, std::string_view more = {}) {
  if (f.writeError) Raise(f.writeError, f.path);
  auto bytes = [](std::string_view text) {
    return std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size());
  };
  const std::span<const uint8_t> parts[] = {bytes(f.pending), bytes(more)};
  try {
    os::WriteAll(f.file, parts);
  } catch (const os::Failure& e) {
    f.pending.clear();
    f.writeError = WriteErrorNumber(e.fault());
    Raise(f.writeError, f.path + ": " + e.what());
  }
  f.pending.clear();
}

}  // namespace

RuntimeFiles::RuntimeFiles() = default;
RuntimeFiles::~RuntimeFiles() {
  CloseAll();
  UnlockFolder();
}

int RuntimeFiles::FreeFile() const {
  for (int n = 1; n <= kMaxNumber; ++n)
    if (!files_.count(n)) return n;
  return 0;
}

bool RuntimeFiles::IsOpen(int number) const { return files_.count(number) != 0; }

bool RuntimeFiles::HoldsOpen(const Text& path) const {
  os::FileInfo info;
  if (files_.empty() || !os::Stat(path, info)) return false;
  for (const auto& [n, f] : files_)
    if (f->id == info.id) return true;
  return false;
}

RuntimeFiles::File& RuntimeFiles::Get(int number) const {
  auto it = files_.find(number);
  if (it == files_.end()) Raise(kBadFileNameOrNumber, "file number " + std::to_string(number) + " is not open");
  return *it->second;
}

void RuntimeFiles::Open(const Text& path, OpenMode mode, int number, bool /*shared*/) {
  if (number < 1 || number > kMaxNumber) Raise(kBadFileNameOrNumber, "bad file number");
  if (files_.count(number)) Raise(kFileAlreadyOpen, "file number in use");
  if (path.empty() || path.find(u'\0') != Text::npos) Raise(kBadFileNameOrNumber, "bad file name");
  const std::string shown = ToFileName(path);
  // The same file under any name (links included) counts as already open.
  os::FileInfo known;
  if (!files_.empty() && os::Stat(path, known)) {
    for (const auto& [n, f] : files_) {
      if (f->id == known.id && (f->mode == OpenMode::Output || mode == OpenMode::Output))
        Raise(kFileAlreadyOpen, shown);
    }
  }
  auto file = std::make_unique<File>();
  file->mode = mode;
  file->path = shown;
  try {
    file->file = mode == OpenMode::Input ? os::OpenRead(path) : os::CreateFresh(path);
    file->id = os::Info(file->file).id;
  } catch (const os::Failure& e) {
    Raise(OpenErrorNumber(e.fault()), e.what());
  }
  if (mode == OpenMode::Input) {
    file->chunk.swap(spareChunk_);  // one input buffer for the whole run
    file->chunk.resize(kChunk);
    try {
      file->lfLines = !HoldsCr(file->file, file->chunk);
    } catch (const os::Failure& e) {
      file->chunk.swap(spareChunk_);
      Raise(kDeviceIoError, std::string("cannot read: ") + e.what());
    }
  }
  files_[number] = std::move(file);
}

Text RuntimeFiles::LineInput(int number) { return FromCp1252(LineBytes(number)); }

std::string_view RuntimeFiles::LineBytes(int number) {
  File& f = Get(number);
  if (f.mode != OpenMode::Input) Raise(kBadFileMode, "not open for input");
  if (!Refill(f)) Raise(kInputPastEndOfFile);
  const char end = f.lfLines ? '\n' : '\r';
  // A line that ends inside the chunk, its LF included, is handed out where
  // it lies: nothing refills the chunk before the next read.
  const char* from = f.chunk.data() + f.pos;
  if (const char* stop = static_cast<const char*>(std::memchr(from, end, f.end - f.pos))) {
    size_t next = f.pos + static_cast<size_t>(stop - from) + 1;
    if (!f.lfLines && next < f.end && f.chunk[next] == '\n') ++next;
    if (next < f.end) {
      f.pos = next;
      return std::string_view(from, static_cast<size_t>(stop - from));
    }
  }
  std::string& raw = raw_;
  raw.clear();
  bool ended = false;
  while (!ended && Refill(f)) {
    const char* from = f.chunk.data() + f.pos;
    const char* stop = static_cast<const char*>(std::memchr(from, end, f.end - f.pos));
    const size_t take = stop ? static_cast<size_t>(stop - from) : f.end - f.pos;
    if (raw.size() + take > kMaxLineBytes)
      Raise(kLineTooLong, f.path + ": line longer than " + std::to_string(kMaxLineBytes));
    raw.append(from, take);
    f.pos += take;
    if (stop) {
      ++f.pos;
      ended = true;
    }
  }
  if (ended && !f.lfLines && Refill(f) && f.chunk[f.pos] == '\n') ++f.pos;
  return raw;
}

bool RuntimeFiles::Eof(int number) const {
  File& f = Get(number);
  return f.mode != OpenMode::Input || !Refill(f);
}

void RuntimeFiles::AppendZones(std::string& out, std::initializer_list<TextView> items) {
  // One byte per character in Windows-1252, so bytes count columns.
  const size_t start = out.size();
  bool first = true;
  for (TextView item : items) {
    if (!first) out.append(ZonePadding(out.size() - start), ' ');
    first = false;
    AppendCp1252(out, item);
  }
  out += "\r\n";
}

void RuntimeFiles::PrintZones(int number, std::initializer_list<TextView> items) {
  line_.clear();
  AppendZones(line_, items);
  PrintLines(number, line_);
}

void RuntimeFiles::PrintLines(int number, std::string_view lines) {
  File& f = Get(number);
  if (f.mode != OpenMode::Output) Raise(kBadFileMode, "not open for output");
  if (f.writeError) Raise(f.writeError, f.path);
  // Lines that fill the buffer go out behind it without being copied there
  // first (a pass's held lines are some 50 KB).
  if (f.pending.size() + lines.size() >= kChunk) return WritePending(f, lines);
  f.pending += lines;
}

void RuntimeFiles::Flush(int number) {
  auto it = files_.find(number);
  if (it != files_.end() && it->second->mode == OpenMode::Output) WritePending(*it->second);
}

void RuntimeFiles::Close(int number) {
  auto it = files_.find(number);
  if (it == files_.end()) return;
  std::unique_ptr<File> f = std::move(it->second);
  files_.erase(it);
  if (f->chunk.capacity() > spareChunk_.capacity()) f->chunk.swap(spareChunk_);
  int err = 0;
  std::string why;
  if (f->mode == OpenMode::Output) {
    try {
      WritePending(*f);
    } catch (const RuntimeError& e) {
      err = f->writeError;
      why = e.what();
    }
  }
  try {
    os::Close(f->file);
  } catch (const os::Failure& e) {
    if (!err && f->mode == OpenMode::Output) {
      err = WriteErrorNumber(e.fault());
      why = f->path + ": " + e.what();
    }
  }
  if (err) Raise(err, why);
}

void RuntimeFiles::CloseAll() {
  while (!files_.empty()) {
    try {
      Close(files_.begin()->first);
    } catch (const RuntimeError&) {
      // Whoever wrote the file has been told already, or is gone.
    }
  }
}

void RuntimeFiles::LockFolder(const Text& folder) {
  UnlockFolder();
  bool locked = false;
  try {
    locked = folderLock_.TryLock(folder);
  } catch (const os::Failure& e) {
    Raise(kPathFileAccessError, e.what());
  }
  if (!locked) Raise(kFileAlreadyOpen, ToFileName(folder) + " is in use by another run");
}

void RuntimeFiles::UnlockFolder() { folderLock_.Unlock(); }

bool RuntimeFiles::SameFile(const Text& a, const Text& b) { return os::SameFile(a, b); }

std::vector<Text> RuntimeFiles::ListFiles(const Text& folder) {
  std::vector<os::DirEntry> entries;
  try {
    entries = os::ListFolder(folder);
  } catch (const os::Failure& e) {
    Raise(OpenErrorNumber(e.fault()), e.what());
  }
  std::vector<Text> names;
  for (os::DirEntry& e : entries)
    if (e.regular && !e.hidden) names.push_back(std::move(e.name));
  std::sort(names.begin(), names.end(), [](const Text& a, const Text& b) {
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
      const char16_t x = FoldCase(a[i]), y = FoldCase(b[i]);
      if (x != y) return x < y;
    }
    return a.size() != b.size() ? a.size() < b.size() : a < b;
  });
  return names;
}

}  // namespace skov
