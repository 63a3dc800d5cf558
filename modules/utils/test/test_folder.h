#pragma once

#include <filesystem>
#include <random>
#include <string>

namespace vantisol::test {

// A fresh folder under the system's temporary folder, removed with everything in it.
class TemporaryFolder {
 public:
  TemporaryFolder() {
    std::random_device seed;
    std::mt19937_64 random(seed());
    const auto base = std::filesystem::temp_directory_path();
    std::filesystem::path candidate;
    do {
      candidate = base / ("vantisol-" + std::to_string(random() % 1000000000));
    } while (!std::filesystem::create_directory(candidate));
    path_ = candidate.string();
  }
  ~TemporaryFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TemporaryFolder(const TemporaryFolder&) = delete;
  TemporaryFolder& operator=(const TemporaryFolder&) = delete;

  const std::string& str() const { return path_; }

 private:
  std::string path_;
};

}  // namespace vantisol::test
