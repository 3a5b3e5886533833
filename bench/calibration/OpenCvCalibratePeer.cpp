// The same job as `velmora-cli calibrate` done the way an OpenCV user would, in the strongest
// configuration such a user picks: read the image, and for every cell of the grid (the border
// bands of one cell included) build a two-channel float map of the cell's bilinear mapping and
// remap the cell with nearest-neighbour sampling and white outside, with OpenCV's threads on every
// core asked for; then write the image. For the benchmark only.
//
//   opencv_calibrate_peer IN.bmp OUT.bmp GRID.txt [THREADS]
// GRID.txt: "CX CY OX OY SX SY" and then one "I J X Y" line per moved node. THREADS is what
// cv::setNumThreads gets (default 2; 1 runs everything on one core).
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 4 && argc != 5) {
    std::fprintf(stderr, "usage: opencv_calibrate_peer IN.bmp OUT.bmp GRID.txt [THREADS]\n");
    return 2;
  }
  cv::setNumThreads(argc == 5 ? std::atoi(argv[4]) : 2);
  std::ifstream gridFile(argv[3]);
  int cx, cy, ox, oy, sx, sy;
  if (!(gridFile >> cx >> cy >> ox >> oy >> sx >> sy) || cx < 1 || cy < 1 || sx < 1 || sy < 1)
    return 1;
  const int nx = cx + 1;
  std::vector<cv::Point2f> node(static_cast<size_t>(nx) * (cy + 1));
  for (int j = 0; j <= cy; ++j)
    for (int i = 0; i <= cx; ++i)
      node[static_cast<size_t>(i + j * nx)] = cv::Point2f(float(ox + i * sx), float(oy + j * sy));
  for (int i, j, x, y; gridFile >> i >> j >> x >> y;)
    node[static_cast<size_t>(i + j * nx)] = cv::Point2f(float(x), float(y));

  const cv::Mat source = cv::imread(argv[1], cv::IMREAD_UNCHANGED);
  if (source.empty()) return 1;
  // Pixels beyond the border bands keep their colours; those within are all remapped, so only the
  // margins outside the bands are copied.
  const cv::Rect whole(0, 0, source.cols, source.rows);
  const cv::Rect covered =
      cv::Rect(cv::Point(ox - sx, oy - sy), cv::Point(ox + (cx + 1) * sx, oy + (cy + 1) * sy)) &
      whole;
  cv::Mat result(source.size(), source.type());
  if (covered != whole) source.copyTo(result);

  cv::Mat map;
  for (int c = -1; c <= cy; ++c)
    for (int d = -1; d <= cx; ++d) {
      const cv::Rect cell = cv::Rect(ox + d * sx, oy + c * sy, sx, sy) & whole;
      if (cell.empty()) continue;
      const int a = std::clamp(d, 0, cx - 1);
      const int b = std::clamp(c, 0, cy - 1);
      const cv::Point2f q0 = node[static_cast<size_t>(a + b * nx)];
      const cv::Point2f q1 = node[static_cast<size_t>(a + 1 + b * nx)];
      const cv::Point2f q2 = node[static_cast<size_t>(a + 1 + (b + 1) * nx)];
      const cv::Point2f q3 = node[static_cast<size_t>(a + (b + 1) * nx)];
      const float left = float(ox + a * sx);
      const float top = float(oy + b * sy);
      // Bilinear: the point at u on the top edge, moved by v towards the point at u on the bottom.
      std::vector<cv::Point2f> upper(static_cast<size_t>(cell.width));
      std::vector<cv::Point2f> down(static_cast<size_t>(cell.width));
      for (int k = 0; k < cell.width; ++k) {
        const float u = (float(cell.x + k) - left) / float(sx);
        upper[k] = q0 + (q1 - q0) * u;
        down[k] = q3 + (q2 - q3) * u - upper[k];
      }
      map.create(cell.height, cell.width, CV_32FC2);
      for (int y = 0; y < cell.height; ++y) {
        const float v = (float(cell.y + y) - top) / float(sy);
        auto* out = map.ptr<cv::Point2f>(y);
        for (int k = 0; k < cell.width; ++k) out[k] = upper[k] + down[k] * v;
      }
      cv::Mat target = result(cell);
      cv::remap(source, target, map, cv::noArray(), cv::INTER_NEAREST, cv::BORDER_CONSTANT,
                cv::Scalar::all(255));
    }
  return cv::imwrite(argv[2], result) ? 0 : 1;
}
