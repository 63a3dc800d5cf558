// The main window includes this header beside Qt's GL headers, which clash with the GL bindings:
// it must compile after them.
#include <gtest/gtest.h>

#include <QOpenGLFunctions>

#include "watermark_renderer/watermark_renderer.h"

TEST(WatermarkRendererHeader, CompilesAfterQtsGlHeaders) {
  // Construction makes no GPU object, so it needs no context.
  vantisol::WatermarkRenderer watermark;
}
