// Numbered text files in Windows-1252 with CR LF lines, as the runtime keeps them.
#include "host/runtime_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "host/write_all.h"
#include "strings/runtime_error.h"

namespace skov {

struct RuntimeFiles::File {
  OpenMode mode = OpenMode::Input;
  std::string path;  // as opened, for messages
  dev_t dev = 0;     // the file's identity, for the already-open test
  ino_t ino = 0;
  int fd = -1;
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

// The runtime's number for a failed open or stat.
int OpenErrorNumber(int err) {
  switch (err) {
    case ENOENT: return kPathNotFound;
    case ENOTDIR: return kPathNotFound;
    case ENAMETOOLONG: return kBadFileNameOrNumber;
    default: return kPathFileAccessError;
  }
}

// The runtime's number for a failed write: a full disk, a quota or a file
// size limit are all "disk full".
int WriteErrorNumber(int err) { return err == ENOSPC || err == EDQUOT || err == EFBIG ? kDiskFull : kDeviceIoError; }

// Whether the file holds a CR anywhere; read once, a chunk at a time.
bool HoldsCr(int fd, std::vector<char>& chunk) {
  off_t at = 0;
  for (;;) {
    const ssize_t n = ::pread(fd, chunk.data(), chunk.size(), at);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) Raise(kDeviceIoError, std::string("cannot read: ") + std::strerror(errno));
    if (n == 0) return false;
    if (std::memchr(chunk.data(), '\r', static_cast<size_t>(n))) return true;
    at += n;
  }
}

// The next chunk of input; false at the end of the file.
bool Refill(RuntimeFiles::File& f) {
  if (f.pos < f.end) return true;
  for (;;) {
    const ssize_t n = ::read(f.fd, f.chunk.data(), f.chunk.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) Raise(kDeviceIoError, std::string("cannot read: ") + std::strerror(errno));
    f.pos = 0;
    f.end = static_cast<size_t>(n);
    return n > 0;
  }
}

// The pending bytes, then `more`, written out in one call where it can.
void WritePending(RuntimeFiles::File& f, std::string_view more = {}) {
  if (f.writeError) Raise(WriteErrorNumber(f.writeError), f.path);
  auto bytes = [](std::string_view text) {
    return std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size());
  };
  const std::span<const uint8_t> parts[] = {bytes(f.pending), bytes(more)};
  const int err = WriteAll(f.fd, parts);
  f.pending.clear();
  if (err) {
    f.writeError = err;
    Raise(WriteErrorNumber(err), f.path + ": " + std::strerror(err));
  }
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
  struct stat st {};
  if (files_.empty() || ::stat(ToFileName(path).c_str(), &st) != 0) return false;
  for (const auto& [n, f] : files_)
    if (f->dev == st.st_dev && f->ino == st.st_ino) return true;
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
  const std::string native = ToFileName(path);
  // The same file under any name (links included) counts as already open.
  struct stat known {};
  if (!files_.empty() && ::stat(native.c_str(), &known) == 0) {
    for (const auto& [n, f] : files_) {
      if (f->dev == known.st_dev && f->ino == known.st_ino && (f->mode == OpenMode::Output || mode == OpenMode::Output))
        Raise(kFileAlreadyOpen, native);
    }
  }
  auto file = std::make_unique<File>();
  file->mode = mode;
  file->path = native;
  // Non-blocking, so that a FIFO fails here instead of waiting for a peer;
  // output is emptied only once it is known to be a regular file.
  const int flags = (mode == OpenMode::Input ? O_RDONLY : O_WRONLY | O_CREAT) | O_CLOEXEC | O_NONBLOCK;
  const int fd = ::open(native.c_str(), flags, 0666);
  if (fd < 0) {
    const int err = errno;
    if (err == ENOENT && mode == OpenMode::Input) {
      std::error_code ec;
      auto parent = std::filesystem::path(native).parent_path();
      bool folder = parent.empty() || std::filesystem::is_directory(parent, ec);
      Raise(folder ? kFileNotFound : kPathNotFound, native);
    }
    Raise(OpenErrorNumber(err), native + ": " + std::strerror(err));
  }
  file->fd = fd;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    Raise(kPathFileAccessError, native + " is not a regular file");
  }
  file->dev = st.st_dev;
  file->ino = st.st_ino;
  if (mode == OpenMode::Input) {
    file->chunk.swap(spareChunk_);  // one input buffer for the whole run
    file->chunk.resize(kChunk);
    try {
      file->lfLines = !HoldsCr(fd, file->chunk);
    } catch (...) {
      ::close(fd);
      throw;
    }
  } else if (::ftruncate(fd, 0) != 0) {
    const int err = errno;
    ::close(fd);
    Raise(kPathFileAccessError, native + ": " + std::strerror(err));
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
    if (!first) out.append(14 - (out.size() - start) % 14, ' ');
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
  if (f.writeError) Raise(WriteErrorNumber(f.writeError), f.path);
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
  if (f->mode == OpenMode::Output) {
    try {
      WritePending(*f);
    } catch (const RuntimeError&) {
      err = f->writeError;
    }
  }
  if (::close(f->fd) != 0 && !err && f->mode == OpenMode::Output) err = errno;
  if (err) Raise(WriteErrorNumber(err), f->path + ": " + std::strerror(err));
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
  const std::string native = ToFileName(folder);
  // A folder that cannot be opened here goes without a lock; opening the
  // log in it then tells what is wrong.
  const int fd = ::open(native.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int err = errno;
    ::close(fd);
    if (err == EWOULDBLOCK) Raise(kFileAlreadyOpen, native + " is in use by another run");
    return;  // no locks on this file system
  }
  folderLock_ = fd;
}

void RuntimeFiles::UnlockFolder() {
  if (folderLock_ < 0) return;
  ::close(folderLock_);
  folderLock_ = -1;
}

bool RuntimeFiles::SameFile(const Text& a, const Text& b) {
  struct stat sa {}, sb {};
  if (::stat(ToFileName(a).c_str(), &sa) != 0 || ::stat(ToFileName(b).c_str(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

std::vector<Text> RuntimeFiles::ListFiles(const Text& folder) {
  std::vector<Text> names;
  const std::string native = folder.empty() ? std::string(".") : ToFileName(folder);
  DIR* dir = ::opendir(native.c_str());
  if (!dir) Raise(OpenErrorNumber(errno), native);
  while (dirent* e = ::readdir(dir)) {
    std::string name = e->d_name;
    if (name.empty() || name[0] == '.') continue;  // hidden on Linux
    std::string full = native;
    if (full.back() != '/') full += '/';
    full += name;
    struct stat st {};
    if (::stat(full.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    names.push_back(FromFileName(name));
  }
  ::closedir(dir);
  std::sort(names.begin(), names.end(), [](const Text& a, const Text& b) {
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
      char16_t x = a[i], y = b[i];
      if (x >= u'a' && x <= u'z') x -= 0x20;
      if (y >= u'a' && y <= u'z') y -= 0x20;
      if (x != y) return x < y;
    }
    return a.size() != b.size() ? a.size() < b.size() : a < b;
  });
  return names;
}

}  // namespace skov
