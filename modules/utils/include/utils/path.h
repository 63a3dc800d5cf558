#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vantisol {

// A small file-system path value: name components, a type (Windows or POSIX) and an absolute flag.
class path {
 public:
  enum path_type { windows_path = 0, posix_path = 1 };
#if defined(_WIN32)
  static constexpr path_type native_path = windows_path;
#else
  static constexpr path_type native_path = posix_path;
#endif

  path() = default;
  path(const char* text, path_type type = native_path);
  path(const std::string& text, path_type type = native_path);
  path(const std::wstring& text, path_type type = native_path);

  path operator/(const path& other) const;

  std::string filename() const;
  path parent_path() const;
  path make_absolute() const;
  bool is_directory() const;
  bool create_directory() const;
  bool exists() const;
  uint64_t file_size() const;

  std::string str(path_type type = native_path) const;
  std::wstring wstr(path_type type = native_path) const;

  bool is_absolute() const { return absolute_; }
  path_type type() const { return type_; }
  const std::vector<std::string>& components() const { return components_; }
  bool empty() const { return components_.empty(); }

  bool operator==(const path& other) const {
    return type_ == other.type_ && absolute_ == other.absolute_ && components_ == other.components_;
  }
  bool operator!=(const path& other) const { return !(*this == other); }

 private:
  void set(const std::string& text, path_type type);

  path_type type_ = native_path;
  bool absolute_ = false;
  std::vector<std::string> components_;
};

// UTF-8 <-> UTF-16 (wchar_t holds UTF-16 on Windows and UTF-32 elsewhere; both are handled).
std::wstring Utf8ToWide(const std::string& text);
std::string WideToUtf8(const std::wstring& text);

}  // namespace vantisol
