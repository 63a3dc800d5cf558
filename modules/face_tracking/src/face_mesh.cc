#include "face_tracking/face_mesh.h"

#include <QFile>
#include <sstream>

#include "utils/logging.h"

namespace vantisol {
namespace {

// The whole resource as text, or false (after the warning) when it does not exist.
bool ReadResource(const std::string& name, const char* warning, std::string* text) {
  QFile file(QString::fromStdString(":/" + name));
  if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
    LOG(WARNING) << warning << name;
    return false;
  }
  *text = file.readAll().toStdString();
  return true;
}

}  // namespace

void FaceMesh::LoadObjQt(std::string name) {
  std::string text;
  if (!ReadResource(name, "Loading obj: file not found: ", &text)) return;
  ParseObj(text);
  LOG(INFO) << "Mesh loaded - vertices: " << vertices.size()
            << " triangles: " << triangles.size() / 3;
}

void FaceMesh::LoadSubsetIndicesQt(std::string name, std::vector<int>& out) {
  out.clear();
  std::string text;
  if (!ReadResource(name, "Could not open subset indices file: ", &text)) return;
  ParseSubsetIndices(text, out);
}

void FaceMesh::LoadMatchingQt(std::string name) {
  matching.clear();
  std::string text;
  if (!ReadResource(name, "Could not open matching file: ", &text)) return;
  ParseMatching(text);
  LOG(INFO) << "Matching loaded: " << matching.size();
}

void FaceMesh::LoadEyeRotationOffsetsQt(std::string name) {
  eye_offsets.clear();
  std::string text;
  if (!ReadResource(name, "Could not open vertex offsets file: ", &text)) return;
  ParseEyeRotationOffsets(text);
}

void FaceMesh::ParseObj(const std::string& text) {
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    ParseObjLine(line);
  }
  RebuildTopology();
}

void FaceMesh::ParseSubsetIndices(const std::string& text, std::vector<int>& out) {
  out.clear();
  std::istringstream in(text);
  for (int i; in >> i;) out.push_back(i);
}

void FaceMesh::ParseMatching(const std::string& text) {
  matching.clear();
  std::istringstream in(text);
  for (int a, v; in >> a >> v;) {
    if (v != -1) matching.emplace_back(a, v);
  }
}

void FaceMesh::ParseEyeRotationOffsets(const std::string& text) {
  eye_offsets.clear();
  std::istringstream in(text);
  for (float x, y, z; in >> x >> y >> z;) eye_offsets.emplace_back(x, y, z);
}

}  // namespace vantisol
