// The same job as `velmora-cli calibrate` done the way an OpenCV user would: read the image, build
// the per-pixel map of the cell-by-cell bilinear mapping (border bands of one cell included), remap
// with nearest-neighbour sampling and white outside, write the image. For the benchmark only.
//
//   opencv_calibrate_peer IN.bmp OUT.bmp GRID.txt
// GRID.txt: "CX CY OX OY SX SY" and then one "I J X Y" line per moved node.
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: opencv_calibrate_peer IN.bmp OUT.bmp GRID.txt\n");
    return 2;
  }
  std::ifstream gridFile(argv[3]);
  int cx, cy, ox, oy, sx, sy;
  if (!(gridFile >> cx >> cy >> ox >> oy >> sx >> sy)) return 1;
  const int nx = cx + 1;
  std::vector<cv::Point2f> node(static_cast<size_t>(nx) * (cy + 1));
  for (int j = 0; j <= cy; ++j)
    for (int i = 0; i <= cx; ++i)
      node[static_cast<size_t>(i + j * nx)] = cv::Point2f(float(ox + i * sx), float(oy + j * sy));
  for (int i, j, x, y; gridFile >> i >> j >> x >> y;)
    node[static_cast<size_t>(i + j * nx)] = cv::Point2f(float(x), float(y));

  const cv::Mat source = cv::imread(argv[1], cv::IMREAD_UNCHANGED);
  if (source.empty()) return 1;
  cv::Mat mapX(source.size(), CV_32FC1), mapY(source.size(), CV_32FC1);
  for (int y = 0; y < source.rows; ++y) {
    float* mx = mapX.ptr<float>(y);
    float* my = mapY.ptr<float>(y);
    const int c = static_cast<int>(std::floor(double(y - oy) / sy));
    const int b = std::clamp(c, 0, cy - 1);
    const double v = double(y - (oy + b * sy)) / sy;
    for (int x = 0; x < source.cols; ++x) {
      const int d = static_cast<int>(std::floor(double(x - ox) / sx));
      if (d < -1 || d > cx || c < -1 || c > cy) {
        mx[x] = float(x);
        my[x] = float(y);
        continue;
      }
      const int a = std::clamp(d, 0, cx - 1);
      const double u = double(x - (ox + a * sx)) / sx;
      const cv::Point2f& q0 = node[static_cast<size_t>(a + b * nx)];
      const cv::Point2f& q1 = node[static_cast<size_t>(a + 1 + b * nx)];
      const cv::Point2f& q2 = node[static_cast<size_t>(a + 1 + (b + 1) * nx)];
      const cv::Point2f& q3 = node[static_cast<size_t>(a + (b + 1) * nx)];
      mx[x] =
          float((1 - u) * (1 - v) * q0.x + u * (1 - v) * q1.x + u * v * q2.x + (1 - u) * v * q3.x);
      my[x] =
          float((1 - u) * (1 - v) * q0.y + u * (1 - v) * q1.y + u * v * q2.y + (1 - u) * v * q3.y);
    }
  }
  cv::Mat result;
  cv::remap(source, result, mapX, mapY, cv::INTER_NEAREST, cv::BORDER_CONSTANT,
            cv::Scalar::all(255));
  return cv::imwrite(argv[2], result) ? 0 : 1;
}
