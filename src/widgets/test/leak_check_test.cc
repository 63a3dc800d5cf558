// The leak checker in widget programs that draw: Mesa's software rasteriser keeps a few blocks to
// the end of the process and is unloaded with the display; the address-sanitizer build keeps it
// loaded so that those blocks are not reported, while the program's own leaks still are. The case
// runs this test program again, in processes of their own, for the (disabled) drawing children.
#include "leak_check.h"

#include <gtest/gtest.h>

#include <QOpenGLWidget>

#include "utils/sanitizers.h"

namespace vantisol {
namespace {

void Draw() {
  QOpenGLWidget widget;
  widget.resize(64, 64);
  widget.show();
  EXPECT_FALSE(widget.grabFramebuffer().isNull());
}

TEST(LeakCheckChild, DISABLED_DrawsAndLeaks) {
  Draw();
  [[maybe_unused]] char* volatile lost = new char[4321];
  lost = nullptr;
}

TEST(LeakCheckChild, DISABLED_DrawsWithoutLeaking) { Draw(); }

#if VANTISOL_ADDRESS_SANITIZER()
TEST(LeakCheckTest, TheProgramsOwnLeakIsReportedTheGLDriversBlocksAreNot) {
  const auto leaking = test::RunWithLeakCheck("LeakCheckChild.DISABLED_DrawsAndLeaks");
  EXPECT_NE(leaking.exit_code, 0) << leaking.output;
  EXPECT_NE(leaking.output.find("Direct leak of 4321 byte(s)"), std::string::npos)
      << leaking.output;
  const auto clean = test::RunWithLeakCheck("LeakCheckChild.DISABLED_DrawsWithoutLeaking");
  EXPECT_EQ(clean.exit_code, 0) << clean.output;
  EXPECT_EQ(clean.output.find("LeakSanitizer"), std::string::npos) << clean.output;
}
#endif

}  // namespace
}  // namespace vantisol
