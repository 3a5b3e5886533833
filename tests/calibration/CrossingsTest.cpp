#include "Crossings.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

// A window of darkness holding two lines of the given width, anti-aliased, that cross at (cx, cy)
// (window pixels) turned by the angle, on paper with a little grain.
TDarkWindow CrossWindow(int size, double cx, double cy, double width, double angle) {
  TDarkWindow window;
  window.Width = window.Height = size;
  window.Pixels.resize(static_cast<size_t>(size) * size);
  const double c = std::cos(angle), s = std::sin(angle);
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size; ++x) {
      const double u = (x - cx) * c + (y - cy) * s, v = -(x - cx) * s + (y - cy) * c;
      const double cover =
          std::clamp(width / 2 + 0.5 - std::min(std::abs(u), std::abs(v)), 0.0, 1.0);
      window.Pixels[static_cast<size_t>(y) * size + x] =
          static_cast<uint8_t>(20 + 200 * cover + (x * 7 + y * 13) % 9);
    }
  return window;
}

TCrossingSearch SearchAt(double x, double y, int radius) {
  TCrossingSearch search;
  search.X = x;
  search.Y = y;
  search.RadiusX = search.RadiusY = radius;
  search.Arm = 16;
  return search;
}

}  // namespace

// Thin and wide lines, square and turned: the crossing to a fraction of a pixel, and the lines'
// directions.
TEST(FindCrossings, FindsACrossingToAFractionOfAPixel) {
  for (double width : {1.0, 2.0, 3.5, 5.0})
    for (double angle : {0.0, 0.02, -0.035}) {
      const double cx = 90.3, cy = 86.7;
      const TDarkWindow window = CrossWindow(180, cx, cy, width, angle);
      const std::vector<TCrossing> found = FindCrossings(window, SearchAt(84, 92, 12));
      ASSERT_FALSE(found.empty()) << width << " " << angle;
      const TCrossing& best = found.front();
      EXPECT_NEAR(best.X, cx, 0.15) << width << " " << angle;
      EXPECT_NEAR(best.Y, cy, 0.15) << width << " " << angle;
      EXPECT_NEAR(best.SlopeAcross, std::tan(angle), 0.01) << width << " " << angle;
      EXPECT_NEAR(best.SlopeDown, -std::tan(angle), 0.01) << width << " " << angle;
      EXPECT_GT(best.Confidence, 0.9);
      EXPECT_TRUE(best.Clear);
      // The other line hides the first pixels of each arm beyond the gap.
      EXPECT_GE(best.Reach, 30 - std::ceil(width));
    }
}

// A crossing shows the arms the search needs: a corner of the grid's frame has two, a line that
// only passes has no crossing, and a second line running close beside one of the lines makes the
// crossing doubtful.
TEST(FindCrossings, WantsTheArmsTheSearchNeedsAndDoubtsLinesWithOthersBeside) {
  TDarkWindow corner = CrossWindow(180, 90, 90, 2, 0);
  for (int y = 0; y < 180; ++y)
    for (int x = 0; x < 180; ++x)
      if (x < 87 || y < 87) corner.Pixels[static_cast<size_t>(y) * 180 + x] = 20;
  TCrossingSearch search = SearchAt(90, 90, 10);
  EXPECT_TRUE(FindCrossings(corner, search).empty() ||
              FindCrossings(corner, search).front().Confidence < 0.5);
  search.NeedLeft = search.NeedUp = false;
  const std::vector<TCrossing> found = FindCrossings(corner, search);
  ASSERT_FALSE(found.empty());
  EXPECT_NEAR(found.front().X, 90, 0.3);
  EXPECT_NEAR(found.front().Y, 90, 0.3);

  TDarkWindow line = CrossWindow(180, 90, 90, 2, 0);
  for (int y = 0; y < 180; ++y)
    for (int x = 0; x < 180; ++x)
      if (std::abs(y - 90) > 2) line.Pixels[static_cast<size_t>(y) * 180 + x] = 20;
  EXPECT_TRUE(FindCrossings(line, SearchAt(90, 90, 10)).empty());

  TDarkWindow beside = CrossWindow(180, 90, 90, 2, 0);
  for (int x = 0; x < 180; ++x)
    for (int y = 94; y <= 95; ++y) beside.Pixels[static_cast<size_t>(y) * 180 + x] = 220;
  const std::vector<TCrossing> doubtful = FindCrossings(beside, SearchAt(90, 90, 10));
  ASSERT_FALSE(doubtful.empty());
  for (const TCrossing& c : doubtful) EXPECT_FALSE(c.Clear) << c.X << ", " << c.Y;
}
