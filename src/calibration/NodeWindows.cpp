#include "NodeWindows.h"

#include "RasterManagers.h"
#include "SysUtils.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>

namespace {

// Darkness of a colour 0x00BBGGRR: the complement of its luminance.
uint8_t ColourDarkness(uint32_t colour) {
  const uint32_t r = colour & 0xFF, g = (colour >> 8) & 0xFF, b = (colour >> 16) & 0xFF;
  return static_cast<uint8_t>(255 - ((77 * r + 150 * g + 29 * b + 128) >> 8));
}

}  // namespace

TDarkReader::TDarkReader(TRasterManager& raster) : FRaster(raster) {
  const int bits = raster.BitsPerPixel();
  if (bits != 1 && bits != 4 && bits != 8 && bits != 24)
    throw Exception(QStringLiteral("Неподдерживаемое количество битов на цвет"));
  for (int i = 0; i < 256; ++i)
    FIndexDarkness[static_cast<size_t>(i)] =
        ColourDarkness(raster.Palette().Colour(static_cast<uint8_t>(i)));
}

void TDarkReader::ConvertRow(const uint8_t* row, int column, int count, uint8_t* out) const {
  switch (FRaster.BitsPerPixel()) {
    case 1:
      for (int c = column; c < column + count; ++c)
        *out++ = FIndexDarkness[(row[c >> 3] >> (7 - (c & 7))) & 1];
      break;
    case 4:
      for (int c = column; c < column + count; ++c)
        *out++ = FIndexDarkness[c & 1 ? row[c >> 1] & 0x0F : row[c >> 1] >> 4];
      break;
    case 8:
      for (int c = column; c < column + count; ++c) *out++ = FIndexDarkness[row[c]];
      break;
    default:
      for (const uint8_t* p = row + 3 * column; p < row + 3 * (column + count); p += 3)
        *out++ = static_cast<uint8_t>(255 - ((29 * p[0] + 150 * p[1] + 77 * p[2] + 128) >> 8));
      break;
  }
}

TDarkWindow TDarkReader::Read(const TRect& rect) const {
  TDarkWindow window;
  const int left = std::max(rect.Left, 0), top = std::max(rect.Top, 0);
  const int right = std::min(rect.Right, FRaster.Width());
  const int bottom = std::min(rect.Bottom, FRaster.Height());
  if (left >= right || top >= bottom) return window;
  window.Left = left;
  window.Top = top;
  window.Width = right - left;
  window.Height = bottom - top;
  window.Pixels.resize(static_cast<size_t>(window.Width) * window.Height);
  const int side = FRaster.Side();
  // Pixels that wait unread in the source file are read from there, just the window's share of
  // them: loading whole parts would read them all and push other parts out of the cache. When
  // every part of the window waits so, one read serves it.
  auto waiting = [&](const TRasterPart& part) { return !part.Loaded() && part.FileBacked(); };
  bool allWaiting = FRaster.Source() != nullptr;
  for (int row = top / side; row <= (bottom - 1) / side && allWaiting; ++row)
    for (int column = left / side; column <= (right - 1) / side && allWaiting; ++column)
      allWaiting = waiting(*FRaster.GetPart(column, row));
  auto readSource = [&](int x0, int y0, int x1, int y1) {
    const std::unique_ptr<TRasterFileDib> dib =
        FRaster.Source()->GetDibSection(x0, y0, x1 - x0, y1 - y0);
    const int64_t rowSize = dib->ImageSize / (y1 - y0);
    uint8_t* out =
        window.Pixels.data() + static_cast<size_t>(y0 - top) * window.Width + (x0 - left);
    for (int y = y0; y < y1; ++y, out += window.Width)
      ConvertRow(dib->Bits.Data() + (y1 - 1 - y) * rowSize, dib->PixelOffset, x1 - x0, out);
  };
  if (allWaiting) {
    readSource(left, top, right, bottom);
    return window;
  }
  for (int row = top / side; row <= (bottom - 1) / side; ++row)
    for (int column = left / side; column <= (right - 1) / side; ++column) {
      TRasterPart& part = *FRaster.GetPart(column, row);
      const int x0 = std::max(left, part.Left());
      const int x1 = std::min(right, part.Left() + part.Width());
      const int y0 = std::max(top, part.Top());
      const int y1 = std::min(bottom, part.Top() + part.Height());
      if (waiting(part) && FRaster.Source()) {
        readSource(x0, y0, x1, y1);
        continue;
      }
      // The part stays at the front of the cache while its rows are read.
      uint8_t* out =
          window.Pixels.data() + static_cast<size_t>(y0 - top) * window.Width + (x0 - left);
      for (int y = y0; y < y1; ++y, out += window.Width)
        ConvertRow(part.GetRow(y), x0 - part.Left(), x1 - x0, out);
    }
  return window;
}

namespace {

// A line is darker than the paper this far on both sides of its middle: wider than the widest
// line with its blur.
constexpr int kRidgeOffset = 4;
// Arms start this far from the crossing, clear of the other line.
constexpr int kGap = 6;
// A line's profile across it reaches this far from its middle on each side.
constexpr int kProfileHalf = 7;
// Gaps in an arm up to this length are noise, a crossing road or a word beside the line, not its
// end.
constexpr int kMaxHole = 6;
constexpr int kMaxCandidates = 6;
// Of the local maxima of the score, this many strongest are considered, down to this fraction of
// the strongest.
constexpr int kRankedPeaks = 64;
constexpr uint32_t kWeakPeak = 8;
// A line beside another counts when it is this much darker than half way, as a share of the
// other's contrast.
constexpr double kSecondLine = 0.15;
// Coarse candidates closer than this are one crossing.
constexpr int kSeparation = 4;
// The noise is measured on about this many pairs of pixels.
constexpr int kNoiseSamples = 65536;
// The lines of a grid run no steeper than this (as a slope) against the lattice's.
constexpr double kMaxSlope = 0.5;
// The least contrast of a line in levels of darkness, whatever the noise.
constexpr double kMinContrast = 20;

// Arms of the fit reach twice the length of a whole arm: longer lines give finer positions.
int FitLength(int arm) {
  return 2 * arm;
}

int Margin(int arm) {
  return kGap + FitLength(arm) + kProfileHalf + 3;
}

}  // namespace

TRect TCrossingSearch::Window() const {
  const int margin = Margin(Arm);
  const int x = static_cast<int>(std::floor(X)), y = static_cast<int>(std::floor(Y));
  return TRect{x - RadiusX - margin, y - RadiusY - margin, x + 1 + RadiusX + margin + 1,
               y + 1 + RadiusY + margin + 1};
}

namespace {

// One line fitted as across = A + B·(along − Origin): y of x for the line across, x of y for the
// line down.
struct TLineFit {
  double Origin = 0;
  double A = 0;
  double B = 0;
  // The supported length of the line before and after the crossing.
  int Run[2] = {0, 0};
  double Contrast = 0;
  double Scatter = 0;
  // Another line runs alongside, close enough to be mistaken for it.
  bool Beside = false;
  // How wide the line is where it is darker than half way, on the wider arm.
  int Width = 0;
  bool Ok = false;

  double At(double along) const { return A + B * (along - Origin); }
};

struct TLineSample {
  double Along;
  double Across;
  double Contrast;
};

double Median(std::vector<double> values) {
  std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
  return values[values.size() / 2];
}

// Least squares of across on along, then again without the samples far from the first line, so
// that clutter touching a line does not pull it.
bool FitSamples(const std::vector<TLineSample>& samples, double origin, TLineFit& fit) {
  std::vector<char> used(samples.size(), 1);
  for (int round = 0; round < 3; ++round) {
    double sw = 0, sa = 0, sc = 0, saa = 0, sac = 0;
    for (size_t k = 0; k < samples.size(); ++k) {
      if (!used[k]) continue;
      const double a = samples[k].Along - origin, c = samples[k].Across;
      sw += 1;
      sa += a;
      sc += c;
      saa += a * a;
      sac += a * c;
    }
    if (sw < 3) return false;
    const double det = sw * saa - sa * sa;
    if (det <= 1e-9) return false;
    fit.Origin = origin;
    fit.B = (sw * sac - sa * sc) / det;
    fit.A = (sc - fit.B * sa) / sw;
    std::vector<double> residuals;
    for (size_t k = 0; k < samples.size(); ++k)
      if (used[k]) residuals.push_back(std::abs(samples[k].Across - fit.At(samples[k].Along)));
    std::nth_element(residuals.begin(), residuals.begin() + residuals.size() / 2, residuals.end());
    const double mad = residuals[residuals.size() / 2];
    const double limit = std::max(1.0, 2.5 * 1.4826 * mad);
    double squares = 0;
    int count = 0;
    for (size_t k = 0; k < samples.size(); ++k) {
      const double r = std::abs(samples[k].Across - fit.At(samples[k].Along));
      used[k] = r <= limit;
      if (used[k]) {
        squares += r * r;
        ++count;
      }
    }
    fit.Scatter = count ? std::sqrt(squares / count) : 0;
  }
  fit.Ok = true;
  return true;
}

// A profile across a line: darkness from kProfileHalf before its expected middle to kProfileHalf
// after it.
using TProfile = std::array<double, 2 * kProfileHalf + 1>;

// The line a profile shows: its darkest point within reach of the middle, at least threshold
// above the paper on either side, and the run around it darker than half way.
struct TProfileLine {
  double Middle = 0;  // from the profile's middle, the centroid of the run
  double Contrast = 0;
  double Half = 0;
  int First = 0;
  int Last = 0;
};

bool FindLine(const TProfile& v, int reach, double threshold, TProfileLine& line) {
  constexpr int h = kProfileHalf;
  const double background = std::min(v[0] + v[1], v[2 * h - 1] + v[2 * h]) / 2;
  int peak = 0;
  for (int k = -reach; k <= reach; ++k)
    if (v[k + h] > v[peak + h]) peak = k;
  line.Contrast = v[peak + h] - background;
  if (line.Contrast < threshold) return false;
  line.Half = background + line.Contrast / 2;
  line.First = line.Last = peak;
  while (line.First - 1 > -h + 1 && v[line.First - 1 + h] >= line.Half) --line.First;
  while (line.Last + 1 < h - 1 && v[line.Last + 1 + h] >= line.Half) ++line.Last;
  // The middle of the run and the pixel beyond each end, weighted by their darkness over the
  // paper: the edges' shades place the line between pixels.
  double sw = 0, sk = 0;
  for (int k = line.First - 1; k <= line.Last + 1; ++k) {
    const double w = std::max(0.0, v[k + h] - background);
    sw += w;
    sk += w * k;
  }
  line.Middle = sw > 0 ? sk / sw : peak;
  return true;
}

// Whether the profile shows another line beside the found one, nearly as dark, with paper again
// beyond it. A side that stays dark to the profile's end is a dark region, not a line.
bool SecondLine(const TProfile& v, const TProfileLine& line) {
  constexpr int h = kProfileHalf;
  const double strong = line.Half + kSecondLine * line.Contrast;
  for (int direction : {-1, 1}) {
    bool dark = false;
    for (int k = (direction < 0 ? line.First : line.Last) + direction; k >= -h && k <= h;
         k += direction) {
      if (v[k + h] >= strong)
        dark = true;
      else if (dark && v[k + h] < line.Half)
        return true;
    }
  }
  return false;
}

class TCrossingAnalysis {
 public:
  TCrossingAnalysis(const TDarkWindow& window, const TCrossingSearch& search);
  std::vector<TCrossing> Run();

 private:
  struct TPeak {
    uint32_t Score;
    int X, Y;
  };

  void EstimateNoise();
  void PrefixAcross(std::vector<uint8_t>& ridge, std::vector<uint8_t>& spread);
  void PrefixDown(std::vector<uint8_t>& ridge, std::vector<uint8_t>& spread);
  std::vector<TPeak> Peaks();
  // The profile across the line at along around across; false when it leaves the window.
  bool ReadProfile(bool down, int along, int across, TProfile& v) const;
  TLineFit FitLine(bool down, double along0, const TLineFit& guess, bool measureRuns) const;
  bool Refine(const TPeak& peak, TCrossing& crossing) const;

  const TDarkWindow& FWindow;
  const TCrossingSearch& FSearch;
  int FW, FH;
  double FCX, FCY;  // the predicted crossing in window pixels
  int FSpread;      // how far across the arms a line may drift
  double FSlopeAcross, FSlopeDown;
  double FThreshold = kMinContrast;
  std::vector<int> FShiftAcross, FShiftDown;
  std::vector<uint32_t> FPrefixAcross;  // per row of the sheared ridge, FW + 1 sums
  std::vector<uint32_t> FPrefixDown;    // per column, FH + 1 rows of FW sums
};

TCrossingAnalysis::TCrossingAnalysis(const TDarkWindow& window, const TCrossingSearch& search)
    : FWindow(window),
      FSearch(search),
      FW(window.Width),
      FH(window.Height),
      FCX(search.X - window.Left),
      FCY(search.Y - window.Top),
      FSpread(search.DirectionsKnown ? 1 : 2),
      FSlopeAcross(std::clamp(search.SlopeAcross, -kMaxSlope, kMaxSlope)),
      FSlopeDown(std::clamp(search.SlopeDown, -kMaxSlope, kMaxSlope)) {}

void TCrossingAnalysis::EstimateNoise() {
  // The paper's grain: differences of pixels two apart, whose median ignores the few pixels of
  // lines and edges. Profiles average three pixels along a line (weights 1, 2, 1).
  std::array<int, 256> histogram{};
  int count = 0;
  // Some sixty thousand differences are plenty.
  const int rows = std::max(1, FW * FH / kNoiseSamples);
  for (int y = 0; y < FH; y += rows) {
    const uint8_t* row = FWindow.Row(y);
    for (int x = 0; x + 2 < FW; ++x) {
      ++histogram[static_cast<size_t>(std::abs(row[x + 2] - row[x]))];
      ++count;
    }
  }
  if (count == 0) return;
  int seen = 0, median = 0;
  while (median < 255 && (seen += histogram[static_cast<size_t>(median)]) * 2 < count) ++median;
  const double sigma = median / 0.954;
  FThreshold = std::max(kMinContrast, 3.5 * 0.61 * sigma);
}

// The ridge of lines across: darker than the pixels kRidgeOffset above and below. Spread over
// FSpread rows, sheared along the predicted direction so that the line runs along a row, and summed
// along the rows.
void TCrossingAnalysis::PrefixAcross(std::vector<uint8_t>& ridge, std::vector<uint8_t>& spread) {
  const size_t n = static_cast<size_t>(FW) * FH;
  ridge.assign(n, 0);
  for (int y = kRidgeOffset; y < FH - kRidgeOffset; ++y) {
    const uint8_t* c = FWindow.Row(y);
    const uint8_t* a = FWindow.Row(y - kRidgeOffset);
    const uint8_t* b = FWindow.Row(y + kRidgeOffset);
    uint8_t* r = ridge.data() + static_cast<size_t>(y) * FW;
    for (int x = 0; x < FW; ++x) {
      const uint8_t da = c[x] > a[x] ? c[x] - a[x] : 0;
      const uint8_t db = c[x] > b[x] ? c[x] - b[x] : 0;
      r[x] = std::min(da, db);
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

// The same for lines down, with columns for rows.
void TCrossingAnalysis::PrefixDown(std::vector<uint8_t>& ridge, std::vector<uint8_t>& spread) {
  const size_t n = static_cast<size_t>(FW) * FH;
  ridge.assign(n, 0);
  for (int y = 0; y < FH; ++y) {
    const uint8_t* c = FWindow.Row(y);
    uint8_t* r = ridge.data() + static_cast<size_t>(y) * FW;
    for (int x = kRidgeOffset; x < FW - kRidgeOffset; ++x) {
      const uint8_t da = c[x] > c[x - kRidgeOffset] ? c[x] - c[x - kRidgeOffset] : 0;
      const uint8_t db = c[x] > c[x + kRidgeOffset] ? c[x] - c[x + kRidgeOffset] : 0;
      r[x] = std::min(da, db);
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

// Every point of the search's reach is scored by its weakest needed arm: the mean ridge along
// an arm's length beyond the gap. Local maxima, strongest first, one per neighbourhood.
std::vector<TCrossingAnalysis::TPeak> TCrossingAnalysis::Peaks() {
  const int arm = FSearch.Arm;
  const int x0 = std::max(0, static_cast<int>(std::floor(FCX)) - FSearch.RadiusX);
  const int x1 = std::min(FW - 1, static_cast<int>(std::ceil(FCX)) + FSearch.RadiusX);
  const int y0 = std::max(0, static_cast<int>(std::floor(FCY)) - FSearch.RadiusY);
  const int y1 = std::min(FH - 1, static_cast<int>(std::ceil(FCY)) + FSearch.RadiusY);
  if (x0 > x1 || y0 > y1) return {};
  const int rw = x1 - x0 + 1, rh = y1 - y0 + 1;
  std::vector<uint32_t> score(static_cast<size_t>(rw) * rh, 0);
  for (int y = y0; y <= y1; ++y) {
    const int shiftDown = FShiftDown[static_cast<size_t>(y)];
    for (int x = x0; x <= x1; ++x) {
      uint32_t weakest = UINT32_MAX;
      const int row = y - FShiftAcross[static_cast<size_t>(x)];
      const uint32_t* p = row >= 0 && row < FH
                              ? FPrefixAcross.data() + static_cast<size_t>(row) * (FW + 1)
                              : nullptr;
      if (FSearch.NeedLeft) {
        const int a = x - kGap - arm + 1, b = x - kGap + 1;
        weakest = std::min(weakest, p && a >= 0 ? p[b] - p[a] : 0u);
      }
      if (FSearch.NeedRight) {
        const int a = x + kGap, b = x + kGap + arm;
        weakest = std::min(weakest, p && b <= FW ? p[b] - p[a] : 0u);
      }
      const int column = x - shiftDown;
      const bool inside = column >= 0 && column < FW;
      if (FSearch.NeedUp) {
        const int a = y - kGap - arm + 1, b = y - kGap + 1;
        weakest = std::min(weakest, inside && a >= 0
                                        ? FPrefixDown[static_cast<size_t>(b) * FW + column] -
                                              FPrefixDown[static_cast<size_t>(a) * FW + column]
                                        : 0u);
      }
      if (FSearch.NeedDown) {
        const int a = y + kGap, b = y + kGap + arm;
        weakest = std::min(weakest, inside && b <= FH
                                        ? FPrefixDown[static_cast<size_t>(b) * FW + column] -
                                              FPrefixDown[static_cast<size_t>(a) * FW + column]
                                        : 0u);
      }
      score[static_cast<size_t>(y - y0) * rw + (x - x0)] = weakest == UINT32_MAX ? 0 : weakest;
    }
  }
  // Points far weaker than the strongest cannot be among the few kept.
  const uint32_t floor = std::max<uint32_t>(1, *std::max_element(score.begin(), score.end()) / 32);
  std::vector<TPeak> peaks;
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
      if (top) peaks.push_back({s, x + x0, y + y0});
    }
  // Only the strongest few can survive the neighbourhoods: the rest need no order.
  auto stronger = [](const TPeak& a, const TPeak& b) {
    return a.Score != b.Score ? a.Score > b.Score : a.Y != b.Y ? a.Y < b.Y : a.X < b.X;
  };
  const size_t ranked = std::min(peaks.size(), size_t{kRankedPeaks});
  std::partial_sort(peaks.begin(), peaks.begin() + ranked, peaks.end(), stronger);
  peaks.resize(ranked);
  std::vector<TPeak> kept;
  for (const TPeak& peak : peaks) {
    bool apart = true;
    for (const TPeak& k : kept)
      apart = apart && std::max(std::abs(k.X - peak.X), std::abs(k.Y - peak.Y)) >= kSeparation;
    if (apart) kept.push_back(peak);
    if (static_cast<int>(kept.size()) == kMaxCandidates) break;
  }
  return kept;
}

bool TCrossingAnalysis::ReadProfile(bool down, int along, int across, TProfile& v) const {
  constexpr int h = kProfileHalf;
  const int alongEnd = down ? FH : FW, acrossEnd = down ? FW : FH;
  if (along < 1 || along + 1 >= alongEnd || across < h || across + h >= acrossEnd) return false;
  // Pixels one step along the line and one step across it.
  const ptrdiff_t alongStep = down ? FW : 1, acrossStep = down ? 1 : FW;
  const uint8_t* p = FWindow.Pixels.data() +
                     (down ? along : across - h) * static_cast<ptrdiff_t>(FW) +
                     (down ? across - h : along);
  for (int k = 0; k <= 2 * h; ++k, p += acrossStep)
    v[static_cast<size_t>(k)] = (p[-alongStep] + 2 * p[0] + p[alongStep]) / 4.0;
  return true;
}

// Samples the line's profile along both arms from the gap outwards and fits it. With runs
// measured, a sample counts only near the guess, each arm ends where its line ends, and the
// samples' mean profile tells whether another line runs alongside.
TLineFit TCrossingAnalysis::FitLine(bool down, double along0, const TLineFit& guess,
                                    bool measureRuns) const {
  struct TArmSample {
    int T;
    int Width;
    double Along, Across, Contrast;
    TProfile Profile;
  };
  const int length = FitLength(FSearch.Arm);
  const int reach = measureRuns ? 3 : kProfileHalf - 2;
  const int start = static_cast<int>(std::lround(along0));
  std::vector<TArmSample> arms[2];
  for (int side = 0; side < 2; ++side) {
    const int sign = side ? 1 : -1;
    for (int t = kGap; t < kGap + length; ++t) {
      const int along = start + sign * t;
      const double expected = guess.At(along);
      const int middle = static_cast<int>(std::lround(expected));
      TArmSample sample;
      if (!ReadProfile(down, along, middle, sample.Profile)) break;
      TProfileLine line;
      if (!FindLine(sample.Profile, reach, FThreshold, line)) continue;
      if (measureRuns && std::abs(middle + line.Middle - expected) > 1.5) continue;
      sample.T = t;
      sample.Along = along;
      sample.Across = middle + line.Middle;
      sample.Contrast = line.Contrast;
      sample.Width = line.Last - line.First + 1;
      arms[side].push_back(sample);
    }
  }
  TLineFit fit;
  std::vector<const TArmSample*> kept;
  for (int side = 0; side < 2; ++side) {
    TProfile mean{};
    int last = kGap - 1;
    for (const TArmSample& sample : arms[side]) {
      if (measureRuns && sample.T - last - 1 > kMaxHole) break;
      last = sample.T;
      kept.push_back(&sample);
      for (size_t k = 0; k < mean.size(); ++k) mean[k] += sample.Profile[k];
    }
    if (!measureRuns || last < kGap) continue;
    fit.Run[side] = last - kGap + 1;
    TProfileLine line;
    if (!FindLine(mean, reach, 0, line) || SecondLine(mean, line)) fit.Beside = true;
    fit.Width = std::max(fit.Width, line.Last - line.First + 1);
  }
  // Where a word or a road touches the line, it looks wider and its middle moves: such samples
  // count for the arm's length but not for the line's place, as long as enough others remain.
  std::vector<double> widths, contrasts;
  for (const TArmSample* sample : kept) widths.push_back(sample->Width);
  const double widest = widths.empty() ? 0 : Median(widths) + 1;
  std::vector<TLineSample> samples, narrow;
  for (const TArmSample* sample : kept) {
    const TLineSample s{sample->Along, sample->Across, sample->Contrast};
    samples.push_back(s);
    if (sample->Width <= widest) narrow.push_back(s);
    contrasts.push_back(sample->Contrast);
  }
  if (narrow.size() * 2 >= samples.size()) samples.swap(narrow);
  const TLineFit measured = fit;
  if (!FitSamples(samples, along0, fit)) return TLineFit{};
  fit.Run[0] = measured.Run[0];
  fit.Run[1] = measured.Run[1];
  fit.Contrast = Median(contrasts);
  return fit;
}

// The crossing of across = a.At(x) (y of x) and down = d.At(y) (x of y).
bool Intersect(const TLineFit& across, const TLineFit& down, double& x, double& y) {
  const double det = 1 - across.B * down.B;
  if (std::abs(det) < 0.5) return false;
  x = (down.A + down.B * (across.A - across.B * across.Origin - down.Origin)) / det;
  y = across.At(x);
  return true;
}

bool TCrossingAnalysis::Refine(const TPeak& peak, TCrossing& crossing) const {
  TLineFit guessAcross, guessDown;
  guessAcross.Origin = peak.X;
  guessAcross.A = peak.Y;
  guessAcross.B = FSlopeAcross;
  guessDown.Origin = peak.Y;
  guessDown.A = peak.X;
  guessDown.B = FSlopeDown;
  TLineFit across = FitLine(false, peak.X, guessAcross, false);
  TLineFit down = FitLine(true, peak.Y, guessDown, false);
  double x, y;
  auto steep = [](const TLineFit& fit) { return std::abs(fit.B) > kMaxSlope; };
  if (!across.Ok || !down.Ok || steep(across) || steep(down) || !Intersect(across, down, x, y))
    return false;
  // Again from the crossing found, measuring how far each arm goes.
  across = FitLine(false, x, across, true);
  down = FitLine(true, y, down, true);
  if (!across.Ok || !down.Ok || steep(across) || steep(down) || !Intersect(across, down, x, y))
    return false;
  if (std::abs(x - FCX) > FSearch.RadiusX + 2 || std::abs(y - FCY) > FSearch.RadiusY + 2)
    return false;
  int reach = FitLength(FSearch.Arm);
  if (FSearch.NeedLeft) reach = std::min(reach, across.Run[0]);
  if (FSearch.NeedRight) reach = std::min(reach, across.Run[1]);
  if (FSearch.NeedUp) reach = std::min(reach, down.Run[0]);
  if (FSearch.NeedDown) reach = std::min(reach, down.Run[1]);
  const double evidence = std::min(1.0, double(reach) / FSearch.Arm);
  const double contrast = std::min(across.Contrast, down.Contrast) / FThreshold;
  const double sharpness = std::clamp(2 - std::max(across.Scatter, down.Scatter), 0.0, 1.0);
  crossing.X = x + FWindow.Left;
  crossing.Y = y + FWindow.Top;
  crossing.SlopeAcross = across.B;
  crossing.SlopeDown = down.B;
  crossing.Reach = reach;
  crossing.Clear = !across.Beside && !down.Beside;
  crossing.Width = std::max(across.Width, down.Width);
  crossing.Confidence = evidence * std::clamp((contrast - 1) / 1.5, 0.0, 1.0) * sharpness;
  return true;
}

std::vector<TCrossing> TCrossingAnalysis::Run() {
  if (FW < 2 * kRidgeOffset + 1 || FH < 2 * kRidgeOffset + 1) return {};
  EstimateNoise();
  std::vector<uint8_t> ridge, spread;
  PrefixAcross(ridge, spread);
  PrefixDown(ridge, spread);
  std::vector<TCrossing> found;
  const std::vector<TPeak> peaks = Peaks();
  for (const TPeak& peak : peaks) {
    // A peak far weaker than the strongest is clutter beside a clear crossing.
    if (peak.Score < peaks.front().Score / kWeakPeak) break;
    TCrossing crossing;
    if (!Refine(peak, crossing)) continue;
    bool fresh = true;
    for (TCrossing& other : found)
      if (std::hypot(other.X - crossing.X, other.Y - crossing.Y) < 2) {
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

}  // namespace

std::vector<TCrossing> FindCrossings(const TDarkWindow& window, const TCrossingSearch& search) {
  return TCrossingAnalysis(window, search).Run();
}

namespace {

// Windows read and waiting for their analysis hold at most this many bytes.
constexpr size_t kWaitingBytes = 24 << 20;
constexpr unsigned kMaxThreads = 4;

}  // namespace

std::vector<std::vector<TCrossing>> FindCrossingsAround(
    const TDarkReader& reader, const std::vector<TCrossingSearch>& searches,
    const std::function<void(size_t analysed)>& progress) {
  const size_t n = searches.size();
  std::vector<std::vector<TCrossing>> found(n);
  if (n == 0) return found;
  std::vector<TDarkWindow> windows(n);
  std::mutex mutex;
  std::condition_variable changed;
  size_t read = 0, next = 0, finished = 0, waiting = 0;
  bool abandon = false;
  std::exception_ptr failure;

  // Analyses the next window read, if there is one; with the lock held on entry and on return.
  auto analyseOne = [&](std::unique_lock<std::mutex>& lock) {
    if (next >= read) return false;
    const size_t k = next++;
    lock.unlock();
    std::exception_ptr error;
    try {
      found[k] = FindCrossings(windows[k], searches[k]);
    } catch (...) {
      error = std::current_exception();
    }
    const size_t bytes = windows[k].Pixels.size();
    windows[k] = TDarkWindow{};
    lock.lock();
    waiting -= bytes;
    if (error && !failure) failure = error;
    ++finished;
    changed.notify_all();
    return true;
  };
  auto work = [&] {
    std::unique_lock<std::mutex> lock(mutex);
    while (!abandon && !failure && next < n)
      if (!analyseOne(lock)) changed.wait(lock);
  };
  auto report = [&] {
    size_t analysed;
    {
      std::lock_guard<std::mutex> lock(mutex);
      analysed = finished;
    }
    if (progress) progress(analysed);
  };

  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  const size_t helpers = std::min<size_t>(std::min(cores, kMaxThreads), n) - 1;
  std::vector<std::thread> threads;
  auto stop = [&] {
    {
      std::lock_guard<std::mutex> lock(mutex);
      abandon = true;
    }
    changed.notify_all();
    for (std::thread& thread : threads) thread.join();
  };
  try {
    // Helpers the system will not start leave their share to the others and to this thread.
    for (size_t k = 0; k < helpers; ++k) {
      try {
        threads.emplace_back(work);
      } catch (const std::system_error&) {
        break;
      }
    }
    for (size_t k = 0; k < n; ++k) {
      {
        // Too many windows waiting: this thread analyses too before it reads on.
        std::unique_lock<std::mutex> lock(mutex);
        while (waiting > kWaitingBytes && !failure)
          if (!analyseOne(lock)) changed.wait(lock);
        if (failure) break;
      }
      TDarkWindow window = reader.Read(searches[k].Window());
      {
        std::lock_guard<std::mutex> lock(mutex);
        waiting += window.Pixels.size();
        windows[k] = std::move(window);
        ++read;
      }
      changed.notify_all();
      report();
    }
    std::unique_lock<std::mutex> lock(mutex);
    while (finished < read && !failure) {
      if (!analyseOne(lock)) changed.wait(lock);
      lock.unlock();
      report();
      lock.lock();
    }
  } catch (...) {
    stop();
    throw;
  }
  stop();
  if (failure) std::rethrow_exception(failure);
  return found;
}
