#include <gtest/gtest.h>

#include <string>

#include "scene.h"

namespace pxcsim {
namespace {

Scenario Parse(const std::string& text) {
  std::string error;
  Scenario scenario = Scenario::Parse(text, &error);
  EXPECT_EQ(error, "") << text;
  return scenario;
}

TEST(ScenarioTest, NumbersTheFieldCannotHoldKeepTheDefault) {
  const Scenario defaults;
  EXPECT_EQ(Parse(R"({"frames": 2147483647})").frames, 2147483647);
  EXPECT_EQ(Parse(R"({"frames": 2147483648})").frames, defaults.frames);
  EXPECT_EQ(Parse(R"({"frames": -2147483648})").frames, -2147483648LL);
  EXPECT_EQ(Parse(R"({"frames": -2147483649})").frames, defaults.frames);
  EXPECT_EQ(Parse(R"({"frames": 5e60})").frames, defaults.frames);
  EXPECT_EQ(Parse(R"({"seed": 4294967295})").seed, 4294967295u);
  EXPECT_EQ(Parse(R"({"seed": -1})").seed, defaults.seed);
  EXPECT_EQ(Parse(R"({"seed": 0})").seed, 0u);
  // Doubles take any number.
  EXPECT_EQ(Parse(R"({"close_at": 5e60})").close_at, 5e60);
}

TEST(ScenarioTest, PeriodAndRowPaddingStayUsable) {
  EXPECT_EQ(Parse(R"({"period": 0})").period, 24);
  EXPECT_EQ(Parse(R"({"period": 0.5})").period, 0.5);
  EXPECT_EQ(Parse(R"({"color_pitch_padding": -1})").color_pitch_padding, 0);
  EXPECT_EQ(Parse(R"({"color_pitch_padding": 0})").color_pitch_padding, 0);
  EXPECT_EQ(Parse(R"({"color_pitch_padding": 64})").color_pitch_padding, 64);
  std::string error;
  Scenario::Parse("[1, 2", &error);
  EXPECT_EQ(error, "invalid JSON");
}

}  // namespace
}  // namespace pxcsim
