#include "utils/path.h"

#include <cctype>
#include <stdexcept>

#include "platform.h"

namespace vantisol {

namespace {

void AppendUtf8(char32_t code, std::string* out) {
  if (code < 0x80) {
    out->push_back(static_cast<char>(code));
  } else if (code < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (code >> 6)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else if (code < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (code >> 12)));
    out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (code >> 18)));
    out->push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

void AppendWide(char32_t code, std::wstring* out) {
  if constexpr (sizeof(wchar_t) == 2) {
    if (code >= 0x10000) {
      code -= 0x10000;
      out->push_back(static_cast<wchar_t>(0xD800 + (code >> 10)));
      out->push_back(static_cast<wchar_t>(0xDC00 + (code & 0x3FF)));
      return;
    }
  }
  out->push_back(static_cast<wchar_t>(code));
}

constexpr char32_t kReplacement = 0xFFFD;

}  // namespace

std::wstring Utf8ToWide(const std::string& text) {
  std::wstring out;
  out.reserve(text.size());
  const size_t size = text.size();
  for (size_t i = 0; i < size;) {
    const auto lead = static_cast<unsigned char>(text[i]);
    if (lead < 0x80) {
      out.push_back(static_cast<wchar_t>(lead));
      ++i;
      continue;
    }
    // The lead byte fixes the length and the range of the second byte, which shuts out overlong
    // forms, surrogates and values above U+10FFFF.
    int extra = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
      extra = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      extra = 2;
      if (lead == 0xE0) low = 0xA0;
      if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      extra = 3;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;
    }
    char32_t code = lead & (0x3F >> extra);
    size_t used = 1;
    for (int k = 0; k < extra && i + used < size; ++k, ++used) {
      const auto next = static_cast<unsigned char>(text[i + used]);
      if (next < low || next > high) break;
      code = (code << 6) | (next & 0x3F);
      low = 0x80;
      high = 0xBF;
    }
    if (extra == 0 || used != static_cast<size_t>(extra) + 1) {
      // One replacement for the longest start of a sequence that could have been valid.
      AppendWide(kReplacement, &out);
    } else {
      AppendWide(code, &out);
    }
    i += used;
  }
  return out;
}

std::string WideToUtf8(const std::wstring& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t code = static_cast<char32_t>(text[i]);
    if constexpr (sizeof(wchar_t) == 2) {
      if (code >= 0xD800 && code < 0xDC00 && i + 1 < text.size()) {
        const auto low = static_cast<char32_t>(text[i + 1]);
        if (low >= 0xDC00 && low < 0xE000) {
          code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
          ++i;
        }
      }
    }
    if ((code >= 0xD800 && code < 0xE000) || code > 0x10FFFF) code = kReplacement;
    AppendUtf8(code, &out);
  }
  return out;
}

path::path(const char* text, path_type type) { set(text, type); }
path::path(const std::string& text, path_type type) { set(text, type); }
path::path(const std::wstring& text, path_type type) { set(WideToUtf8(text), type); }

void path::set(const std::string& text, path_type type) {
  type_ = type;
  components_.clear();
  if (type == windows_path) {
    absolute_ =
        text.size() >= 2 && std::isalpha(static_cast<unsigned char>(text[0])) && text[1] == ':';
  } else {
    absolute_ = !text.empty() && text[0] == '/';
  }
  std::string component;
  for (const char c : text) {
    const bool separator = c == '/' || (type == windows_path && c == '\\');
    if (!separator) {
      component.push_back(c);
    } else if (!component.empty()) {
      components_.push_back(std::move(component));
      component.clear();
    }
  }
  if (!component.empty()) components_.push_back(std::move(component));
}

path path::operator/(const path& other) const {
  if (other.absolute_) {
    throw std::runtime_error("path::operator/(): expected a relative path!");
  }
  if (type_ != other.type_) {
    throw std::runtime_error("path::operator/(): expected a path of the same type!");
  }
  path result(*this);
  result.components_.insert(result.components_.end(), other.components_.begin(),
                            other.components_.end());
  return result;
}

std::string path::filename() const {
  return components_.empty() ? std::string() : components_.back();
}

path path::parent_path() const {
  path result(*this);
  if (!result.components_.empty()) {
    result.components_.pop_back();
  } else if (!absolute_) {
    result.components_.push_back("..");
  }
  return result;
}

path path::make_absolute() const {
  path full(platform::FullPath(str()), native_path);
  // Fold "." and ".." as the system's full-path query does.
  std::vector<std::string> folded;
  for (auto& component : full.components_) {
    if (component == ".") continue;
    if (component == ".." && !folded.empty() && folded.back() != "..") {
      if (!(full.type_ == windows_path && folded.size() == 1)) folded.pop_back();
      continue;
    }
    folded.push_back(std::move(component));
  }
  full.components_ = std::move(folded);
  return full;
}

bool path::is_directory() const { return platform::IsDirectory(str()); }

bool path::create_directory() const { return platform::CreateDirectories(make_absolute().str()); }

bool path::exists() const { return platform::Exists(str()); }

uint64_t path::file_size() const {
  uint64_t size = 0;
  if (!platform::FileSize(str(), &size)) {
    throw std::runtime_error("path::file_size(): cannot stat file \"" + str() + "\"!");
  }
  return size;
}

std::string path::str(path_type type) const {
  const char separator = type == windows_path ? '\\' : '/';
  std::string out;
  if (absolute_ && type_ == posix_path) out.push_back(separator);
  for (size_t i = 0; i < components_.size(); ++i) {
    if (i > 0) out.push_back(separator);
    out += components_[i];
  }
  return out;
}

std::wstring path::wstr(path_type type) const { return Utf8ToWide(str(type)); }

}  // namespace vantisol
