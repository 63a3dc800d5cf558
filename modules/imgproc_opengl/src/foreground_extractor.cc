#include "imgproc_opengl/foreground_extractor.h"

#include <glbinding/gl/gl.h>

#include <algorithm>

#include "utils/logging.h"

using namespace gl;

namespace vantisol {
namespace opengl {

namespace {

const char kTrimapProgram[] = R"(#version 430
uniform usampler2D input_texture;
layout(r8ui) uniform writeonly uimage2D faces;
uniform int x[4];
uniform int y[4];
uniform int w[4];
uniform int h[4];
uniform int num_faces;
uniform int threshold;
out vec4 trimap;
void main() {
  ivec2 p = ivec2(gl_FragCoord.xy);
  uint d = texelFetch(input_texture, p, 0).r;
  uint person = 0u;
  if (d != 0u) {
    bool near = d < uint(threshold);
    trimap = vec4(near ? 1.0 : 0.0);
    person = near ? 255u : 0u;
  } else {
    trimap = vec4(128.0 / 255.0);
    for (int i = 0; i < num_faces; ++i) {
      if (x[i] <= p.x && p.x < x[i] + w[i] && y[i] <= p.y && p.y < y[i] + h[i]) {
        person = 255u;
        break;
      }
    }
  }
  imageStore(faces, p, uvec4(person));
}
)";

// Keeps the trimap (1) only where the coarse dilated person reaches; elsewhere background (0).
const char kMaskProgram[] = R"(#version 430
uniform sampler2D input_texture;
uniform int w;
uniform int h;
out vec4 keep;
void main() {
  float person = texture(input_texture, gl_FragCoord.xy / vec2(w, h)).r;
  keep = vec4(person > 1.0 - 0.5 / 255.0 ? 1.0 : 0.0);
}
)";

constexpr int kHistogramBins = 65536;
constexpr int kSampleStep = 16;

}  // namespace

int GetThreshold(const Image& image, const std::vector<FaceData>& faces, int window) {
  VANTISOL_CHECK(!image.empty());
  int start = 0;
  for (const FaceData& face : faces) start = std::max(start, face.average_depth);
  // The window stays inside the 16-bit histogram.
  start = std::min(start, kHistogramBins - 1);
  int s = start;
  int e = int(std::min<int64_t>(int64_t(start) + window, kHistogramBins - 1));
  int m = (s + e) / 2;
  if (s >= e) return m;
  // One spare bin: the search may look one past its end on its last step.
  std::vector<int> bins(kHistogramBins + 1, 0);
  // An empty picture leaves the histogram empty: the search then ends at the window's far end.
  if (!image.empty() && image.format == Image::Format::kGray16 && image.data) {
    const auto* depth = reinterpret_cast<const uint16_t*>(image.data.get());
    for (int row = 0; row < image.size.height; row += kSampleStep)
      for (int column = 0; column < image.size.width; column += kSampleStep)
        ++bins[depth[size_t(row) * image.size.width + column]];
  }
  int64_t left = 0, right = 0;
  for (int i = s; i <= m; ++i) left += bins[i];
  for (int i = m + 1; i <= e; ++i) right += bins[i];
  while (s < e) {
    if (right > left) {
      right -= bins[e];
      --e;
      if ((s + e) / 2 < m) {
        left -= bins[m];
        right += bins[m];
        --m;
      }
    } else {
      left -= bins[s];
      ++s;
      if ((s + e) / 2 >= m) {
        left += bins[m + 1];
        right -= bins[m + 1];
        ++m;
      }
    }
  }
  return m;
}

ForegroundExtractor::ForegroundExtractor()
    : trimap_processor_(kTrimapProgram), mask_processor_(kMaskProgram) {
  mask_processor_.resize_output = false;
  dilated_person_.SetInterpolation(Texture::Nearest);
  dilation_.set_scale_back(false);
}

void ForegroundExtractor::Extract(Texture& projected_depth, Texture& trimap,
                                  std::vector<FaceData> faces, const Image* depth_image,
                                  int threshold) {
  const std::vector<FaceData>& face_distances = faces;
  VANTISOL_CHECK(!face_distances.empty()) << "at least one face is needed";
  VANTISOL_CHECK(face_distances.size() <= 4) << "at most four faces are handled";
  // Beyond four faces the boxes of the first four count.
  if (faces.size() > size_t(kMaxFaces)) faces.resize(kMaxFaces);

  last_threshold_ =
      depth_image != nullptr ? GetThreshold(*depth_image, faces, threshold) : threshold;

  std::vector<int> x(kMaxFaces, 0), y(kMaxFaces, 0), w(kMaxFaces, 0), h(kMaxFaces, 0);
  for (size_t i = 0; i < faces.size(); ++i) {
    x[i] = faces[i].rect.x;
    y[i] = faces[i].rect.y;
    w[i] = faces[i].rect.width;
    h[i] = faces[i].rect.height;
  }
  Shader& shader = trimap_processor_.shader();
  shader.SetUniform("x", x);
  shader.SetUniform("y", y);
  shader.SetUniform("w", w);
  shader.SetUniform("h", h);
  shader.SetUniform("num_faces", int(faces.size()));
  shader.SetUniform("threshold", last_threshold_);
  person_.Resize(projected_depth.size());
  {
    auto image = person_.ScopedBindImage(0, Texture::Access::WriteOnly);
    trimap_processor_.Run(projected_depth, trimap);
  }
  // The person image was written through an image unit; the passes below sample it.
  glMemoryBarrier(GL_TEXTURE_FETCH_BARRIER_BIT | GL_FRAMEBUFFER_BARRIER_BIT);
  dumper_.Save("Threshold", trimap);
  dumper_.Save("Faces", person_);
  glDisable(GL_BLEND);

  erosion_.Apply(trimap, trimap);
  erosion_.Apply(person_, person_);
  dumper_.Save("Eroded Threshold", trimap);
  dumper_.Save("Eroded Output", person_);

  dilation_.Apply(person_, dilated_person_, 8);
  dumper_.Save("Increased white", dilated_person_);

  glEnable(GL_BLEND);
  glBlendFunc(GL_ONE_MINUS_SRC_COLOR, GL_SRC_COLOR);
  glBlendEquation(GL_FUNC_ADD);
  mask_processor_.shader().SetUniform("w", trimap.size().width);
  mask_processor_.shader().SetUniform("h", trimap.size().height);
  mask_processor_.Run(dilated_person_, trimap);
  glDisable(GL_BLEND);
  dumper_.Save("Trimap", trimap);
}

}  // namespace opengl
}  // namespace vantisol
