// Draws the virtual camera's loading picture and writes it as PNG:
//   make_loading_picture <output.png>
// The frame client copies the file's rows unchanged into a bottom-up blue-green-red sample, so the
// file holds the picture upside down with red and blue swapped; seen in the sample, it is upright.
// Marks in the corners (red top left, green top right, blue bottom left) show position,
// orientation and channel order.

#include <lodepng.h>

#include <cstdio>
#include <vector>

namespace {

constexpr int kWidth = 400;
constexpr int kHeight = 300;
constexpr int kMark = 50;

struct Rgb {
  unsigned char r, g, b;
};

// The picture as it is meant to be seen, y downwards.
Rgb Seen(int x, int y) {
  const bool left = x < kMark;
  const bool right = x >= kWidth - kMark;
  const bool top = y < kMark;
  const bool bottom = y >= kHeight - kMark;
  if (top && left) return {255, 0, 0};
  if (top && right) return {0, 255, 0};
  if (bottom && left) return {0, 0, 255};
  // A bar across the middle, as a progress bar would be.
  if (x >= 100 && x < 300 && y >= 140 && y < 160) return {64, 64, 64};
  return {230, 230, 230};
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_loading_picture <output.png>\n");
    return 2;
  }
  std::vector<unsigned char> stored(static_cast<size_t>(kWidth) * kHeight * 3);
  for (int j = 0; j < kHeight; ++j) {
    for (int x = 0; x < kWidth; ++x) {
      const Rgb seen = Seen(x, kHeight - 1 - j);
      unsigned char* out = &stored[(static_cast<size_t>(j) * kWidth + x) * 3];
      out[0] = seen.b;
      out[1] = seen.g;
      out[2] = seen.r;
    }
  }
  const unsigned error = lodepng::encode(argv[1], stored, kWidth, kHeight, LCT_RGB, 8);
  if (error != 0) {
    std::fprintf(stderr, "make_loading_picture: %s\n", lodepng_error_text(error));
    return 1;
  }
  return 0;
}
