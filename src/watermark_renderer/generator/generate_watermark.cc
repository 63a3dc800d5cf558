// Draws the program's watermark, a 256 × 64 badge, and writes it as PNG: an opaque frame two
// pixels wide, a clear inside, a chevron and three bars, and a red square in the top-left corner
// that shows which way up the picture is.
#include <QColor>
#include <QImage>
#include <cmath>
#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <output.png>\n", argv[0]);
    return 2;
  }
  const int width = 256, height = 64;
  QImage mark(width, height, QImage::Format_ARGB32);
  mark.fill(Qt::transparent);
  const QRgb frame = qRgba(20, 60, 140, 255);
  const QRgb chevron = qRgba(255, 255, 255, 230);
  const QRgb bar = qRgba(20, 60, 140, 200);
  const QRgb corner = qRgba(220, 30, 30, 255);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      QRgb pixel = qRgba(0, 0, 0, 0);
      if (x < 2 || y < 2 || x >= width - 2 || y >= height - 2) {
        pixel = frame;
      } else if (x >= 6 && x < 22 && y >= 6 && y < 22) {
        pixel = corner;
      } else if (x >= 30 && x < 90 && y >= 10 && y < 54) {
        // A "V" of two strokes 8 pixels wide meeting at the bottom centre of its box.
        const float centre = 60, half_width = 30.0f * float(54 - y) / 44.0f;
        if (std::abs(std::abs(float(x) + 0.5f - centre) - half_width) < 5) pixel = chevron;
      } else if (x >= 104 && x < 244 && (y - 14) % 14 < 8 && y >= 14 && y < 50) {
        // Bars of decreasing length toward the bottom.
        if (x < 244 - ((y - 14) / 14) * 40) pixel = bar;
      }
      mark.setPixel(x, y, pixel);
    }
  }
  if (!mark.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
    std::fprintf(stderr, "could not write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
