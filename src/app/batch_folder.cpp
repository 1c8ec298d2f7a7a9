// The documents folder as the desktop's user-dirs.dirs names it.
#include "app/batch_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <sstream>

namespace skov {
namespace {

// Only a regular file is read, and only its start: a FIFO or a device in its
// place would block the start or never end.
bool ReadRegularFile(const std::string& path, std::string& content) {
  constexpr size_t kEnough = size_t{1} << 16;  // the file holds a few lines
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  content.clear();
  char chunk[4096];
  while (ok && content.size() < kEnough) {
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    content.append(chunk, static_cast<size_t>(n));
  }
  ::close(fd);
  return ok;
}

}  // namespace

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

std::string DocumentsFolder(const EnvLookup& env) {
  const char* homeVar = env("HOME");
  const std::string home = homeVar ? WithoutTrailingSlash(homeVar) : std::string();
  const char* configVar = env("XDG_CONFIG_HOME");
  std::string config = configVar && configVar[0] == '/' ? std::string(configVar) : std::string();
  if (config.empty() && !home.empty()) config = home + "/.config";
  if (!config.empty()) {
    std::string content;
    if (ReadRegularFile(WithoutTrailingSlash(config) + "/user-dirs.dirs", content)) {
      std::string dir = DocumentsDirFromUserDirs(content, home);
      if (!dir.empty()) return dir;
    }
  }
  return home.empty() ? std::string() : home + "/Documents";
}

std::string WithoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

}  // namespace skov
