// A scratch folder removed after the test, and small file helpers.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace skov::testing {

// Paths in these tests are UTF-8 strings (on Linux any bytes); a path
// object made from one, and the string of a path object.
inline std::filesystem::path FsPath(const std::string& path) {
  return std::filesystem::path(std::u8string(path.begin(), path.end()));
}
inline std::string PathString(const std::filesystem::path& path) {
  const std::u8string bytes = path.u8string();
  return std::string(bytes.begin(), bytes.end());
}

class TempDir {
 public:
  // A new folder of its own, named as mkdtemp would (create_directory
  // tells whether it was made).
  TempDir() {
    static constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device random;
    std::error_code ec;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
      std::string name = "skov-test-";
      for (int i = 0; i < kSuffixLength; ++i) name += kLetters[random() % (sizeof kLetters - 1)];
      path_ = std::filesystem::temp_directory_path() / name;
      if (std::filesystem::create_directory(path_, ec)) return;
    }
    std::abort();
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::string str() const { return PathString(path_); }
  // With the system's separators throughout ("a/b" names a subfolder).
  std::string operator/(const std::string& name) const { return PathString((path_ / FsPath(name)).make_preferred()); }

 private:
  static constexpr int kAttempts = 100;
  static constexpr int kSuffixLength = 6;
  std::filesystem::path path_;
};

inline void WriteFile(const std::string& path, const std::string& bytes) {
  std::filesystem::create_directories(FsPath(path).parent_path());
  std::ofstream(FsPath(path), std::ios::binary) << bytes;
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(FsPath(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  const std::string bytes = ReadFile(path);
  return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

}  // namespace skov::testing
