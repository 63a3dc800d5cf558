#pragma once

#include <map>

#include "pxc/pxc.h"
#include "utils/camera_image.h"

namespace vantisol {

// The face module's output for the current frame, keyed by the runtime's user id.
std::map<int, FaceData> ProcessFace(PXCFaceModule* face_module, bool single_user);

}  // namespace vantisol
