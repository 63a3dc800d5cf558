// The blendshape file, then the neutral face written into a mesh and scaled, as the template does.
#include <cstddef>
#include <cstdint>

#include "face_tracking/blendshapes.h"
#include "face_tracking/face_mesh.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vantisol::fuzz::QuietLogging();
  vantisol::Blendshapes shapes;
  if (!vantisol::ParseExpressions(reinterpret_cast<const char*>(data), size, "fuzz",
                                  vantisol::Blendshapes::KeptShapes(), &shapes.mean,
                                  &shapes.shapes)) {
    return 0;
  }
  vantisol::FaceMesh mesh;
  mesh.ParseObj("v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
  shapes.ResetExpression(&mesh);
  shapes.Scale({2, 0.5f, 1});
  return 0;
}
