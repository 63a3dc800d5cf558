#pragma once

#include <string>
#include <utility>
#include <vector>

#include "face_tracking/triangle_mesh.h"

namespace vantisol {

// The face model's mesh with its landmark matching, triangle subsets and eye-rotation offsets.
// Loaders read compiled-in resources under ":/" + name; a missing one logs a warning and leaves its
// list empty.
class FaceMesh : public TriangleMesh {
 public:
  void LoadObjQt(std::string name);
  void LoadSubsetIndicesQt(std::string name, std::vector<int>& out);
  void LoadMatchingQt(std::string name);
  void LoadEyeRotationOffsetsQt(std::string name);

  // The same readers over a file's text.
  void ParseObj(const std::string& text);
  static void ParseSubsetIndices(const std::string& text, std::vector<int>& out);
  void ParseMatching(const std::string& text);
  void ParseEyeRotationOffsets(const std::string& text);

  // (landmark index, vertex index) pairs.
  std::vector<std::pair<int, int>> matching;
  std::vector<int> front_triangles;
  std::vector<int> fill_triangles;
  std::vector<int> eye_triangles;
  std::vector<vec3> eye_offsets;
};

}  // namespace vantisol
