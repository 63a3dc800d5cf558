#pragma once

namespace vantisol {

// Makes glbinding's entry points ready for the context that is current on the calling thread.
// With `debug`, every GL call is logged and followed by an error check.
void InitializeOpenGl(bool debug);

}  // namespace vantisol
