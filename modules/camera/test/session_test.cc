#include "camera/session.h"

#include <gtest/gtest.h>
#include <limits.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "camera/camera_realsense.h"
#include "camera/registry.h"
#include "test_support.h"

namespace vantisol {
namespace {

namespace fs = std::filesystem;

constexpr char kLocal[] = "Software\\Intel\\RSSDK\\Dispatch\\LocalRuntime=";
constexpr char kWowLocal[] = "Software\\Wow6432Node\\Intel\\RSSDK\\Dispatch\\LocalRuntime=";
constexpr char kCore[] = "Software\\Intel\\RSSDK\\v8\\Dispatch\\Core=";

class SessionSearchTest : public testing::Test {
 protected:
  std::string Root() const { return folder_.str(); }
  // A working runtime at folder/libpxcsession.so.
  std::string Runtime(const std::string& folder) {
    fs::create_directories(folder);
    const std::string file = folder + "/libpxcsession.so";
    fs::copy_file(PXCSESSION_LIBRARY, file, fs::copy_options::overwrite_existing);
    return file;
  }
  // A file that is no library at all.
  std::string Broken(const std::string& folder) {
    fs::create_directories(folder);
    const std::string file = folder + "/libpxcsession.so";
    std::ofstream(file) << "not a library";
    return file;
  }
  Registry Store(const std::string& lines) {
    const std::string file = Root() + "/store.txt";
    std::ofstream(file) << "# test store\n" << lines;
    return Registry(file);
  }
  PXCSession* Find(const Registry& registry, const std::string& exe_folder) {
    loaded_.clear();
    return FindSession(registry, exe_folder, &loaded_);
  }

  test::TemporaryFolder folder_;
  std::string loaded_;
};

TEST_F(SessionSearchTest, DotValueResolvesInTheExecutablesFolder) {
  const std::string exe = Root() + "/program/";
  Runtime(exe + "rt");
  PXCPtr<PXCSession> session(Find(Store(std::string(kLocal) + "./rt\n"), exe));
  ASSERT_NE(session, nullptr);
  EXPECT_EQ(loaded_, exe + "./rt/libpxcsession.so");
  EXPECT_GE(session->QueryVersion().major, 8);
}

TEST_F(SessionSearchTest, AbsoluteValueResolvesUnderBinX64) {
  Runtime(Root() + "/sdk/bin/x64");
  PXCPtr<PXCSession> session(Find(Store(std::string(kLocal) + Root() + "/sdk\n"), "/nowhere/"));
  ASSERT_NE(session, nullptr);
  EXPECT_EQ(loaded_, Root() + "/sdk/bin/x64/libpxcsession.so");
}

TEST_F(SessionSearchTest, AFailingEntryFallsThroughToTheNextKeyAndToCore) {
  Broken(Root() + "/bad/bin/x64");
  Runtime(Root() + "/good/bin/x64");
  const std::string core = Runtime(Root() + "/core");
  PXCPtr<PXCSession> session(Find(Store(std::string(kLocal) + Root() + "/bad\n" + kWowLocal +
                                        Root() + "/good\n" + kCore + core + "\n"),
                                  "/nowhere/"));
  ASSERT_NE(session, nullptr);
  EXPECT_EQ(loaded_, Root() + "/good/bin/x64/libpxcsession.so");

  session.reset(Find(Store(std::string(kLocal) + Root() + "/bad\n" + kWowLocal + Root() +
                           "/missing\n" + kCore + core + "\n"),
                     "/nowhere/"));
  ASSERT_NE(session, nullptr);
  EXPECT_EQ(loaded_, core);
}

TEST_F(SessionSearchTest, TriesTheSourceTreeFolderBeforeTheNextKey) {
  Runtime(Root() + "/bin/x64");
  fs::create_directories(Root() + "/work/libpxc.cpp");
  char previous[PATH_MAX];
  ASSERT_NE(getcwd(previous, sizeof(previous)), nullptr);
  ASSERT_EQ(chdir((Root() + "/work").c_str()), 0);
  PXCPtr<PXCSession> session(Find(Store(std::string(kLocal) + Root() + "/missing\n"), "/x/"));
  ASSERT_EQ(chdir(previous), 0);
  ASSERT_NE(session, nullptr);
  EXPECT_EQ(loaded_, "libpxc.cpp/../../bin/x64/libpxcsession.so");
}

TEST_F(SessionSearchTest, NoKeysOrNoLibraryGiveNoSession) {
  EXPECT_EQ(Find(Store(""), "/x/"), nullptr);
  EXPECT_EQ(Find(Registry(Root() + "/absent.txt"), "/x/"), nullptr);
  EXPECT_EQ(Find(Store(std::string(kCore) + Broken(Root() + "/b") + "\n"), "/x/"), nullptr);
  EXPECT_EQ(Find(Store(std::string(kCore) + "\n"), "/x/"), nullptr);
  // A value longer than the 520-byte read buffer is no value.
  const std::string core = Runtime(Root() + "/" + std::string(250, 'c'));
  EXPECT_EQ(Find(Store(std::string(kCore) + core + "\n"), "/x/"), nullptr);
}

TEST_F(SessionSearchTest, CreateSessionUsesTheExecutablesFolder) {
  char exe[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", exe, sizeof(exe) - 1);
  ASSERT_GT(n, 0);
  const std::string folder = fs::path(std::string(exe, size_t(n))).parent_path().string();
  const std::string sub = "rt-test-" + std::to_string(getpid());
  Runtime(folder + "/" + sub);
  const std::string store = Root() + "/machine.txt";
  std::ofstream(store) << kLocal << "./" << sub << "\n";
  setenv("VANTISOL_REGISTRY", store.c_str(), 1);
  PXCPtr<PXCSession> session(CreateSession());
  unsetenv("VANTISOL_REGISTRY");
  fs::remove_all(folder + "/" + sub);
  EXPECT_NE(session, nullptr);
}

TEST_F(SessionSearchTest, TheBuildRegistersItsRuntime) {
  unsetenv("VANTISOL_REGISTRY");
  PXCPtr<PXCSession> session(CreateSession());
  EXPECT_NE(session, nullptr);
}

TEST_F(SessionSearchTest, NoRuntimeMeansNoCameras) {
  const std::string store = Root() + "/empty.txt";
  std::ofstream(store) << "";
  setenv("VANTISOL_REGISTRY", store.c_str(), 1);
  EXPECT_TRUE(CameraRealSense::GetCameras().empty());
  unsetenv("VANTISOL_REGISTRY");
}

TEST_F(SessionSearchTest, ARuntimeOlderThanVersion8IsRefused) {
  test::ScopedScenario scenario(R"({"version_major": 7, "version_minor": 5})");
  SetRuntimeInstallerLink("https://example.test/runtime");
  try {
    CameraRealSense::GetCameras();
    ADD_FAILURE() << "no exception";
  } catch (const std::runtime_error& error) {
    EXPECT_EQ(std::string(error.what()),
              std::string("CameraRealSense: SDK Version 7.5 - Please <a "
                          "href='https://example.test/runtime'>download</a> and install the Intel "
                          "RealSense SDK Runtime 8.0 or higher.<br><br>More help on ") +
                  kCameraHelpLink);
  }
}

}  // namespace
}  // namespace vantisol
