#include "camera/registry.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <istream>

namespace vantisol {
namespace {

// A REG_SZ read into 520 bytes holds at most 259 wide characters and the terminator.
constexpr size_t kValueCapacity = 520 / sizeof(char16_t) - 1;

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return char(std::tolower(c)); });
  return text;
}

}  // namespace

Registry::Registry(std::string store) : store_(std::move(store)) {}

Registry Registry::Machine() {
  const char* store = std::getenv("VANTISOL_REGISTRY");
  return Registry(store && *store ? store : VANTISOL_REGISTRY_STORE);
}

std::optional<std::string> Registry::ReadString(const std::string& key,
                                                const std::string& value) const {
  std::ifstream in(store_);
  return ReadStringFrom(in, key, value);
}

std::optional<std::string> Registry::ReadStringFrom(std::istream& in, const std::string& key,
                                                    const std::string& value) {
  const std::string wanted = Lower(key + "\\" + value);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    const size_t equals = line.find('=');
    if (equals == std::string::npos || Lower(line.substr(0, equals)) != wanted) continue;
    std::string text = line.substr(equals + 1);
    if (text.empty() || text.size() > kValueCapacity) return std::nullopt;
    return text;
  }
  return std::nullopt;
}

}  // namespace vantisol
