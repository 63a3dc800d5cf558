#pragma once

#include <limits>
#include <string>

#include "utils/camera_image.h"

namespace vantisol {

// Values of command-line options, read whole: the text must be the value and nothing else (no
// sign "+", no spaces, no units), within its range. A refused value throws std::invalid_argument
// whose text names the option, the value and what the option wants.

// The ranges the tools give their options.
constexpr int kLargestOption = std::numeric_limits<int>::max();
constexpr int kLargestPictureSide = 8192;
constexpr int kWeekInSeconds = 7 * 24 * 3600;

// Decimal digits with "-" for a negative number.
int WholeNumberOption(const std::string& option, const std::string& text, int min, int max);
// Such as "2.5".
double NumberOption(const std::string& option, const std::string& text, double min, double max);
// "WxH", the width and the height each a whole number in [min, max].
Size SizeOption(const std::string& option, const std::string& text, int min, int max);

// Makes an output folder named on the command line, with its parents, before anything runs: empty
// when the folder is there, else the refusal "the folder <folder> cannot be made: <reason>".
std::string MakeOutputFolder(const std::string& folder);

}  // namespace vantisol
