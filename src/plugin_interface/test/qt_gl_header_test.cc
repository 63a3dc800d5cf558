// The main window includes this header beside Qt's GL headers, which clash with the GL bindings:
// it must compile after them.
#include <gtest/gtest.h>

#include <QOpenGLFunctions>

#include "plugin_interface/plugin_interface.h"

TEST(PluginInterfaceHeader, CompilesAfterQtsGlHeaders) {
  EXPECT_TRUE((std::is_base_of_v<QObject, vantisol::PluginInterface>));
}
