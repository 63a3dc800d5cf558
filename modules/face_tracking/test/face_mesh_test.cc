#include "face_tracking/face_mesh.h"

#include <gtest/gtest.h>

#include <QFile>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>

#include "face_tracking/blendshapes.h"
#include "test_resources.h"

namespace vantisol {
namespace {

TEST(TriangleMeshTest, ParsesEveryFaceForm) {
  TriangleMesh mesh;
  mesh.ParseObjLine("f 1 2 3 4");
  EXPECT_EQ(mesh.triangles, (std::vector<int>{0, 1, 2, 0, 2, 3}));
  mesh.triangles.clear();
  mesh.ParseObjLine("f 1 2 3");
  mesh.ParseObjLine("f 1/4 2/5 3/6");
  mesh.ParseObjLine("f 1//7 2//8 3//9");
  EXPECT_EQ(mesh.triangles, (std::vector<int>{0, 1, 2, 0, 1, 2, 0, 1, 2}));
  EXPECT_EQ(mesh.texture_indices, (std::vector<int>{3, 4, 5}));
  EXPECT_EQ(mesh.normal_indices, (std::vector<int>{6, 7, 8}));
  mesh = TriangleMesh();
  mesh.ParseObjLine("f 1/2/3 4/5/6 7/8/9 10/11/12");
  EXPECT_EQ(mesh.triangles, (std::vector<int>{0, 3, 6, 0, 6, 9}));
  EXPECT_EQ(mesh.texture_indices, (std::vector<int>{1, 4, 7, 1, 7, 10}));
  EXPECT_EQ(mesh.normal_indices, (std::vector<int>{2, 5, 8, 2, 8, 11}));
  mesh.ParseObjLine("f 1/2/3 4/5/6 7/8/9");
  EXPECT_EQ(mesh.triangles.size(), 9u);
  EXPECT_EQ(mesh.normal_indices.back(), 8);
  // Not a face form, a texture line and a comment change nothing.
  mesh.ParseObjLine("f 1 2");
  mesh.ParseObjLine("vt 0.1 0.2");
  mesh.ParseObjLine("# v 1 2 3");
  EXPECT_EQ(mesh.triangles.size(), 9u);
  EXPECT_TRUE(mesh.vertices.empty());
  mesh.ParseObjLine("v 1 2.5 -3e-2");
  mesh.ParseObjLine("vn 0 0 1");
  ASSERT_EQ(mesh.vertices.size(), 1u);
  EXPECT_EQ(mesh.vertices[0], vec3(1, 2.5f, -0.03f));
  EXPECT_EQ(mesh.normals.size(), 1u);
}

TEST(TriangleMeshTest, TopologyNormalsAndAccess) {
  TriangleMesh mesh;
  for (const char* line : {"v 0 0 0", "v 1 0 0", "v 1 1 0", "v 0 1 0", "v 5 5 5", "f 1 2 3 4"}) {
    mesh.ParseObjLine(line);
  }
  mesh.RebuildTopology();
  EXPECT_EQ(mesh.edges.size(), 5u);
  EXPECT_EQ(mesh.neighbours[0], (std::vector<int>{1, 2, 3}));
  EXPECT_TRUE(mesh.normals[0].isApprox(vec3(0, 0, 1)));
  // Vertex 4 belongs to no triangle: a finite (zero) normal.
  EXPECT_TRUE(mesh.normals[4].allFinite());
  EXPECT_EQ(mesh.normals[4], vec3::Zero());
  EXPECT_TRUE(mesh.Centroid().isApprox(vec3(7, 7, 5) / 5));
  mesh.SetVertex(-1, vec3(9, 9, 9));
  mesh.SetVertex(5, vec3(9, 9, 9));
  EXPECT_EQ(mesh.vertex(4), vec3(5, 5, 5));
  EXPECT_THROW(mesh.vertex(5), std::out_of_range);
  mesh.Scale(2, 1, 0.5f);
  EXPECT_EQ(mesh.vertex(4), vec3(10, 5, 2.5f));
  // A copy rebuilds its topology and drops the OBJ index lists.
  mesh.texture_indices = {1, 2, 3};
  const TriangleMesh copy(mesh);
  EXPECT_EQ(copy.edges, mesh.edges);
  EXPECT_TRUE(copy.texture_indices.empty());
  EXPECT_TRUE(TriangleMesh().Centroid().allFinite());
}

TEST(FaceMeshTest, LoadersReadResourcesAndSkipUnmatchedLandmarks) {
  RegisterTestResources();
  FaceMesh mesh;
  mesh.LoadObjQt("square.obj");
  EXPECT_EQ(mesh.vertices.size(), 4u);
  EXPECT_EQ(mesh.triangles, (std::vector<int>{0, 1, 2}));
  mesh.LoadMatchingQt("matching.txt");
  EXPECT_EQ(mesh.matching, (std::vector<std::pair<int, int>>{{0, 5}, {7, 4295}}));
}

TEST(FaceMeshTest, TextWithWindowsLineEndsOrNoLastLineEndReadsTheSame) {
  FaceMesh unix_text, windows_text;
  unix_text.ParseObj("v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\nf 1 3 2");
  windows_text.ParseObj("v 0 0 0\r\nv 1 0 0\r\nv 0 1 0\r\nf 1 2 3\r\nf 1 3 2\r\n");
  EXPECT_EQ(unix_text.vertex_count(), 3);
  EXPECT_EQ(unix_text.triangles, (std::vector<int>{0, 1, 2, 0, 2, 1}));
  EXPECT_EQ(windows_text.triangles, unix_text.triangles);
  EXPECT_EQ(windows_text.vertex_count(), 3);
}

// The file: shape count s, vertex count v, a spare int, then (s + 1) x v x 3 floats.
std::string BlendshapeBytes(int32_t s, int32_t v, size_t floats) {
  std::string bytes(12 + 4 * floats, '\0');
  const int32_t header[3] = {s, v, 0};
  std::memcpy(bytes.data(), header, 12);
  for (size_t i = 0; i < floats; ++i) {
    const float value = static_cast<float>(i);
    std::memcpy(bytes.data() + 12 + 4 * i, &value, 4);
  }
  return bytes;
}

TEST(BlendshapeFileTest, SizesMustMatchExactlyAndCountsCannotOverflow) {
  const std::vector<int> kept = {1};
  Eigen::VectorXf mean;
  Eigen::MatrixXf shapes;
  auto parse = [&](const std::string& bytes, const std::vector<int>& indices) {
    return ParseExpressions(bytes.data(), bytes.size(), "test", indices, &mean, &shapes);
  };
  // Two shapes of two vertices: 3 x 2 x 3 floats.
  EXPECT_TRUE(parse(BlendshapeBytes(2, 2, 18), kept));
  EXPECT_EQ(mean, (Eigen::VectorXf(6) << 0, 1, 2, 3, 4, 5).finished());
  // Shape 1 is floats 12..17; minus the mean, 12 each.
  EXPECT_TRUE(shapes.isApprox(Eigen::MatrixXf::Constant(6, 1, 12)));
  EXPECT_FALSE(parse(BlendshapeBytes(2, 2, 17), kept));
  EXPECT_FALSE(parse(BlendshapeBytes(2, 2, 19), kept));
  EXPECT_FALSE(parse(BlendshapeBytes(2, 2, 18).substr(0, 11), {}));
  // An index must name a shape in the file: 1 of 2 is, 2 of 2 is not.
  EXPECT_FALSE(parse(BlendshapeBytes(2, 2, 18), {2}));
  EXPECT_FALSE(parse(BlendshapeBytes(-1, 2, 0), {}));
  // 12 v (s + 1) overflows 64 bits for these counts; the file must still be refused.
  EXPECT_FALSE(parse(BlendshapeBytes(0x7FFFFFFF, 0x7FFFFFFF, 0), {}));
  EXPECT_FALSE(parse(BlendshapeBytes(0x7FFFFFFF, 0x7FFFFFFF, 3), {}));
}

TEST(FaceMeshTest, MissingResourcesGiveEmptyLists) {
  FaceMesh mesh;
  mesh.matching = {{1, 1}};
  mesh.eye_offsets = {vec3::Zero()};
  std::vector<int> subset = {1, 2, 3};
  mesh.LoadObjQt("missing.obj");
  mesh.LoadSubsetIndicesQt("missing.txt", subset);
  mesh.LoadMatchingQt("missing.txt");
  mesh.LoadEyeRotationOffsetsQt("missing.txt");
  EXPECT_TRUE(mesh.vertices.empty());
  EXPECT_TRUE(subset.empty());
  EXPECT_TRUE(mesh.matching.empty());
  EXPECT_TRUE(mesh.eye_offsets.empty());
  Eigen::VectorXf mean = Eigen::VectorXf::Ones(3);
  Eigen::MatrixXf shapes;
  EXPECT_FALSE(LoadExpressionsQt("missing.bs", {0}, &mean, &shapes));
  EXPECT_EQ(mean, Eigen::VectorXf::Ones(3));
}

class GeneratedModelTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    RegisterFaceModel();
    mesh_ = new FaceMesh;
    mesh_->LoadObjQt("resources/average_face_0.obj");
    mesh_->LoadSubsetIndicesQt("resources/front_triangles.txt", mesh_->front_triangles);
    mesh_->LoadSubsetIndicesQt("resources/fill_triangles.txt", mesh_->fill_triangles);
    mesh_->LoadSubsetIndicesQt("resources/eye_triangles.txt", mesh_->eye_triangles);
    mesh_->LoadMatchingQt("resources/matching_facewarehouse_mirrored.txt");
    mesh_->LoadEyeRotationOffsetsQt("resources/eye_offsets.txt");
  }
  static void TearDownTestSuite() { delete mesh_; }
  static FaceMesh* mesh_;
};
FaceMesh* GeneratedModelTest::mesh_ = nullptr;

TEST_F(GeneratedModelTest, HasTheFaceListsInRange) {
  const int n = mesh_->vertex_count();
  EXPECT_GE(n, 3000);
  EXPECT_LE(n, 12000);
  ASSERT_EQ(mesh_->matching.size(), 53u);
  std::set<int> vertices;
  for (size_t a = 0; a < 53; ++a) {
    EXPECT_EQ(mesh_->matching[a].first, static_cast<int>(a));
    vertices.insert(mesh_->matching[a].second);
  }
  EXPECT_EQ(vertices.size(), 53u) << "two landmarks share a vertex";
  for (const auto* list :
       {&mesh_->front_triangles, &mesh_->fill_triangles, &mesh_->eye_triangles}) {
    ASSERT_FALSE(list->empty());
    EXPECT_EQ(list->size() % 3, 0u);
    for (int i : *list) ASSERT_TRUE(i >= 0 && i < n);
  }
  ASSERT_EQ(mesh_->eye_offsets.size(), static_cast<size_t>(n));
  int moved = 0;
  for (const vec3& offset : mesh_->eye_offsets) moved += offset.norm() > 0;
  EXPECT_GT(moved, 50);
  EXPECT_LT(moved, n / 10);
  for (int i : mesh_->eye_triangles) EXPECT_GT(mesh_->eye_offsets[i].norm(), 0);
  for (int i : mesh_->eye_triangles) EXPECT_LT(mesh_->eye_offsets[i].y(), 0) << "eyes lift up";
}

// The renderer culls back faces with clockwise front faces under its projection, which maps
// pixel (u, v) to normalised (2u/w - 1, 2v/h - 1): the face seen from a camera in front must be
// clockwise there, i.e. of negative signed area in normalised device coordinates.
TEST_F(GeneratedModelTest, FrontTrianglesAreClockwiseOnScreen) {
  const float fx = 600, fy = 600, cx = 320, cy = 240, w = 640, h = 480;
  const vec3 head(0, 0, 0.6f);
  auto ndc = [&](const vec3& p) {
    const vec3 q = p + head;
    return Eigen::Vector2f(2 * (fx * q.x() / q.z() + cx) / w - 1,
                           2 * (fy * q.y() / q.z() + cy) / h - 1);
  };
  int clockwise = 0, total = 0;
  for (size_t t = 0; t < mesh_->front_triangles.size(); t += 3) {
    const Eigen::Vector2f a = ndc(mesh_->vertex(mesh_->front_triangles[t]));
    const Eigen::Vector2f b = ndc(mesh_->vertex(mesh_->front_triangles[t + 1]));
    const Eigen::Vector2f c = ndc(mesh_->vertex(mesh_->front_triangles[t + 2]));
    const Eigen::Vector2f ab = b - a, ac = c - a;
    clockwise += ab.x() * ac.y() - ab.y() * ac.x() < 0;
    ++total;
  }
  EXPECT_EQ(clockwise, total);
  // The nose points at the camera: the mesh's normals agree with the winding.
  const vec3 tip = mesh_->normals[mesh_->matching[28].second];
  EXPECT_LT(tip.z(), -0.9f);
}

TEST_F(GeneratedModelTest, BlendshapeFileReadsBackWhatTheGeneratorWrote) {
  std::ifstream file(FACE_MODEL_DIR "/shape_avg.bs", std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(file)), {});
  ASSERT_GE(bytes.size(), 12u);
  int32_t header[3];
  std::memcpy(header, bytes.data(), 12);
  const int64_t s = header[0], v = header[1];
  EXPECT_EQ(s, 46);
  EXPECT_EQ(v, mesh_->vertex_count());
  EXPECT_EQ(header[2] * 3, static_cast<int>(mesh_->triangles.size()));
  EXPECT_EQ(static_cast<int64_t>(bytes.size()), 12 + 12 * v * (s + 1));

  Blendshapes blendshapes;
  blendshapes.Load("resources/shape_avg.bs");
  ASSERT_EQ(blendshapes.mean.size(), 3 * v);
  ASSERT_EQ(blendshapes.shapes.cols(), 7);
  for (int i = 0; i < v; ++i) ASSERT_EQ(blendshapes.mean.segment<3>(3 * i), mesh_->vertex(i)) << i;
  const auto* floats = reinterpret_cast<const float*>(bytes.data() + 12);
  const std::vector<int> kept = {0, 1, 21, 27, 28, 35, 38};
  for (int k = 0; k < 7; ++k) {
    const int i = 1234 + 500 * k;
    EXPECT_EQ(blendshapes.shapes(i, k), floats[3 * v * (kept[k] + 1) + i] - floats[i]);
    // Each kept expression moves some matched landmark by at least 3 mm, and differs from the rest.
    float largest = 0;
    for (const auto& pair : mesh_->matching) {
      largest = std::max(largest, blendshapes.shapes.block<3, 1>(3 * pair.second, k).norm());
    }
    EXPECT_GT(largest, 0.003f) << "shape " << k;
    for (int other = 0; other < k; ++other) {
      const float cosine =
          blendshapes.shapes.col(k).normalized().dot(blendshapes.shapes.col(other).normalized());
      EXPECT_LT(std::abs(cosine), 0.9f) << k << " vs " << other;
    }
  }
}

}  // namespace
}  // namespace vantisol
