// The user's documents folder, the process, the terminal and code pages on POSIX systems.
#include <fcntl.h>
#include <iconv.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <sstream>

#include "os/os_posix.h"

namespace skov::os {

namespace {

std::string WithoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// Only a regular file is read, and only its start: a FIFO or a device in its
// place would block the start or never end.
bool ReadRegularFile(const std::string& path, std::string& content) {
  constexpr size_t kEnough = size_t{1} << 16;  // the file holds a few lines
  try {
    File file = OpenRead(FromFileName(path));
    content.clear();
    char chunk[4096];
    while (content.size() < kEnough) {
      const size_t n = Read(file, chunk, sizeof chunk);
      if (n == 0) break;
      content.append(chunk, n);
    }
    return true;
  } catch (const Failure&) {
    return false;
  }
}

}  // namespace

namespace posix {

std::string DocumentsDirFromUserDirs(const std::string& content, const std::string& home) {
  std::istringstream in(content);
  std::string line;
  std::string found;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line[start] == '#') continue;
    const std::string key = "XDG_DOCUMENTS_DIR=";
    if (line.compare(start, key.size(), key) != 0) continue;
    std::string value = line.substr(start + key.size());
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.pop_back();
    if (value.size() < 2 || value.front() != '"' || value.back() != '"') continue;
    value = value.substr(1, value.size() - 2);
    // The format allows only "$HOME/..." or an absolute path, with \" and \\ escapes.
    std::string unescaped;
    for (size_t i = 0; i < value.size(); ++i) {
      if (value[i] == '\\' && i + 1 < value.size()) ++i;
      unescaped += value[i];
    }
    if (unescaped == "$HOME") {
      found = home;
    } else if (unescaped.rfind("$HOME/", 0) == 0) {
      if (home.empty()) continue;
      found = home + unescaped.substr(5);
    } else if (!unescaped.empty() && unescaped[0] == '/') {
      found = unescaped;
    } else {
      continue;
    }
  }
  return found.empty() ? found : WithoutTrailingSlash(found);
}

}  // namespace posix

const char* GetEnv(const char* name) { return std::getenv(name); }

Path DocumentsFolder(const EnvLookup& env) {
  const char* homeVar = env("HOME");
  const std::string home = homeVar ? WithoutTrailingSlash(homeVar) : std::string();
  const char* configVar = env("XDG_CONFIG_HOME");
  std::string config = configVar && configVar[0] == '/' ? std::string(configVar) : std::string();
  if (config.empty() && !home.empty()) config = home + "/.config";
  if (!config.empty()) {
    std::string content;
    if (ReadRegularFile(WithoutTrailingSlash(config) + "/user-dirs.dirs", content)) {
      const std::string dir = posix::DocumentsDirFromUserDirs(content, home);
      if (!dir.empty()) return FromFileName(dir);
    }
  }
  return home.empty() ? Path() : FromFileName(home + "/Documents");
}

void PrepareProcess() {
  // Past `ulimit -f` a write then fails with EFBIG, reported as a full disk,
  // instead of the signal ending the process without a word.
  ::signal(SIGXFSZ, SIG_IGN);
}

bool IsTerminal(int stream) { return ::isatty(stream) != 0; }

namespace {

constexpr uint16_t kMacRoman = 10000;

std::string IconvName(uint16_t id) { return id == kMacRoman ? "MACINTOSH" : "CP" + std::to_string(id); }

// The UTF-16 unit `in` decodes to, or 0 when it is no whole character.
char16_t Decode(iconv_t cd, const char* in, size_t n) {
  char16_t unit[2] = {0, 0};
  char* src = const_cast<char*>(in);
  char* dst = reinterpret_cast<char*>(unit);
  size_t left = n, room = sizeof unit;
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  if (iconv(cd, &src, &left, &dst, &room) == size_t(-1) || left != 0 || room != sizeof unit - 2) return 0;
  return unit[0];
}

}  // namespace

bool CodePageBytes(uint16_t id, std::vector<uint16_t>& table) {
  iconv_t cd = iconv_open("UTF-16LE", IconvName(id).c_str());
  if (cd == iconv_t(-1)) return false;
  table.assign(0x10000, 0);
  // Decoding every byte and byte pair gives the characters the code page
  // holds; the first spelling of a character wins.
  for (unsigned lead = 0x80; lead <= 0xFF; ++lead) {
    const char one[1] = {static_cast<char>(lead)};
    if (char16_t u = Decode(cd, one, 1)) {
      if (table[u] == 0) table[u] = static_cast<uint16_t>(lead);
      continue;
    }
    for (unsigned trail = 0x40; trail <= 0xFF; ++trail) {
      const char two[2] = {static_cast<char>(lead), static_cast<char>(trail)};
      const char16_t u = Decode(cd, two, 2);
      if (u && table[u] == 0) table[u] = static_cast<uint16_t>(lead << 8 | trail);
    }
  }
  iconv_close(cd);
  return true;
}

}  // namespace skov::os
