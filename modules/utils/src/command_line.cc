#include "utils/command_line.h"

#include <charconv>
#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <system_error>

namespace vantisol {
namespace {

template <typename Number>
bool ReadWhole(const std::string& text, Number* value) {
  const char* end = text.data() + text.size();
  const auto [next, error] = std::from_chars(text.data(), end, *value);
  return error == std::errc() && next == end;
}

template <typename Number>
std::string Range(Number min, Number max) {
  std::ostringstream text;
  text << "from " << min << " to " << max;
  return text.str();
}

[[noreturn]] void Refuse(const std::string& option, const std::string& text,
                         const std::string& wanted) {
  throw std::invalid_argument(option + " wants " + wanted + ", not \"" + text + "\"");
}

}  // namespace

int WholeNumberOption(const std::string& option, const std::string& text, int min, int max) {
  int value = 0;
  if (!ReadWhole(text, &value) || value < min || value > max) {
    Refuse(option, text, "a whole number " + Range(min, max));
  }
  return value;
}

double NumberOption(const std::string& option, const std::string& text, double min, double max) {
  double value = 0;
  // Written so that "nan" is refused too.
  if (!ReadWhole(text, &value) || !(value >= min && value <= max)) {
    Refuse(option, text, "a number " + Range(min, max));
  }
  return value;
}

Size SizeOption(const std::string& option, const std::string& text, int min, int max) {
  const size_t x = text.find('x');
  Size size;
  if (x == std::string::npos || !ReadWhole(text.substr(0, x), &size.width) ||
      !ReadWhole(text.substr(x + 1), &size.height) || size.width < min || size.width > max ||
      size.height < min || size.height > max) {
    Refuse(option, text, "WxH with whole numbers " + Range(min, max));
  }
  return size;
}

std::string MakeOutputFolder(const std::string& folder) {
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  return error ? "the folder " + folder + " cannot be made: " + error.message() : "";
}

}  // namespace vantisol
