#include "face_tracking/face_mesh.h"

#include <QFile>
#include <QTextStream>
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
  QFile file(QString::fromStdString(":/" + name));
  if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
    LOG(WARNING) << "Loading obj: file not found: " << name;
    return;
  }
  QTextStream in(&file);
  while (!in.atEnd()) ParseObjLine(in.readLine().toStdString());
  file.close();
  RebuildTopology();
  LOG(INFO) << "Mesh loaded - vertices: " << vertices.size()
            << " triangles: " << triangles.size() / 3;
}

void FaceMesh::LoadSubsetIndicesQt(std::string name, std::vector<int>& out) {
  out.clear();
  std::string text;
  if (!ReadResource(name, "Could not open subset indices file: ", &text)) return;
  std::istringstream in(text);
  for (int i; in >> i;) out.push_back(i);
}

void FaceMesh::LoadMatchingQt(std::string name) {
  matching.clear();
  std::string text;
  if (!ReadResource(name, "Could not open matching file: ", &text)) return;
  std::istringstream in(text);
  for (int a, v; in >> a >> v;) {
    if (v != -1) matching.emplace_back(a, v);
  }
  LOG(INFO) << "Matching loaded: " << matching.size();
}

void FaceMesh::LoadEyeRotationOffsetsQt(std::string name) {
  eye_offsets.clear();
  std::string text;
  if (!ReadResource(name, "Could not open vertex offsets file: ", &text)) return;
  std::istringstream in(text);
  for (float x, y, z; in >> x >> y >> z;) eye_offsets.emplace_back(x, y, z);
}

}  // namespace vantisol
