// Numbered text files in Windows-1252 with CR LF lines, as the runtime keeps them.
#include "host/runtime_files.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

#include "strings/runtime_error.h"

namespace skov {

struct RuntimeFiles::File {
  OpenMode mode = OpenMode::Input;
  std::string path;  // canonical, for the already-open test
  std::string data;  // input: the whole file
  size_t pos = 0;
  bool lfLines = false;  // no CR anywhere: lines end at LF
  FILE* out = nullptr;
  std::vector<char> buffer;
};

namespace {

constexpr int kMaxNumber = 511;

std::string Canonical(const std::string& path) {
  std::error_code ec;
  auto p = std::filesystem::weakly_canonical(std::filesystem::path(path), ec);
  return ec ? path : p.string();
}

// The runtime's number for a failed open or stat.
int OpenErrorNumber(int err) {
  switch (err) {
    case ENOENT: return 76;
    case ENOTDIR: return 76;
    case ENAMETOOLONG: return 52;
    default: return 75;
  }
}

}  // namespace

RuntimeFiles::RuntimeFiles() = default;
RuntimeFiles::~RuntimeFiles() { CloseAll(); }

int RuntimeFiles::FreeFile() const {
  for (int n = 1; n <= kMaxNumber; ++n)
    if (!files_.count(n)) return n;
  return 0;
}

bool RuntimeFiles::IsOpen(int number) const { return files_.count(number) != 0; }

bool RuntimeFiles::HoldsOpen(const Text& path) const {
  const std::string canonical = Canonical(ToUtf8(path));
  for (const auto& [n, f] : files_)
    if (f->path == canonical) return true;
  return false;
}

RuntimeFiles::File& RuntimeFiles::Get(int number) const {
  auto it = files_.find(number);
  if (it == files_.end()) Raise(52, "file number " + std::to_string(number) + " is not open");
  return *it->second;
}

void RuntimeFiles::Open(const Text& path, OpenMode mode, int number, bool /*shared*/) {
  if (number < 1 || number > kMaxNumber) Raise(52, "bad file number");
  if (files_.count(number)) Raise(55, "file number in use");
  if (path.empty() || path.find(u'\0') != Text::npos) Raise(52, "bad file name");
  const std::string native = ToUtf8(path);
  const std::string canonical = Canonical(native);
  for (const auto& [n, f] : files_) {
    if (f->path == canonical && (f->mode == OpenMode::Output || mode == OpenMode::Output))
      Raise(55, native);
  }
  auto file = std::make_unique<File>();
  file->mode = mode;
  file->path = canonical;
  if (mode == OpenMode::Input) {
    struct stat st {};
    if (::stat(native.c_str(), &st) != 0) {
      int err = errno;
      if (err == ENOENT) {
        std::error_code ec;
        auto parent = std::filesystem::path(native).parent_path();
        bool folder = parent.empty() || std::filesystem::is_directory(parent, ec);
        Raise(folder ? 53 : 76, native);
      }
      Raise(OpenErrorNumber(err), native);
    }
    if (S_ISDIR(st.st_mode)) Raise(75, native);
    FILE* in = std::fopen(native.c_str(), "rb");
    if (!in) Raise(OpenErrorNumber(errno), native);
    file->data.resize(static_cast<size_t>(st.st_size));
    size_t got = std::fread(file->data.data(), 1, file->data.size(), in);
    // A file that grows or shrinks meanwhile is read as far as it goes.
    file->data.resize(got);
    for (char chunk[4096]; (got = std::fread(chunk, 1, sizeof chunk, in)) > 0;) file->data.append(chunk, got);
    const bool failed = std::ferror(in);
    std::fclose(in);
    if (failed) Raise(75, native);
    file->lfLines = file->data.find('\r') == std::string::npos;
  } else {
    FILE* f = std::fopen(native.c_str(), "wb");
    if (!f) Raise(OpenErrorNumber(errno), native);
    file->buffer.resize(1 << 16);
    std::setvbuf(f, file->buffer.data(), _IOFBF, file->buffer.size());
    file->out = f;
  }
  files_[number] = std::move(file);
}

Text RuntimeFiles::LineInput(int number) {
  File& f = Get(number);
  if (f.mode != OpenMode::Input) Raise(54, "not open for input");
  if (f.pos >= f.data.size()) Raise(62);
  const char end = f.lfLines ? '\n' : '\r';
  size_t stop = f.data.find(end, f.pos);
  if (stop == std::string::npos) stop = f.data.size();
  Text line = FromCp1252(std::string_view(f.data).substr(f.pos, stop - f.pos));
  f.pos = stop;
  if (f.pos < f.data.size()) {
    ++f.pos;
    if (!f.lfLines && f.pos < f.data.size() && f.data[f.pos] == '\n') ++f.pos;
  }
  return line;
}

bool RuntimeFiles::Eof(int number) const {
  const File& f = Get(number);
  return f.mode != OpenMode::Input || f.pos >= f.data.size();
}

void RuntimeFiles::PrintZones(int number, std::initializer_list<TextView> items) {
  File& f = Get(number);
  if (f.mode != OpenMode::Output) Raise(54, "not open for output");
  // One byte per character in Windows-1252, so bytes count columns.
  line_.clear();
  bool first = true;
  for (TextView item : items) {
    if (!first) line_.append(14 - line_.size() % 14, ' ');
    first = false;
    AppendCp1252(line_, item);
  }
  line_ += "\r\n";
  std::fwrite(line_.data(), 1, line_.size(), f.out);
}

void RuntimeFiles::Flush(int number) {
  auto it = files_.find(number);
  if (it != files_.end() && it->second->out) std::fflush(it->second->out);
}

void RuntimeFiles::Close(int number) {
  auto it = files_.find(number);
  if (it == files_.end()) return;
  if (it->second->out) std::fclose(it->second->out);
  files_.erase(it);
}

void RuntimeFiles::CloseAll() {
  while (!files_.empty()) Close(files_.begin()->first);
}

std::vector<Text> RuntimeFiles::ListFiles(const Text& folder) {
  std::vector<Text> names;
  const std::string native = folder.empty() ? std::string(".") : ToUtf8(folder);
  DIR* dir = ::opendir(native.c_str());
  if (!dir) return names;
  while (dirent* e = ::readdir(dir)) {
    std::string name = e->d_name;
    if (name.empty() || name[0] == '.') continue;  // hidden on Linux
    std::string full = native;
    if (full.back() != '/') full += '/';
    full += name;
    struct stat st {};
    if (::stat(full.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    names.push_back(FromUtf8(name));
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
