// Paths, files, folders and the run lock on POSIX systems.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "os/os_posix.h"

namespace skov::os {

const char16_t kSeparator = u'/';
const char16_t* const kLockFileName = u".skov-import.lock";

namespace posix {

std::string Native(TextView path) { return ToFileName(path); }

Fault FaultOf(int err) {
  switch (err) {
    case ENOENT: return Fault::kMissing;
    case ENOTDIR: return Fault::kMissingFolder;
    case EACCES:
    case EPERM:
    case EROFS: return Fault::kDenied;
    case EISDIR:
    case ENXIO:
    case ENODEV:
    case ELOOP: return Fault::kNotRegular;
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return Fault::kNoSpace;
    case ENAMETOOLONG:
    case EILSEQ: return Fault::kBadName;
    case EBUSY:
    case ETXTBSY:
    case EWOULDBLOCK: return Fault::kInUse;
    case EIO: return Fault::kIo;
    default: return Fault::kOther;
  }
}

void Fail(int err, const std::string& what) { throw Failure(FaultOf(err), what + ": " + std::strerror(err)); }

}  // namespace posix

using posix::Fail;
using posix::Native;

// ---- Paths ----------------------------------------------------------------

bool IsSeparator(char16_t c) { return c == u'/'; }

TextView BaseName(TextView path) {
  const size_t slash = path.rfind(u'/');
  return slash == TextView::npos ? path : path.substr(slash + 1);
}

TextView FolderOf(TextView path) {
  const size_t slash = path.rfind(u'/');
  if (slash == TextView::npos) return {};
  return path.substr(0, slash == 0 ? 1 : slash);
}

Path Join(TextView folder, TextView name) {
  Path joined(folder);
  if (!joined.empty() && joined.back() != u'/') joined += u'/';
  joined += name;
  return joined;
}

Path CurrentFolder() {
  std::error_code ec;
  const std::filesystem::path dir = std::filesystem::current_path(ec);
  return ec ? Path() : FromFileName(dir.native());
}

Path Absolute(const Path& path) {
  std::error_code ec;
  const std::filesystem::path p = std::filesystem::absolute(std::filesystem::path(Native(path)), ec);
  return ec ? path : FromFileName(p.lexically_normal().native());
}

// ---- Files ----------------------------------------------------------------

namespace {

FileInfo InfoOf(const struct stat& st) {
  FileInfo info;
  info.id = {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
  info.size = static_cast<uint64_t>(st.st_size);
  info.modified = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  info.regular = S_ISREG(st.st_mode);
  info.folder = S_ISDIR(st.st_mode);
  info.readOnly = (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
  return info;
}

int Fd(const File& file) { return static_cast<int>(file.Native()); }

}  // namespace

bool Stat(const Path& path, FileInfo& info) {
  struct stat st {};
  if (::stat(Native(path).c_str(), &st) != 0) return false;
  info = InfoOf(st);
  return true;
}

bool StatEntry(const Path& path, FileInfo& info) {
  struct stat st {};
  if (::lstat(Native(path).c_str(), &st) != 0) return false;
  info = InfoOf(st);
  return true;
}

bool SameFile(const Path& a, const Path& b) {
  FileInfo x, y;
  return Stat(a, x) && Stat(b, y) && x.id == y.id;
}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    if (IsOpen()) ::close(Fd(*this));
    native_ = other.Release();
  }
  return *this;
}

File::~File() {
  if (IsOpen()) ::close(Fd(*this));
}

File OpenRead(const Path& path) {
  const std::string native = Native(path);
  // Non-blocking, so that a FIFO fails at the regular-file test instead of
  // waiting for a writer.
  File file(::open(native.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!file.IsOpen()) {
    const int err = errno;
    if (err == ENOENT) {
      FileInfo folder;
      const Path parent(FolderOf(path));
      if (!parent.empty() && !(Stat(parent, folder) && folder.folder))
        throw Failure(Fault::kMissingFolder, native + ": no such folder");
    }
    Fail(err, native);
  }
  if (!Info(file).regular) throw Failure(Fault::kNotRegular, native + " is not a regular file");
  return file;
}

File CreateFresh(const Path& path) {
  const std::string native = Native(path);
  for (int attempt = 0;; ++attempt) {
    struct stat st {};
    if (::lstat(native.c_str(), &st) == 0) {
      if (S_ISREG(st.st_mode) && ::faccessat(AT_FDCWD, native.c_str(), W_OK, AT_EACCESS) != 0) Fail(errno, native);
      if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode))
        throw Failure(Fault::kNotRegular, native + " is not a regular file");
      if (::unlink(native.c_str()) != 0 && errno != ENOENT) Fail(errno, native);
    } else if (errno != ENOENT) {
      Fail(errno, native);
    }
    // Exclusive and not through a link: what is created here is ours alone.
    File file(::open(native.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (file.IsOpen()) return file;
    const int err = errno;
    if (err == EEXIST && attempt < 8) continue;  // another process made one meanwhile
    if (err == ENOENT) throw Failure(Fault::kMissingFolder, native + ": no such folder");
    Fail(err, native);
  }
}

FileInfo Info(const File& file) {
  struct stat st {};
  if (::fstat(Fd(file), &st) != 0) Fail(errno, "fstat");
  return InfoOf(st);
}

size_t Read(File& file, void* buffer, size_t n) {
  for (;;) {
    const ssize_t got = ::read(Fd(file), buffer, n);
    if (got >= 0) return static_cast<size_t>(got);
    if (errno != EINTR) Fail(errno, "cannot read");
  }
}

size_t ReadAt(const File& file, uint64_t offset, void* buffer, size_t n) {
  for (;;) {
    const ssize_t got = ::pread(Fd(file), buffer, n, static_cast<off_t>(offset));
    if (got >= 0) return static_cast<size_t>(got);
    if (errno != EINTR) Fail(errno, "cannot read");
  }
}

void WriteAll(File& file, Pieces pieces) {
  size_t next = 0, done = 0;  // the piece being written, and how much of it is
  for (;;) {
    while (next < pieces.size() && done == pieces[next].size()) {
      ++next;
      done = 0;
    }
    if (next == pieces.size()) return;
    std::array<iovec, 64> iov;
    size_t n = 0;
    for (size_t k = next; k < pieces.size() && n < iov.size(); ++k) {
      const size_t from = k == next ? done : 0;
      iov[n++] = {const_cast<uint8_t*>(pieces[k].data() + from), pieces[k].size() - from};
    }
    const ssize_t w = ::writev(Fd(file), iov.data(), static_cast<int>(n));
    if (w < 0 && errno == EINTR) continue;
    // A write that takes nothing has met the end of the space.
    if (w <= 0) Fail(w < 0 ? errno : ENOSPC, "cannot write");
    for (auto left = static_cast<size_t>(w); left;) {
      const size_t step = std::min(left, pieces[next].size() - done);
      left -= step;
      done += step;
      if (done == pieces[next].size()) {
        ++next;
        done = 0;
      }
    }
  }
}

void Flush(File& file) {
  if (::fdatasync(Fd(file)) != 0) Fail(errno, "cannot flush");
}

void Close(File& file) {
  if (!file.IsOpen()) return;
  // The descriptor is gone whatever close answers; only the answer is kept.
  if (::close(static_cast<int>(file.Release())) != 0 && errno != EINTR) Fail(errno, "cannot close");
}

// ---- Folders --------------------------------------------------------------

std::vector<DirEntry> ListFolder(const Path& folder) {
  const std::string native = folder.empty() ? std::string(".") : Native(folder);
  DIR* dir = ::opendir(native.c_str());
  if (!dir) {
    const int err = errno;
    if (err == ENOENT || err == ENOTDIR) throw Failure(Fault::kMissingFolder, native + ": no such folder");
    Fail(err, native);
  }
  std::vector<DirEntry> entries;
  std::string full = native;
  if (full.back() != '/') full += '/';
  const size_t stem = full.size();
  while (dirent* e = ::readdir(dir)) {
    const std::string_view name = e->d_name;
    if (name == "." || name == "..") continue;
    DirEntry entry;
    entry.name = FromFileName(name);
    entry.hidden = name[0] == '.';
    if (e->d_type == DT_REG) {
      entry.regular = true;
    } else if (e->d_type == DT_LNK || e->d_type == DT_UNKNOWN) {
      full.resize(stem);
      full += name;
      struct stat st {};
      entry.regular = ::stat(full.c_str(), &st) == 0 && S_ISREG(st.st_mode);
    }
    entries.push_back(std::move(entry));
  }
  ::closedir(dir);
  return entries;
}

bool FolderLock::TryLock(const Path& folder) {
  Unlock();
  const std::string native = Native(Join(folder.empty() ? Path(u".") : folder, kLockFileName));
  // Read access is enough for flock, and a lock file another user of a
  // shared folder made is readable to all.
  File file(::open(native.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666));
  if (!file.IsOpen()) Fail(errno, native);
  if (!Info(file).regular) throw Failure(Fault::kNotRegular, native + " is not a regular file");
  for (;;) {
    if (::flock(Fd(file), LOCK_EX | LOCK_NB) == 0) break;
    const int err = errno;
    if (err == EINTR) continue;
    if (err == EWOULDBLOCK) return false;
    if (err == ENOLCK || err == EOPNOTSUPP || err == EINVAL) break;  // no locks on this file system
    Fail(err, native);
  }
  file_ = std::move(file);
  return true;
}

void FolderLock::Unlock() { file_ = File(); }

}  // namespace skov::os
