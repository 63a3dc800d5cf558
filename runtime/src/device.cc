#include "device.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <cwchar>
#include <memory>
#include <vector>

namespace pxcsim {
namespace {

class Calibration : public Object<PXCCalibration> {
 public:
  explicit Calibration(const Device* device) : device_(device) {}
  pxcStatus QueryStreamProjectionParameters(PXCCapture::StreamType stream, StreamCalibration* c,
                                            StreamTransformation* t) override {
    const Camera* camera = stream == PXCCapture::STREAM_TYPE_COLOR   ? device_->color()
                           : stream == PXCCapture::STREAM_TYPE_DEPTH ? device_->depth()
                                                                     : nullptr;
    if (!camera) return PXC_STATUS_PARAM_UNSUPPORTED;
    *c = {{camera->fx, camera->fy},
          {camera->cx, camera->cy},
          {camera->k1, camera->k2, camera->k3},
          {camera->p1, camera->p2}};
    // World is the colour camera; a stream's eye = R * world + T.
    std::memset(t, 0, sizeof(*t));
    for (int i = 0; i < 3; ++i) t->translation[i] = -camera->position[i];
    t->rotation[0][0] = t->rotation[1][1] = t->rotation[2][2] = 1;
    return PXC_STATUS_NO_ERROR;
  }

 private:
  const Device* device_;
};

class Projection : public Object<PXCProjection> {
 public:
  explicit Projection(const Device* device) : calibration_(new Calibration(device)) {}
  ~Projection() override { calibration_->Release(); }
  void* QueryInstance(pxcUID cuid) override {
    return cuid == PXCCalibration::CUID ? static_cast<PXCCalibration*>(calibration_) : nullptr;
  }
  PXCImage* CreateDepthImageMappedToColor(PXCImage* depth, PXCImage* color) override;

  void set_cameras(const Camera* color, const Camera* depth) {
    color_ = color;
    depth_ = depth;
  }
  void set_pool(WorkerPool* pool) { pool_ = pool; }

 private:
  Calibration* calibration_;
  const Camera* color_ = nullptr;
  const Camera* depth_ = nullptr;
  WorkerPool* pool_ = nullptr;  // null: mapped on the calling thread
};

PXCImage* Projection::CreateDepthImageMappedToColor(PXCImage* depth_image, PXCImage* color_image) {
  if (!depth_image || !color_image || !color_ || !depth_) return nullptr;
  const auto ci = color_image->QueryInfo();
  const auto di = depth_image->QueryInfo();
  PXCImage::ImageData in;
  if (depth_image->AcquireAccess(PXCImage::ACCESS_READ, PXCImage::PIXEL_FORMAT_DEPTH, &in) != 0)
    return nullptr;
  auto* out = new Image(ci.width, ci.height, PXCImage::PIXEL_FORMAT_DEPTH, ci.width * 2,
                        depth_image->QueryTimeStamp(), Image::kWrittenWhole);
  auto* target = reinterpret_cast<uint16_t*>(out->pixels());
  std::fill(target, target + size_t(ci.width) * ci.height, uint16_t(0));
  // Each depth sample covers the colour pixels its footprint reaches; the nearest wins, so the
  // samples may be drawn in any order: first every footprint, then bands of colour rows apart.
  struct Footprint {
    uint16_t x0, x1, y0, y1, z;  // z 0: covers nothing
  };
  // Each one written below, so not zeroed first.
  std::unique_ptr<Footprint[]> prints(new Footprint[size_t(di.width) * di.height]);
  std::vector<std::array<int, 2>> rows(size_t(di.height));  // colour rows each depth row covers
  const float scale = color_->fx / depth_->fx * 0.5f + 0.5f;
  WorkerPool serial(1);
  WorkerPool& pool = pool_ ? *pool_ : serial;
  pool.For(di.height, [&](int64_t begin, int64_t end) {
    for (int v = int(begin); v < int(end); ++v) {
      const auto* row = reinterpret_cast<const uint16_t*>(in.planes[0] + size_t(v) * in.pitches[0]);
      auto& covered = rows[size_t(v)];
      covered = {ci.height, 0};
      for (int u = 0; u < di.width; ++u) {
        const size_t i = size_t(v) * di.width + u;
        Footprint& print = prints[i];
        print = {};
        const float z = row[u];
        if (z == 0) continue;
        const float p[3] = {depth_->rays[i * 2] * z + depth_->position[0],
                            depth_->rays[i * 2 + 1] * z + depth_->position[1],
                            z + depth_->position[2]};
        float cu, cv;
        if (!color_->Project(p, &cu, &cv)) continue;
        const int u0 = int(std::floor(cu - scale)), u1 = int(std::ceil(cu + scale));
        const int v0 = int(std::floor(cv - scale)), v1 = int(std::ceil(cv + scale));
        const int x0 = std::max(0, u0), x1 = std::min(ci.width, u1);
        const int y0 = std::max(0, v0), y1 = std::min(ci.height, v1);
        if (x0 >= x1 || y0 >= y1) continue;
        print = {uint16_t(x0), uint16_t(x1), uint16_t(y0), uint16_t(y1), uint16_t(p[2] + 0.5f)};
        covered = {std::min(covered[0], y0), std::max(covered[1], y1)};
      }
    }
  });
  constexpr int kBand = 16;
  pool.For((ci.height + kBand - 1) / kBand, 1, [&](int64_t begin, int64_t end) {
    for (int band = int(begin); band < int(end); ++band) {
      const int top = band * kBand, bottom = std::min(ci.height, top + kBand);
      for (int v = 0; v < di.height; ++v) {
        if (rows[size_t(v)][0] >= bottom || rows[size_t(v)][1] <= top) continue;
        for (int u = 0; u < di.width; ++u) {
          const Footprint& print = prints[size_t(v) * di.width + u];
          if (print.z == 0) continue;
          for (int y = std::max<int>(top, print.y0); y < std::min<int>(bottom, print.y1); ++y)
            for (int x = print.x0; x < print.x1; ++x) {
              uint16_t& t = target[size_t(y) * ci.width + x];
              if (t == 0 || print.z < t) t = print.z;
            }
        }
      }
    }
  });
  depth_image->ReleaseAccess(&in);
  return out;
}

}  // namespace

void Name(wchar_t* out, size_t size, const wchar_t* text) {
  std::wcsncpy(out, text, size - 1);
  out[size - 1] = 0;
}

PXCCapture::DeviceModel Model(const std::string& name) {
  if (name == "SR300") return PXCCapture::DEVICE_MODEL_SR300;
  if (name == "F200") return PXCCapture::DEVICE_MODEL_F200;
  return PXCCapture::DEVICE_MODEL_GENERIC;
}

Camera ColorCamera(int width, int height) {
  Camera c;
  c.width = width, c.height = height;
  c.fx = c.fy = width * 0.741f;
  c.cx = (width - 1) * 0.5f, c.cy = (height - 1) * 0.5f;
  return c;
}

Camera DepthCamera(PXCSizeI32 size) {
  Camera c;
  c.width = size.width, c.height = size.height;
  const float sx = size.width / 640.0f, sy = size.height / 480.0f;
  c.fx = 476.2f * sx, c.fy = 476.9f * sy, c.cx = 313.7f * sx, c.cy = 245.1f * sy;
  c.k1 = 0.14f, c.k2 = -0.21f, c.k3 = 0.05f, c.p1 = 0.0012f, c.p2 = -0.0008f;
  c.position = {25, 0, 0};
  return c;
}

PXCProjection* Device::CreateProjection() {
  auto* p = new Projection(this);
  p->set_cameras(color_, depth_);
  p->set_pool(pool_);
  return p;
}

}  // namespace pxcsim
