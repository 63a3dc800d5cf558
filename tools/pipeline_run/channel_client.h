#pragma once

#include <string>

namespace vantisol::tools {

// The virtual camera's side of the frame channel in its own process: asks for width x height,
// takes every new frame out of the shared memory (polling every 2 ms) until its standard input
// ends, writes every k-th frame as PNG when k > 0 and then the last one as client_last.png, and
// prints "received <frames> frames" with the last frame's mean pixel value, and the frames taken
// per whole second (after the first ten) on runs longer than twelve seconds.
int RunChannelClient(int width, int height, int png_every, const std::string& folder);

}  // namespace vantisol::tools
