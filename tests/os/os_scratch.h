// A scratch folder for the OS interface's tests, made without the interface.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <string_view>

#include "os/os.h"

namespace skov::testing {

namespace fs = std::filesystem;

class Scratch {
 public:
  Scratch() {
    std::random_device random;
    path_ = fs::temp_directory_path() / ("skov-os-" + std::to_string(random()) + std::to_string(random()));
    fs::create_directories(path_);
  }
  ~Scratch() {
    std::error_code ec;
    try {
      for (const auto& e : fs::recursive_directory_iterator(path_, ec))
        fs::permissions(e.path(), fs::perms::owner_all, fs::perm_options::add, ec);
    } catch (const fs::filesystem_error&) {
      // What cannot be walked stays for the system's temp clean-up.
    }
    fs::remove_all(path_, ec);
  }
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;

  const fs::path& path() const { return path_; }
  // A name inside, as the interface takes paths.
  os::Path operator/(const Text& name) const { return os::Join(Folder(), name); }
  os::Path Folder() const { return path_.u16string(); }

 private:
  fs::path path_;
};

inline fs::path FsPath(const os::Path& path) { return fs::path(path); }

inline void Put(const os::Path& path, const std::string& bytes) {
  std::ofstream(FsPath(path), std::ios::binary) << bytes;
}

inline std::string Get(const os::Path& path) {
  std::ifstream in(FsPath(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::span<const uint8_t> Bytes(std::string_view s) {
  return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

// The fault a call throws, -1 when it throws nothing.
template <typename F>
int FaultOf(F&& f) {
  try {
    f();
  } catch (const os::Failure& e) {
    return static_cast<int>(e.fault());
  }
  return -1;
}

}  // namespace skov::testing
