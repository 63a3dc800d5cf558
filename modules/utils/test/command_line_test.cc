#include "utils/command_line.h"

#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>
#include <string>

namespace vantisol {
namespace {

enum class Kind { kWhole, kNumber, kSize };

// The value read, as text, or the refusal's text.
std::string Read(Kind kind, const std::string& text) {
  std::ostringstream out;
  try {
    if (kind == Kind::kWhole) out << WholeNumberOption("--amount", text, -1, 30);
    if (kind == Kind::kNumber) out << NumberOption("--seconds", text, 0, 60);
    if (kind == Kind::kSize) {
      const Size size = SizeOption("--size", text, 1, 8192);
      out << size.width << "x" << size.height;
    }
  } catch (const std::invalid_argument& refusal) {
    return refusal.what();
  }
  return out.str();
}

TEST(CommandLineTest, OptionValuesAreReadWholeAndInRange) {
  const std::string whole = "--amount wants a whole number from -1 to 30, not ";
  const std::string number = "--seconds wants a number from 0 to 60, not ";
  const std::string size = "--size wants WxH with whole numbers from 1 to 8192, not ";
  const struct {
    Kind kind;
    const char* text;
    std::string read;
  } cases[] = {
      {Kind::kWhole, "30", "30"},
      {Kind::kWhole, "-1", "-1"},
      {Kind::kWhole, "007", "7"},
      {Kind::kWhole, "abc", whole + "\"abc\""},
      {Kind::kWhole, "12x", whole + "\"12x\""},
      {Kind::kWhole, "2.5", whole + "\"2.5\""},
      {Kind::kWhole, "", whole + "\"\""},
      {Kind::kWhole, " 5", whole + "\" 5\""},
      {Kind::kWhole, "+5", whole + "\"+5\""},
      {Kind::kWhole, "31", whole + "\"31\""},
      {Kind::kWhole, "-2", whole + "\"-2\""},
      {Kind::kWhole, "99999999999", whole + "\"99999999999\""},
      {Kind::kNumber, "2.5", "2.5"},
      {Kind::kNumber, "0", "0"},
      {Kind::kNumber, "60", "60"},
      {Kind::kNumber, "abc", number + "\"abc\""},
      {Kind::kNumber, "2.5s", number + "\"2.5s\""},
      {Kind::kNumber, "-0.5", number + "\"-0.5\""},
      {Kind::kNumber, "60.5", number + "\"60.5\""},
      {Kind::kNumber, "nan", number + "\"nan\""},
      {Kind::kNumber, "inf", number + "\"inf\""},
      {Kind::kSize, "640x480", "640x480"},
      {Kind::kSize, "8192x1", "8192x1"},
      {Kind::kSize, "640x480junk", size + "\"640x480junk\""},
      {Kind::kSize, "640x480x2", size + "\"640x480x2\""},
      {Kind::kSize, "640by480", size + "\"640by480\""},
      {Kind::kSize, "640x", size + "\"640x\""},
      {Kind::kSize, "x480", size + "\"x480\""},
      {Kind::kSize, "0x480", size + "\"0x480\""},
      {Kind::kSize, "640x-480", size + "\"640x-480\""},
      {Kind::kSize, "8193x480", size + "\"8193x480\""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Read(c.kind, c.text), c.read) << c.text;
  }
}

}  // namespace
}  // namespace vantisol
