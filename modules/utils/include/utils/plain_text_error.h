#pragma once

#include <stdexcept>

namespace vantisol {

// An error whose text is plain: it quotes words from outside the program (a file path, a library's
// reason), so a display that shows rich text must escape it whole. Terminals print it as it is.
class PlainTextError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace vantisol
