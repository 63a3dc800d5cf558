// Draws the program's default replacement background: a calm, softly lit wall with a window and
// a shelf, 1280x720, written as JPEG.

#include <cstdio>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_background FILE.jpg\n");
    return 2;
  }
  const int width = 1280;
  const int height = 720;
  cv::Mat image(height, width, CV_8UC3);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      // Light falls from the upper left.
      const double light = 1.0 - 0.25 * (double(x) / width) - 0.2 * (double(y) / height);
      image.at<cv::Vec3b>(y, x) =
          cv::Vec3b(cv::saturate_cast<uchar>(150 * light), cv::saturate_cast<uchar>(190 * light),
                    cv::saturate_cast<uchar>(215 * light));
    }
  }
  // Floor.
  cv::rectangle(image, {0, 560}, {width, height}, {70, 100, 135}, cv::FILLED);
  // Window with a sky and its frame.
  cv::rectangle(image, {820, 90}, {1160, 400}, {235, 205, 150}, cv::FILLED);
  cv::rectangle(image, {820, 90}, {1160, 400}, {245, 245, 245}, 14);
  cv::line(image, {990, 90}, {990, 400}, {245, 245, 245}, 10);
  cv::line(image, {820, 245}, {1160, 245}, {245, 245, 245}, 10);
  // Shelf with books.
  cv::rectangle(image, {90, 300}, {470, 318}, {40, 70, 110}, cv::FILLED);
  const cv::Scalar colours[] = {{60, 60, 170}, {150, 110, 40}, {50, 140, 60}, {40, 150, 200}};
  for (int i = 0; i < 9; ++i) {
    const int left = 110 + i * 38;
    cv::rectangle(image, {left, 215 + (i % 3) * 12}, {left + 30, 300}, colours[i % 4], cv::FILLED);
  }
  // Plant.
  cv::rectangle(image, {160, 470}, {240, 560}, {60, 80, 150}, cv::FILLED);
  cv::ellipse(image, {200, 430}, {70, 55}, 0, 0, 360, {60, 130, 50}, cv::FILLED);
  cv::GaussianBlur(image, image, {0, 0}, 3.0);
  return cv::imwrite(argv[1], image, {cv::IMWRITE_JPEG_QUALITY, 90}) ? 0 : 1;
}
