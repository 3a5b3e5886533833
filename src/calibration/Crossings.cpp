#include "Crossings.h"

#include "CrossingCandidates.h"
#include "CrossingLines.h"
#include "Geomet.h"

#include <algorithm>
#include <cmath>

namespace {

// Arms start this far from the crossing, clear of the other line's middle.
constexpr int kGap = 3;
// The profiles across the lines reach this far from them, beyond the arms.
constexpr int kProfileMargin = 10;
// This many of the strongest candidates of a window are measured.
constexpr int kMaxCandidates = 6;
// Crossings measured closer than this are one.
constexpr double kSame = 2.5;
// The profiles of a scan of one bit a pixel average several pixels along the line, whose grain is
// this much finer than that of the window's single pixels: a faint dithered line stands out of it.
constexpr double kBinaryGrain = 0.7;

}  // namespace

TRect TCrossingSearch::Window() const {
  const int margin = kGap + Fit + kProfileMargin;
  const int x = static_cast<int>(std::floor(X)), y = static_cast<int>(std::floor(Y));
  return TRect{x - RadiusX - margin, y - RadiusY - margin, x + 1 + RadiusX + margin + 1,
               y + 1 + RadiusY + margin + 1};
}

std::vector<TCrossing> FindCrossings(const TDarkWindow& scanned, const TCrossingSearch& search) {
  const TDarkWindow smoothed = scanned.Binary ? Smoothed(scanned) : TDarkWindow{};
  const TDarkWindow& window = scanned.Binary ? smoothed : scanned;
  if (window.Width == 0 || window.Height == 0) return {};
  const double threshold = LineThreshold(window) * (scanned.Binary ? kBinaryGrain : 1.0);
  std::vector<TCrossing> found;
  // Where the crossing is expected is measured too: between the edges of a cased road the grid's
  // own line may make no peak of its own.
  std::vector<TWorldPoint> points{{search.X - window.Left, search.Y - window.Top}};
  for (const TCandidate& candidate : FindCandidates(window, search, kGap, kMaxCandidates))
    points.push_back({double(candidate.X), double(candidate.Y)});
  for (const TWorldPoint& point : points) {
    // A candidate next to a crossing measured already would come to the same.
    const bool measured = std::any_of(found.begin(), found.end(), [&](const TCrossing& c) {
      return std::hypot(c.X - window.Left - point.X, c.Y - window.Top - point.Y) < kSame;
    });
    TCrossing crossing;
    if (measured || !MeasureCrossing(window, search, kGap, threshold, point.X, point.Y, crossing))
      continue;
    bool fresh = true;
    for (TCrossing& other : found)
      if (std::hypot(other.X - crossing.X, other.Y - crossing.Y) < kSame) {
        fresh = false;
        if (crossing.Confidence > other.Confidence) other = crossing;
      }
    if (fresh) found.push_back(crossing);
  }
  std::stable_sort(found.begin(), found.end(), [](const TCrossing& a, const TCrossing& b) {
    return a.Confidence > b.Confidence;
  });
  return found;
}
