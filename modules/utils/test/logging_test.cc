#include "utils/logging.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "test_folder.h"
#include "utils/path.h"
#include "utils/utils.h"

namespace vantisol {
namespace {

std::vector<std::string> ReadLines(const std::string& file) {
  el::Loggers::flushAll();
  std::ifstream in(file);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

void MakeSparseFile(const std::string& file, off_t size) {
  std::ofstream(file).close();
  ASSERT_EQ(truncate(file.c_str(), size), 0);
}

class LoggingTest : public testing::Test {
 protected:
  void SetUp() override { setenv("XDG_DATA_HOME", folder_.str().c_str(), 1); }
  void TearDown() override {
    // Leave the loggers pointing at nothing that this test's folder held.
    el::Loggers::reconfigureAllLoggers(el::ConfigurationType::ToFile, "false");
  }

  std::string LogFolder() const { return folder_.str() + "/Vantisol/logs"; }
  std::string ProgramLog() const { return LogFolder() + "/utils_test.release.log"; }

  test::TemporaryFolder folder_;
};

TEST_F(LoggingTest, LinesHaveTheFormatAndGoToTheExecutablesFile) {
  testing::internal::CaptureStdout();
  LogToFile(true, "");
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, "Logging to: " + ProgramLog() + "\n");

  LOG(WARNING) << "hello world";
  const auto lines = ReadLines(ProgramLog());
  ASSERT_EQ(lines.size(), 1u);
  const std::regex format(
      R"(WARNING hello world \[default\] \S*logging_test\.cc\(\d+\) / .*TestBody.* / \d+ / )"
      R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d,\d{3})");
  EXPECT_TRUE(std::regex_match(lines[0], format)) << lines[0];
}

TEST_F(LoggingTest, NamedCallerGetsItsOwnFileInTheSameFolder) {
  testing::internal::CaptureStdout();
  LogToFile(true, "VantisolPlugin");
  testing::internal::GetCapturedStdout();
  LOG(INFO) << "from the plug-in";
  const auto lines = ReadLines(LogFolder() + "/VantisolPlugin.release.log");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].rfind("INFO from the plug-in [default] ", 0), 0u) << lines[0];
}

TEST_F(LoggingTest, RotatesOnlyFilesLargerThanTheLimit) {
  ASSERT_EQ(system(("mkdir -p '" + LogFolder() + "'").c_str()), 0);
  MakeSparseFile(ProgramLog(), 50000000);
  testing::internal::CaptureStdout();
  LogToFile(true, "");
  LOG(INFO) << "appended";
  el::Loggers::flushAll();
  EXPECT_GT(path(ProgramLog()).file_size(), 50000000u);
  EXPECT_FALSE(path(ProgramLog() + ".old").exists());

  { std::ofstream(ProgramLog() + ".old") << "older"; }
  LogToFile(true, "");  // now one size past the limit
  testing::internal::GetCapturedStdout();
  EXPECT_GT(path(ProgramLog() + ".old").file_size(), 50000000u);  // replaced the older copy
  LOG(INFO) << "fresh";
  const auto lines = ReadLines(ProgramLog());
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].rfind("INFO fresh", 0), 0u);
}

TEST_F(LoggingTest, CheckWritesOneFatalLineAndGoesOn) {
  testing::internal::CaptureStdout();
  LogToFile(true, "");
  testing::internal::GetCapturedStdout();
  const int size = 640;
  int after = 0;
  VANTISOL_CHECK(size == 0) << "Could not create file mapping with size " << size;
  VANTISOL_CHECK(size == 640) << "never written";
  after = 1;
  EXPECT_EQ(after, 1);  // the process went on
  const auto lines = ReadLines(ProgramLog());
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(
      lines[0].rfind("FATAL Check failed: [size == 0] Could not create file mapping with size "
                     "640 [default] ",
                     0),
      0u)
      << lines[0];
}

TEST_F(LoggingTest, LinesFromManyThreadsNeverInterleave) {
  testing::internal::CaptureStdout();
  LogToFile(true, "");
  testing::internal::GetCapturedStdout();
  constexpr int kThreads = 8;
  constexpr int kLines = 300;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      const std::string payload(100, static_cast<char>('a' + t));
      for (int i = 0; i < kLines; ++i) LOG(INFO) << "thread " << t << " " << payload;
    });
  }
  for (auto& thread : threads) thread.join();
  const auto lines = ReadLines(ProgramLog());
  ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kLines));
  const std::regex line(R"(INFO thread (\d) ([a-h])\2{99} \[default\] .*)");
  for (const auto& text : lines) {
    std::smatch match;
    ASSERT_TRUE(std::regex_match(text, match, line)) << text;
    EXPECT_EQ(match[2].str()[0], 'a' + std::stoi(match[1].str()));
  }
}

TEST(EscapeLineBreaksTest, KeepsEntriesOnOneLine) {
  EXPECT_EQ(EscapeLineBreaks("The system cannot\r\nfind it.\n"),
            "The system cannot \\r  \\n find it. \\n ");
  EXPECT_EQ(EscapeLineBreaks("plain"), "plain");
  EXPECT_EQ(EscapeLineBreaks(""), "");
}

}  // namespace
}  // namespace vantisol
