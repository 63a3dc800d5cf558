// The face model's OBJ mesh, then what every user of the mesh does with it.
#include <cstddef>
#include <cstdint>
#include <string>

#include "face_tracking/face_mesh.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vantisol::fuzz::QuietLogging();
  vantisol::FaceMesh mesh;
  mesh.ParseObj(std::string(reinterpret_cast<const char*>(data), size));
  mesh.ComputeNormals();
  const vantisol::FaceMesh copy = mesh;  // a copy rebuilds the topology from scratch
  mesh.Scale(2, 2, 2);
  mesh.SetVertex(static_cast<int>(size) - 1, copy.Centroid());
  return 0;
}
