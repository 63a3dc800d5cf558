// The leak checker in the GPU test programs: they share one main, and a texture that a test leaks
// must fail the run. The check runs this program again for its (disabled) child.
#include <gtest/gtest.h>

#include <string>

#include "gl_test.h"
#include "leak_check.h"
#include "opengl/texture.h"
#include "utils/sanitizers.h"

namespace vantisol {
namespace {

TEST(GLLeakCheckChild, DISABLED_LeaksATexture) {
  Texture* volatile lost = new Texture(test::RandomImage({8, 8}, Image::Format::kRGBA, 1));
  EXPECT_FALSE(lost->Download().empty());
  lost = nullptr;
}

#if VANTISOL_ADDRESS_SANITIZER()
TEST(GLLeakCheckTest, ATextureThatATestLeaksIsReported) {
  const auto run = test::RunWithLeakCheck("GLLeakCheckChild.DISABLED_LeaksATexture");
  EXPECT_NE(run.exit_code, 0) << run.output;
  EXPECT_NE(run.output.find("Direct leak of " + std::to_string(sizeof(Texture)) + " byte(s)"),
            std::string::npos)
      << run.output;
}
#endif

}  // namespace
}  // namespace vantisol
