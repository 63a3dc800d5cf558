#pragma once

#include <iosfwd>
#include <optional>
#include <string>

namespace vantisol {

// The machine-wide registry on this platform: a text store, one value a line,
//   Key\Path\ValueName=text
// keys compared without regard to case, '#' starting a comment. VANTISOL_REGISTRY names the
// store; without it the store that the build wrote (which registers the built runtime) is used.
class Registry {
 public:
  explicit Registry(std::string store);
  static Registry Machine();

  // A string value, as a 520-byte REG_SZ read would give it: missing when absent, empty or too
  // long for the buffer.
  std::optional<std::string> ReadString(const std::string& key, const std::string& value) const;
  // The same lookup over a store's text.
  static std::optional<std::string> ReadStringFrom(std::istream& in, const std::string& key,
                                                   const std::string& value);
  const std::string& store() const { return store_; }

 private:
  std::string store_;
};

}  // namespace vantisol
