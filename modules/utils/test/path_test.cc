#include "utils/path.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "test_folder.h"
#include "utf8_cases.h"
#include "utils/process.h"

namespace vantisol {
namespace {

TEST(PathTest, WindowsParsingJoiningAndPrinting) {
  const path p("C:\\Users/me\\AppData", path::windows_path);
  EXPECT_TRUE(p.is_absolute());
  EXPECT_EQ(p.components().size(), 4u);
  EXPECT_EQ(p.str(path::windows_path), "C:\\Users\\me\\AppData");
  EXPECT_EQ(p.str(path::posix_path), "C:/Users/me/AppData");
  EXPECT_EQ(p.filename(), "AppData");
  const path joined = p / path("Vantisol\\logs", path::windows_path);
  EXPECT_TRUE(joined.is_absolute());
  EXPECT_EQ(joined.str(path::windows_path), "C:\\Users\\me\\AppData\\Vantisol\\logs");
  EXPECT_FALSE(path("relative\\dir", path::windows_path).is_absolute());
  EXPECT_FALSE(path("1:x", path::windows_path).is_absolute());
}

TEST(PathTest, PosixParsingJoiningAndPrinting) {
  const path p("/home//me/");
  EXPECT_EQ(p.type(), path::posix_path);
  EXPECT_TRUE(p.is_absolute());
  EXPECT_EQ(p.str(), "/home/me");
  EXPECT_EQ((p / path("a b/c")).str(), "/home/me/a b/c");
  EXPECT_EQ(path("back\\slash").components().size(), 1u);  // a legal POSIX name character
  EXPECT_EQ(path("").filename(), "");
}

TEST(PathTest, JoinRefusesAbsoluteAndMixedPaths) {
  try {
    path("a") / path("/b");
    FAIL();
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "path::operator/(): expected a relative path!");
  }
  try {
    path("a", path::posix_path) / path("b", path::windows_path);
    FAIL();
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "path::operator/(): expected a path of the same type!");
  }
}

TEST(PathTest, ParentPath) {
  EXPECT_EQ(path("/a/b").parent_path().str(), "/a");
  EXPECT_TRUE(path("/a/b").parent_path().is_absolute());
  EXPECT_EQ(path("a").parent_path().str(), "");
  EXPECT_EQ(path("").parent_path().str(), "..");
  EXPECT_EQ(path("C:\\x\\y.dll", path::windows_path).parent_path().str(path::windows_path),
            "C:\\x");
}

TEST(PathTest, WideStringsRoundTripUtf8) {
  const std::string utf8 = "caf\xC3\xA9/\xE2\x82\xAC/\xF0\x9F\x98\x80";
  const path p(utf8);
  EXPECT_EQ(path(p.wstr()).str(), utf8);
  EXPECT_EQ(p.wstr(), L"caf\u00E9/\u20AC/\U0001F600");
  // Broken sequences become the replacement character rather than being dropped silently.
  EXPECT_EQ(Utf8ToWide("a\xC3"), L"a\uFFFD");
  EXPECT_EQ(Utf8ToWide("\xFF"
                       "b"),
            L"\uFFFD"
            L"b");
}

TEST(PathTest, Utf8ConversionAtEveryBoundary) { test::ExpectUtf8Conversions(); }

void CodeOfThisProgram() {}

// Run again by itself from its own folder under a relative name, as a program found on PATH is.
TEST(ModuleFilePathTest, NamesTheFileThatHoldsTheCode) {
  const std::string self = utils::ModuleFilePath();
  EXPECT_EQ(self, std::filesystem::canonical("/proc/self/exe").string());
  test::TemporaryFolder folder;
  char previous[4096];
  ASSERT_NE(getcwd(previous, sizeof(previous)), nullptr);
  ASSERT_EQ(chdir(folder.str().c_str()), 0);
  const std::string of_code =
      utils::ModuleFilePath(reinterpret_cast<const void*>(&CodeOfThisProgram));
  ASSERT_EQ(chdir(previous), 0);
  EXPECT_EQ(of_code, self);
  // A shared library's file, not the program: a sanitizer's interceptor of a libc function may
  // live in the program, so the function is libstdc++'s, which none intercepts.
  const std::string of_library =
      utils::ModuleFilePath(reinterpret_cast<const void*>(&std::get_terminate));
  EXPECT_NE(std::filesystem::path(of_library).filename().string().find(".so"), std::string::npos)
      << of_library;
  EXPECT_NE(of_library, self);
  EXPECT_TRUE(std::filesystem::path(of_library).is_absolute()) << of_library;

  if (std::getenv("VANTISOL_RELATIVE_RUN") != nullptr) return;
  const std::filesystem::path exe(self);
  const std::string command =
      "cd '" + exe.parent_path().string() + "' && VANTISOL_RELATIVE_RUN=1 timeout 60 ./" +
      exe.filename().string() + " --gtest_filter=ModuleFilePathTest.* >/dev/null 2>&1";
  EXPECT_EQ(std::system(command.c_str()), 0) << "the run as ./" << exe.filename().string();
}

TEST(PathTest, FileSystemQueries) {
  test::TemporaryFolder folder;
  const path base(folder.str());
  const path nested = base / path("one/two/three");
  EXPECT_FALSE(nested.is_directory());
  EXPECT_TRUE(nested.create_directory());
  EXPECT_TRUE(nested.is_directory());
  EXPECT_TRUE(nested.create_directory());  // already there

  const path file = nested / path("f.txt");
  std::ofstream(file.str()) << "12345";
  EXPECT_EQ(file.file_size(), 5u);
  EXPECT_FALSE(file.is_directory());
  try {
    (nested / path("missing")).file_size();
    FAIL();
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()),
              "path::file_size(): cannot stat file \"" + nested.str() + "/missing\"!");
  }
}

TEST(PathTest, MakeAbsoluteUsesTheWorkingFolder) {
  test::TemporaryFolder folder;
  char previous[4096];
  ASSERT_NE(getcwd(previous, sizeof(previous)), nullptr);
  ASSERT_EQ(chdir(folder.str().c_str()), 0);
  const path absolute = path("logs/./x/../y").make_absolute();
  ASSERT_EQ(chdir(previous), 0);
  EXPECT_TRUE(absolute.is_absolute());
  EXPECT_EQ(absolute.str(), path(folder.str()).make_absolute().str() + "/logs/y");
  EXPECT_EQ(path("/already/there").make_absolute().str(), "/already/there");
}

}  // namespace
}  // namespace vantisol
