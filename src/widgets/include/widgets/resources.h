#pragma once

namespace vantisol {

// Registers the interface's pictures, icons and font (":/..." paths); call once before building
// a form. Later calls do nothing.
void RegisterWidgetResources();

}  // namespace vantisol
