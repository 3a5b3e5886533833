#include "CrossingCandidates.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

// A line is darker than the paper this far on both sides of its middle, at one of these
// distances: near for a thin line between the edges of a cased road, far for a wide line.
constexpr int kRidgeOffsets[] = {2, 3, 5};
constexpr int kRidgeOffset = 5;
// Of the local maxima of the score, this many strongest are considered, down to this fraction of
// the strongest.
constexpr int kRankedPeaks = 64;
constexpr uint32_t kWeakPeak = 8;
// The arms summed are no longer than this: enough to tell the grid's lines from the strokes of
// words, and the window's part analysed stays small; the crossings' measure follows them further.
constexpr int kMostArm = 20;
// Candidates closer than this are one crossing.
constexpr int kSeparation = 4;
// The lines of a grid run no steeper than this (as a slope) against the lattice's.
constexpr double kMaxSlope = 0.5;

// The cross filter over the part of a window that the search's reach and arms cover: the ridge of
// lines across (darker than the pixels some distance above and below) and of lines down, each
// spread over a pixel or two across the line, sheared along the predicted direction so that a line
// of the grid runs along a row (or a column), and summed along it.
class TCrossFilter {
 public:
  TCrossFilter(const TDarkWindow& window, const TCrossingSearch& search, int gap);
  std::vector<TCandidate> Peaks(int count) const;

 private:
  void Crop(const TDarkWindow& window);
  void SumAcross(std::vector<uint8_t>& ridge, std::vector<uint8_t>& spread);
  void SumDown(std::vector<uint8_t>& ridge, std::vector<uint8_t>& spread);
  uint32_t Score(int x, int y) const;

  const TCrossingSearch& FSearch;
  int FGap, FArm, FSpread;
  double FSlopeAcross, FSlopeDown;
  // The part of the window analysed, its place in the window, and the predicted crossing in it.
  std::vector<uint8_t> FPixels;
  int FLeft = 0, FTop = 0, FW = 0, FH = 0;
  double FCX = 0, FCY = 0;
  std::vector<int> FShiftAcross, FShiftDown;
  std::vector<uint32_t> FPrefixAcross;  // per row of the sheared ridge, FW + 1 sums
  std::vector<uint32_t> FPrefixDown;    // per column, FH + 1 rows of FW sums
};

TCrossFilter::TCrossFilter(const TDarkWindow& window, const TCrossingSearch& search, int gap)
    : FSearch(search),
      FGap(gap),
      FArm(std::min(search.Arm, kMostArm)),
      FSpread(search.DirectionsKnown ? 1 : 2),
      FSlopeAcross(std::clamp(search.SlopeAcross, -kMaxSlope, kMaxSlope)),
      FSlopeDown(std::clamp(search.SlopeDown, -kMaxSlope, kMaxSlope)) {
  Crop(window);
  if (FW < 2 * kRidgeOffset + 1 || FH < 2 * kRidgeOffset + 1) return;
  std::vector<uint8_t> ridge, spread;
  SumAcross(ridge, spread);
  SumDown(ridge, spread);
}

void TCrossFilter::Crop(const TDarkWindow& window) {
  const double cx = FSearch.X - window.Left, cy = FSearch.Y - window.Top;
  const int reach = FGap + FArm + 1;
  const int shearX = static_cast<int>(std::ceil(std::abs(FSlopeDown) * (FSearch.RadiusY + reach)));
  const int shearY =
      static_cast<int>(std::ceil(std::abs(FSlopeAcross) * (FSearch.RadiusX + reach)));
  const int marginX = reach + kRidgeOffset + FSpread + shearX + 1;
  const int marginY = reach + kRidgeOffset + FSpread + shearY + 1;
  FLeft = std::max(0, static_cast<int>(std::floor(cx)) - FSearch.RadiusX - marginX);
  FTop = std::max(0, static_cast<int>(std::floor(cy)) - FSearch.RadiusY - marginY);
  const int right =
      std::min(window.Width, static_cast<int>(std::ceil(cx)) + FSearch.RadiusX + marginX + 1);
  const int bottom =
      std::min(window.Height, static_cast<int>(std::ceil(cy)) + FSearch.RadiusY + marginY + 1);
  FW = std::max(0, right - FLeft);
  FH = std::max(0, bottom - FTop);
  FCX = cx - FLeft;
  FCY = cy - FTop;
  FPixels.resize(static_cast<size_t>(FW) * FH);
  for (int y = 0; y < FH; ++y)
    std::copy_n(window.Row(y + FTop) + FLeft, FW, FPixels.data() + static_cast<size_t>(y) * FW);
}

void TCrossFilter::SumAcross(std::vector<uint8_t>& ridge, std::vector<uint8_t>& spread) {
  const size_t n = static_cast<size_t>(FW) * FH;
  ridge.assign(n, 0);
  for (int y = kRidgeOffset; y < FH - kRidgeOffset; ++y) {
    const uint8_t* c = FPixels.data() + static_cast<size_t>(y) * FW;
    uint8_t* r = ridge.data() + static_cast<size_t>(y) * FW;
    for (int offset : kRidgeOffsets) {
      const uint8_t* a = c - static_cast<ptrdiff_t>(offset) * FW;
      const uint8_t* b = c + static_cast<ptrdiff_t>(offset) * FW;
      for (int x = 0; x < FW; ++x) {
        const uint8_t da = c[x] > a[x] ? c[x] - a[x] : 0;
        const uint8_t db = c[x] > b[x] ? c[x] - b[x] : 0;
        r[x] = std::max(r[x], std::min(da, db));
      }
    }
  }
  spread.assign(n, 0);
  for (int y = 0; y < FH; ++y) {
    uint8_t* s = spread.data() + static_cast<size_t>(y) * FW;
    for (int t = std::max(0, y - FSpread); t <= std::min(FH - 1, y + FSpread); ++t) {
      const uint8_t* r = ridge.data() + static_cast<size_t>(t) * FW;
      for (int x = 0; x < FW; ++x) s[x] = std::max(s[x], r[x]);
    }
  }
  FShiftAcross.resize(static_cast<size_t>(FW));
  for (int x = 0; x < FW; ++x)
    FShiftAcross[static_cast<size_t>(x)] = static_cast<int>(std::lround(FSlopeAcross * (x - FCX)));
  FPrefixAcross.assign(static_cast<size_t>(FW + 1) * FH, 0);
  for (int y = 0; y < FH; ++y) {
    uint32_t* p = FPrefixAcross.data() + static_cast<size_t>(y) * (FW + 1);
    uint32_t sum = 0;
    for (int x = 0; x < FW; ++x) {
      const int yy = y + FShiftAcross[static_cast<size_t>(x)];
      if (yy >= 0 && yy < FH) sum += spread[static_cast<size_t>(yy) * FW + x];
      p[x + 1] = sum;
    }
  }
}

void TCrossFilter::SumDown(std::vector<uint8_t>& ridge, std::vector<uint8_t>& spread) {
  const size_t n = static_cast<size_t>(FW) * FH;
  ridge.assign(n, 0);
  for (int y = 0; y < FH; ++y) {
    const uint8_t* c = FPixels.data() + static_cast<size_t>(y) * FW;
    uint8_t* r = ridge.data() + static_cast<size_t>(y) * FW;
    for (int offset : kRidgeOffsets)
      for (int x = kRidgeOffset; x < FW - kRidgeOffset; ++x) {
        const uint8_t da = c[x] > c[x - offset] ? c[x] - c[x - offset] : 0;
        const uint8_t db = c[x] > c[x + offset] ? c[x] - c[x + offset] : 0;
        r[x] = std::max(r[x], std::min(da, db));
      }
  }
  spread.assign(n, 0);
  for (int y = 0; y < FH; ++y) {
    const uint8_t* r = ridge.data() + static_cast<size_t>(y) * FW;
    uint8_t* s = spread.data() + static_cast<size_t>(y) * FW;
    for (int t = -FSpread; t <= FSpread; ++t) {
      const int from = std::max(0, -t), to = std::min(FW, FW - t);
      for (int x = from; x < to; ++x) s[x] = std::max(s[x], r[x + t]);
    }
  }
  FShiftDown.resize(static_cast<size_t>(FH));
  for (int y = 0; y < FH; ++y)
    FShiftDown[static_cast<size_t>(y)] = static_cast<int>(std::lround(FSlopeDown * (y - FCY)));
  FPrefixDown.assign(static_cast<size_t>(FW) * (FH + 1), 0);
  for (int y = 0; y < FH; ++y) {
    const uint32_t* above = FPrefixDown.data() + static_cast<size_t>(y) * FW;
    uint32_t* p = FPrefixDown.data() + static_cast<size_t>(y + 1) * FW;
    const int shift = FShiftDown[static_cast<size_t>(y)];
    const uint8_t* s = spread.data() + static_cast<size_t>(y) * FW;
    for (int x = 0; x < FW; ++x) {
      const int xx = x + shift;
      p[x] = above[x] + (xx >= 0 && xx < FW ? s[xx] : 0);
    }
  }
}

// A point's score: the ridge along its weakest needed arm, over the arm's length beyond the gap.
uint32_t TCrossFilter::Score(int x, int y) const {
  uint32_t weakest = UINT32_MAX;
  const int row = y - FShiftAcross[static_cast<size_t>(x)];
  const uint32_t* p =
      row >= 0 && row < FH ? FPrefixAcross.data() + static_cast<size_t>(row) * (FW + 1) : nullptr;
  if (FSearch.NeedLeft) {
    const int a = x - FGap - FArm + 1, b = x - FGap + 1;
    weakest = std::min(weakest, p && a >= 0 ? p[b] - p[a] : 0u);
  }
  if (FSearch.NeedRight) {
    const int a = x + FGap, b = x + FGap + FArm;
    weakest = std::min(weakest, p && b <= FW ? p[b] - p[a] : 0u);
  }
  const int column = x - FShiftDown[static_cast<size_t>(y)];
  const bool inside = column >= 0 && column < FW;
  auto down = [&](int a, int b) {
    return FPrefixDown[static_cast<size_t>(b) * FW + column] -
           FPrefixDown[static_cast<size_t>(a) * FW + column];
  };
  if (FSearch.NeedUp) {
    const int a = y - FGap - FArm + 1, b = y - FGap + 1;
    weakest = std::min(weakest, inside && a >= 0 ? down(a, b) : 0u);
  }
  if (FSearch.NeedDown) {
    const int a = y + FGap, b = y + FGap + FArm;
    weakest = std::min(weakest, inside && b <= FH ? down(a, b) : 0u);
  }
  return weakest == UINT32_MAX ? 0 : weakest;
}

// Local maxima of the score within the search's reach, strongest first, one per neighbourhood.
std::vector<TCandidate> TCrossFilter::Peaks(int count) const {
  if (FPrefixAcross.empty()) return {};
  const int x0 = std::max(0, static_cast<int>(std::floor(FCX)) - FSearch.RadiusX);
  const int x1 = std::min(FW - 1, static_cast<int>(std::ceil(FCX)) + FSearch.RadiusX);
  const int y0 = std::max(0, static_cast<int>(std::floor(FCY)) - FSearch.RadiusY);
  const int y1 = std::min(FH - 1, static_cast<int>(std::ceil(FCY)) + FSearch.RadiusY);
  if (x0 > x1 || y0 > y1) return {};
  const int rw = x1 - x0 + 1, rh = y1 - y0 + 1;
  std::vector<uint32_t> score(static_cast<size_t>(rw) * rh, 0);
  for (int y = y0; y <= y1; ++y)
    for (int x = x0; x <= x1; ++x) score[static_cast<size_t>(y - y0) * rw + (x - x0)] = Score(x, y);
  // Points far weaker than the strongest cannot be among the few kept.
  const uint32_t floor = std::max<uint32_t>(1, *std::max_element(score.begin(), score.end()) / 32);
  std::vector<TCandidate> peaks;
  for (int y = 0; y < rh; ++y)
    for (int x = 0; x < rw; ++x) {
      const uint32_t s = score[static_cast<size_t>(y) * rw + x];
      if (s < floor) continue;
      bool top = true;
      for (int dy = -1; dy <= 1 && top; ++dy)
        for (int dx = -1; dx <= 1 && top; ++dx) {
          const int nx = x + dx, ny = y + dy;
          if ((dx == 0 && dy == 0) || nx < 0 || ny < 0 || nx >= rw || ny >= rh) continue;
          const uint32_t n = score[static_cast<size_t>(ny) * rw + nx];
          // Of equal neighbours only the first in reading order is a peak.
          top = n < s || (n == s && (dy > 0 || (dy == 0 && dx > 0)));
        }
      if (top) peaks.push_back({x + x0 + FLeft, y + y0 + FTop, s});
    }
  // Only the strongest few can survive the neighbourhoods: the rest need no order.
  auto stronger = [](const TCandidate& a, const TCandidate& b) {
    return a.Score != b.Score ? a.Score > b.Score : a.Y != b.Y ? a.Y < b.Y : a.X < b.X;
  };
  const size_t ranked = std::min(peaks.size(), size_t{kRankedPeaks});
  std::partial_sort(peaks.begin(), peaks.begin() + ranked, peaks.end(), stronger);
  peaks.resize(ranked);
  std::vector<TCandidate> kept;
  for (const TCandidate& peak : peaks) {
    // A peak far weaker than the strongest is clutter beside a clear crossing.
    if (peak.Score < peaks.front().Score / kWeakPeak) break;
    bool apart = true;
    for (const TCandidate& k : kept)
      apart = apart && std::max(std::abs(k.X - peak.X), std::abs(k.Y - peak.Y)) >= kSeparation;
    if (apart) kept.push_back(peak);
    if (static_cast<int>(kept.size()) == count) break;
  }
  return kept;
}

}  // namespace

std::vector<TCandidate> FindCandidates(const TDarkWindow& window, const TCrossingSearch& search,
                                       int gap, int count) {
  return TCrossFilter(window, search, gap).Peaks(count);
}
