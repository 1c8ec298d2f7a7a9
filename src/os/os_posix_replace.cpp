// The safe replace of a file on POSIX systems: a locked temporary file beside
// the target, unnamed while written where the file system allows.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <random>

#include "os/os_posix.h"

namespace skov::os {

const char16_t* const kTempPrefix = u".skov-import-";

using posix::Fail;
using posix::Native;

namespace {

// A short name, so that a target name of any allowed length fits beside it.
constexpr char kPrefix[] = ".skov-import-";
constexpr size_t kPrefixLength = sizeof kPrefix - 1;
constexpr size_t kSuffixLength = 6;
constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
constexpr int kNameAttempts = 100;

int Fd(const File& file) { return static_cast<int>(file.Native()); }

std::string FolderNative(TextView target) {
  const TextView folder = FolderOf(target);
  return folder.empty() ? std::string(".") : Native(folder);
}

// Each thread draws from its own generator: saves may run side by side.
std::string TempName(const std::string& folder) {
  thread_local std::mt19937_64 random(std::random_device{}() ^
                                      static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
  std::string name = folder + "/" + kPrefix;
  for (size_t i = 0; i < kSuffixLength; ++i) name += kLetters[random() % (sizeof kLetters - 1)];
  return name;
}

bool OurName(std::string_view name) {
  if (name.size() != kPrefixLength + kSuffixLength || name.substr(0, kPrefixLength) != kPrefix) return false;
  return std::all_of(name.begin() + kPrefixLength, name.end(),
                     [](char c) { return std::memchr(kLetters, c, sizeof kLetters - 1) != nullptr; });
}

bool SameInode(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// The bytes handed to the file, and the disk set to work on them, so that
// the flush finds most of it done.
void Fill(File& file, Pieces bytes) {
  WriteAll(file, bytes);
  ::sync_file_range(Fd(file), 0, 0, SYNC_FILE_RANGE_WRITE);  // only a hint: the flush is fdatasync's
}

// Filled, locked and then named; false when the file system cannot create
// unnamed files or name them (no O_TMPFILE, no /proc).
bool WriteUnnamed(const std::string& folder, Pieces bytes, Replacement& r) {
  File file(::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666));
  if (!file.IsOpen()) {
    if (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL) return false;
    Fail(errno, "cannot create a file in " + folder);
  }
  ::flock(Fd(file), LOCK_EX);
  Fill(file, bytes);
  const std::string self = "/proc/self/fd/" + std::to_string(Fd(file));
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    const std::string temp = TempName(folder);
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, temp.c_str(), AT_SYMLINK_FOLLOW) == 0) {
      r.temp = FromFileName(temp);
      r.file = std::move(file);
      return true;
    }
    if (errno != EEXIST) break;
  }
  return false;
}

// The fallback: a named file, locked at once, then filled.
void WriteNamed(const std::string& folder, Pieces bytes, Replacement& r) {
  std::string temp;
  File file;
  for (int attempt = 0;; ++attempt) {
    temp = TempName(folder);
    file = File(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (!file.IsOpen()) {
      if (errno == EEXIST && attempt < kNameAttempts) continue;
      Fail(errno, "cannot create a file in " + folder);
    }
    ::flock(Fd(file), LOCK_EX);
    // Empty until filled, so a concurrent RemoveLeftovers may have taken it
    // for a leftover before the lock: then it is gone, and another is made.
    struct stat held {}, now {};
    if (::fstat(Fd(file), &held) == 0 && ::lstat(temp.c_str(), &now) == 0 && SameInode(held, now)) break;
  }
  try {
    Fill(file, bytes);
  } catch (...) {
    ::unlink(temp.c_str());
    throw;
  }
  r.temp = FromFileName(temp);
  r.file = std::move(file);
}

// Removes a file of ours unless a save holds it or it shows another's content.
void RemoveIfLeft(const std::string& path, std::span<const uint8_t> signature) {
  File file(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat held {}, now {};
  if (!file.IsOpen() || ::fstat(Fd(file), &held) != 0 || !S_ISREG(held.st_mode)) return;
  if (::flock(Fd(file), LOCK_EX | LOCK_NB) != 0) return;  // a save in progress
  if (held.st_size != 0) {
    std::vector<uint8_t> start(signature.size());
    if (signature.empty() || static_cast<size_t>(held.st_size) < signature.size()) return;
    try {
      if (ReadAt(file, 0, start.data(), start.size()) != start.size()) return;
    } catch (const Failure&) {
      return;
    }
    if (!std::equal(start.begin(), start.end(), signature.begin())) return;
  }
  // Renamed into place meanwhile: the name is gone or another file's.
  if (::lstat(path.c_str(), &now) != 0 || !SameInode(held, now)) return;
  ::unlink(path.c_str());
}

}  // namespace

Replacement WriteReplacement(const Path& target, Pieces bytes) {
  Replacement r;
  r.target = target;
  const std::string folder = FolderNative(target);
  if (!WriteUnnamed(folder, bytes, r)) WriteNamed(folder, bytes, r);
  return r;
}

void FlushReplacement(Replacement& r) {
  if (r.flushed) return;
  if (::fdatasync(Fd(r.file)) != 0) Fail(errno, "cannot flush " + Native(r.temp));
  r.flushed = true;
}

void CommitReplacement(Replacement& r) {
  const std::string target = Native(r.target);
  if (::rename(Native(r.temp).c_str(), target.c_str()) != 0) Fail(errno, "cannot replace " + target);
  r.temp.clear();
  r.file = File();  // the data is on disk since the flush; only now the lock goes
}

void DropReplacement(Replacement& r) noexcept {
  if (!r.temp.empty()) ::unlink(Native(r.temp).c_str());
  r.temp.clear();
  r.file = File();
}

void FlushFolder(const Path& folder) {
  const std::string native = folder.empty() ? std::string(".") : Native(folder);
  const int dir = ::open(native.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
}

void RemoveLeftovers(const Path& folder, std::span<const uint8_t> signature) {
  const std::string native = folder.empty() ? std::string(".") : Native(folder);
  DIR* dir = ::opendir(native.c_str());
  if (!dir) return;
  std::vector<std::string> ours;
  while (dirent* e = ::readdir(dir))
    if (OurName(e->d_name)) ours.push_back(native + "/" + e->d_name);
  ::closedir(dir);
  for (const std::string& path : ours) RemoveIfLeft(path, signature);
}

}  // namespace skov::os
