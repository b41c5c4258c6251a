// A scratch directory of the test's own, removed with all it holds.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace dnt::testing {

/// The separator of the system's own paths, which listings and joined paths
/// carry.
#if defined(_WIN32)
inline constexpr char PathSeparator = '\\';
#else
inline constexpr char PathSeparator = '/';
#endif

class TempDir {
 public:
  TempDir() {
    std::random_device random;
    const auto base = std::filesystem::temp_directory_path();
    do {
      m_path = base / ("dnt_test_" + std::to_string(random()));
    } while (!std::filesystem::create_directory(m_path));  // false when the name is taken
  }
  ~TempDir() { std::filesystem::remove_all(m_path); }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return m_path; }
  std::string str() const { return m_path.string(); }

  void Write(const std::string& name, const std::vector<uint8_t>& bytes) const {
    std::ofstream(m_path / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }

 private:
  std::filesystem::path m_path;
};

}  // namespace dnt::testing
