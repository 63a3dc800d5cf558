// The Windows behaviour of the path type and of file logging, against the real system calls.

#include <gtest/gtest.h>
#include <windows.h>
// windows.h first: the shell headers rely on its types.
#include <knownfolders.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

#include "test_folder.h"
#include "utf8_cases.h"
#include "utils/logging.h"
#include "utils/path.h"
#include "utils/utils.h"

namespace vantisol {
namespace {

std::string WithoutCarriageReturns(std::string text) {
  text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
  return text;
}

TEST(WindowsPathTest, AbsolutePathsCarryADriveLetterAndBackslashes) {
  const path relative("logs/x\\y");
  EXPECT_FALSE(relative.is_absolute());
  const path absolute = relative.make_absolute();
  EXPECT_TRUE(absolute.is_absolute());
  const std::string text = absolute.str();
  ASSERT_GE(text.size(), 3u);
  EXPECT_TRUE(std::isalpha(static_cast<unsigned char>(text[0])));
  EXPECT_EQ(text.substr(1, 2), ":\\");
  EXPECT_EQ(text.substr(text.size() - 9), "\\logs\\x\\y");
  EXPECT_EQ(path("C:/a/b").str(), "C:\\a\\b");
  EXPECT_EQ(path("C:/a/b").wstr(), L"C:\\a\\b");
  EXPECT_EQ((path("D:\\data") / path("Vantisol/logs")).str(), "D:\\data\\Vantisol\\logs");
  EXPECT_THROW(path("C:\\a") / path("D:\\b"), std::runtime_error);
}

TEST(WindowsPathTest, FileCallsUseWideNames) {
  test::TemporaryFolder folder;
  const path nested = path(folder.str()) / path("caf\xC3\xA9\\\xE2\x82\xAC/deep");
  EXPECT_FALSE(nested.is_directory());
  EXPECT_TRUE(nested.create_directory());
  EXPECT_TRUE(nested.is_directory());
  const std::wstring wide_folder = Utf8ToWide(folder.str()) + L"\\caf\u00E9\\\u20AC\\deep";
  EXPECT_NE(GetFileAttributesW(wide_folder.c_str()), INVALID_FILE_ATTRIBUTES);

  const path file = nested / path("f.txt");
  FILE* out = _wfopen(file.wstr().c_str(), L"wb");
  ASSERT_NE(out, nullptr);
  std::fputs("12345", out);
  std::fclose(out);
  EXPECT_EQ(file.file_size(), 5u);
  EXPECT_TRUE(file.exists());
  EXPECT_FALSE(file.is_directory());
  try {
    (nested / path("missing")).file_size();
    FAIL();
  } catch (const std::runtime_error& error) {
    EXPECT_EQ(std::string(error.what()),
              "path::file_size(): cannot stat file \"" + nested.str() + "\\missing\"!");
  }
}

TEST(WindowsPathTest, Utf8ConversionAtEveryBoundary) { test::ExpectUtf8Conversions(); }

TEST(WindowsLoggingTest, LogFilesLiveInTheRoamingFolder) {
  PWSTR roaming = nullptr;
  ASSERT_EQ(SHGetKnownFolderPath(FOLDERID_RoamingAppData, 0, nullptr, &roaming), S_OK);
  const std::string folder = WideToUtf8(roaming) + "\\Vantisol\\logs";
  CoTaskMemFree(roaming);

  testing::internal::CaptureStdout();
  LogToFile(true, "");
  EXPECT_EQ(WithoutCarriageReturns(testing::internal::GetCapturedStdout()),
            "Logging to: " + folder + "\\utils_win_test.exe.release.log\n");
  EXPECT_TRUE(path(folder).is_directory());
  LOG(INFO) << "hello from Windows";
  el::Loggers::flushAll();
  std::ifstream in(Utf8ToWide(folder + "\\utils_win_test.exe.release.log").c_str());
  std::string line;
  std::getline(in, line);
  EXPECT_EQ(line.rfind("INFO hello from Windows [default] ", 0), 0u) << line;

  testing::internal::CaptureStdout();
  LogToFile(true, "VantisolPlugin");
  EXPECT_EQ(WithoutCarriageReturns(testing::internal::GetCapturedStdout()),
            "Logging to: " + folder + "\\VantisolPlugin.release.log\n");
  el::Loggers::reconfigureAllLoggers(el::ConfigurationType::ToFile, "false");
}

// Run on its own, and by the next test from a copy of this program with a non-ASCII name.
TEST(WindowsLoggingTest, LogIsNamedAfterItsExecutable) {
  wchar_t self[MAX_PATH] = {};
  ASSERT_GT(GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
  const std::string name = WideToUtf8(std::filesystem::path(self).filename().wstring());
  testing::internal::CaptureStdout();
  LogToFile(true, "");
  const std::string said = WithoutCarriageReturns(testing::internal::GetCapturedStdout());
  const std::string ending = "\\" + name + ".release.log\n";
  ASSERT_GE(said.size(), ending.size());
  EXPECT_EQ(said.substr(said.size() - ending.size()), ending);
  el::Loggers::reconfigureAllLoggers(el::ConfigurationType::ToFile, "false");
}

TEST(WindowsLoggingTest, ExecutableWithNonAsciiLettersNamesItsLog) {
  wchar_t self[MAX_PATH] = {};
  ASSERT_GT(GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
  test::TemporaryFolder folder;
  const std::filesystem::path copy =
      std::filesystem::path(Utf8ToWide(folder.str())) / L"Vid\u00E9o \u0416 \U0001F3A5.exe";
  std::filesystem::copy_file(self, copy);
  std::wstring command =
      L"\"" + copy.wstring() + L"\" --gtest_filter=WindowsLoggingTest.LogIsNamedAfterItsExecutable";
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION child{};
  ASSERT_TRUE(CreateProcessW(copy.c_str(), &command[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                             nullptr, nullptr, &startup, &child));
  const DWORD waited = WaitForSingleObject(child.hProcess, 60000);
  if (waited != WAIT_OBJECT_0) TerminateProcess(child.hProcess, 1);
  DWORD code = 1;
  GetExitCodeProcess(child.hProcess, &code);
  CloseHandle(child.hThread);
  CloseHandle(child.hProcess);
  ASSERT_EQ(waited, WAIT_OBJECT_0) << "the copy did not end within 60 s";
  EXPECT_EQ(code, 0u) << "the copy's log was not named after it";
}

}  // namespace
}  // namespace vantisol
