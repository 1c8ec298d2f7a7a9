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

class TempDir {
 public:
  // A new folder of its own (create_directory tells whether it was made).
  TempDir() {
    std::random_device random;
    std::error_code ec;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
      path_ = std::filesystem::temp_directory_path() / ("skov-test-" + std::to_string(random()));
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
  std::string str() const { return path_.string(); }
  // With the system's separators throughout ("a/b" names a subfolder).
  std::string operator/(const std::string& name) const { return (path_ / name).make_preferred().string(); }

 private:
  static constexpr int kAttempts = 100;
  std::filesystem::path path_;
};

inline void WriteFile(const std::string& path, const std::string& bytes) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  const std::string bytes = ReadFile(path);
  return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

}  // namespace skov::testing
