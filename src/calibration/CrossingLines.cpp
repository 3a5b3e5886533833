#include "CrossingLines.h"

#include "Medians.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <vector>

namespace {

// A line's profile across it reaches this far from its expected middle on each side.
constexpr int kProfileHalf = 7;
// Gaps in an arm up to this length are noise, a crossing road or a word beside the line, not its
// end.
constexpr int kMaxHole = 6;
// A piece of line this long at least starts an arm.
constexpr int kLeastPiece = 5;
// Each line must come out of the crossing within this many pixels on one side at least, and its
// other needed arm within the fit: lines that show only beyond a blot cannot place the crossing
// under it, while a building at a corner of the crossing hides two arms near it, not four.
constexpr int kMaxStart = 14;
// A line is fitted this many times, each time without the samples far from the last fit.
constexpr int kFitRounds = 2;
// So many samples as thin as the grid's lines place a line without the wider ones.
constexpr size_t kLeastNarrow = 8;
// A line beside another counts when it is this much darker than half way, as a share of the
// other's contrast.
constexpr double kSecondLine = 0.15;
// Of the lines a profile shows near where one is expected, those this dark against the darkest
// count; the nearest of them is taken.
constexpr double kDarkEnough = 0.5;
// The lines of a grid run no steeper than this (as a slope) against the lattice's.
constexpr double kMaxSlope = 0.5;
// Where the lines cross, the ink is at least this share of the weaker line's contrast: a white
// halo of a label over the crossing hides it.
constexpr double kCentreInk = 0.5;
// Each line runs on from the crossing on one side at least as a line, seen in all but this many of
// the first kNearby pixels beyond the gap: under a label's halo the strokes of the letters may
// fall where the lines would be, but they do not make a line.
constexpr int kNearby = 12;
constexpr int kNearbyMissing = 4;
// And on such a side it goes on for this share of a whole arm at least: the strokes of a label's
// letters over a crossing make short pieces of line, not arms. On one such side of one line at
// least, the line is no more than this many pixels wider than the grid's lines there: the letters'
// strokes are wider.
constexpr double kLongShare = 0.6;
constexpr double kThinner = 3;
// Paper breaks an arm near the crossing where, within this many pixels of it, the line's place is
// as light as the paper (darker by less than this share of the line's contrast) over this many
// pixels in a row. A label's white halo breaks every arm of the crossing it hides; a building or a
// word drawn under the grid breaks none, and the grid's frame or a label beside the crossing two
// at most.
constexpr int kBreakReach = 14;
constexpr int kBreakRun = 3;
constexpr double kPaperShare = 0.3;
constexpr int kMostBroken = 2;

// The profiles of a scan of one bit a pixel average this many pixels before and after along the
// line: a thin line that the scanner's threshold broke into dashes shows whole.
constexpr int kBinaryAlong = 4;

// A profile across a line: darkness from kProfileHalf before its expected middle to kProfileHalf
// after it.
using TProfile = std::array<float, 2 * kProfileHalf + 1>;

// The line a profile shows near where it is expected: a dark ridge at least threshold above the
// paper, the run around it darker than half way.
struct TProfileLine {
  double Middle = 0;  // from the profile's middle, the centroid of the run
  double Contrast = 0;
  double Background = 0;
  double Half = 0;
  int First = 0;
  int Last = 0;
  // The run goes on beyond the profile's reach on one side at least: the edge of a dark region.
  bool Open = false;
};

// Of the ridges within reach of expected (from the profile's middle) that are nearly as dark as the
// darkest there, the nearest: a grid line between the edges of a cased road, or beside a road, is
// told from them by where the grid puts it. width is that of the grid's lines where known, or 0.
bool FindLine(const TProfile& v, double expected, double reach, double threshold, double width,
              TProfileLine& line) {
  constexpr int h = kProfileHalf;
  const double background = *std::min_element(v.begin(), v.end());
  const int lo = std::max(-h + 1, static_cast<int>(std::ceil(expected - reach)));
  const int hi = std::min(h - 1, static_cast<int>(std::floor(expected + reach)));
  if (lo > hi) return false;
  double darkest = 0;
  for (int k = lo; k <= hi; ++k) darkest = std::max(darkest, v[k + h] - background);
  if (darkest < threshold) return false;
  const double enough = std::max(threshold, kDarkEnough * darkest);
  int peak = 0;
  double nearest = std::numeric_limits<double>::max();
  for (int k = lo; k <= hi; ++k) {
    const double value = v[k + h];
    if (value - background < enough || value < v[k + h - 1] || value < v[k + h + 1]) continue;
    if (std::abs(k - expected) < nearest) {
      nearest = std::abs(k - expected);
      peak = k;
    }
  }
  if (nearest == std::numeric_limits<double>::max()) return false;
  line.Background = background;
  line.Contrast = v[peak + h] - background;
  line.Half = background + line.Contrast / 2;
  line.First = line.Last = peak;
  while (line.First - 1 > -h + 1 && v[line.First - 1 + h] >= line.Half) --line.First;
  while (line.Last + 1 < h - 1 && v[line.Last + 1 + h] >= line.Half) ++line.Last;
  line.Open = v[line.First - 1 + h] >= line.Half || v[line.Last + 1 + h] >= line.Half;
  // The middle of the run and the pixel beyond each end, weighted by their darkness over the
  // paper: the edges' shades place the line between pixels. Where the grid's lines are known to be
  // narrower, a road or a line merged with the run beside the peak is left out.
  int first = line.First - 1, last = line.Last + 1;
  if (width > 0) {
    const int half = static_cast<int>(std::ceil(width / 2)) + 1;
    first = std::max(first, peak - half);
    last = std::min(last, peak + half);
  }
  double sw = 0, sk = 0;
  for (int k = first; k <= last; ++k) {
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

// One line fitted as across = A + B·(along − Origin): y of x for the line across, x of y for the
// line down.
struct TLineFit {
  double Origin = 0;
  double A = 0;
  double B = 0;
  // Where the line starts on each side of the crossing, before (0) and after (1) it, and how many
  // pixels of it show from there on within the fit; a run of 0 where it does not show.
  int Start[2] = {0, 0};
  int Run[2] = {0, 0};
  // The line shows as a line right beyond the gap; and there as thin as the grid's lines.
  bool Solid[2] = {false, false};
  bool Thin[2] = {false, false};
  double Contrast = 0;
  double Background = 0;
  double Scatter = 0;
  // How far the fitted place may be off: the samples' scatter over their number, and half of how
  // much wider than the grid's lines they are (a road or a line merged with one side moves it).
  double Spread = 0;
  // Another line runs alongside, close enough to be mistaken for it.
  bool Beside = false;
  // How wide the line is where it is darker than half way, on the wider arm.
  double Width = 0;
  bool Ok = false;

  double At(double along) const { return A + B * (along - Origin); }
};

struct TLineSample {
  double Along;
  double Across;
};

// Least squares of across on along, then again without the samples far from the first line, so
// that clutter touching a line does not pull it.
bool FitSamples(const std::vector<TLineSample>& samples, double origin, TLineFit& fit) {
  std::vector<char> used(samples.size(), 1);
  for (int round = 0; round < kFitRounds; ++round) {
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
    const double limit = std::max(1.0, 2.5 * 1.4826 * Median(residuals));
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

// The intersection of across = a.At(x) (y of x) and down = d.At(y) (x of y).
bool Intersect(const TLineFit& across, const TLineFit& down, double& x, double& y) {
  const double det = 1 - across.B * down.B;
  if (std::abs(det) < 0.5) return false;
  x = (down.A + down.B * (across.A - across.B * across.Origin - down.Origin)) / det;
  y = across.At(x);
  return true;
}

class TLineMeasure {
 public:
  TLineMeasure(const TDarkWindow& window, const TCrossingSearch& search, int gap, double threshold)
      : FWindow(window), FSearch(search), FGap(gap), FThreshold(threshold) {}

  bool Measure(double x, double y, TCrossing& crossing) const;

 private:
  // The profile across the line at along around across; false when it leaves the window.
  // The profile averages alongReach pixels before and after along the line.
  bool ReadProfile(bool down, int along, int across, int alongReach, TProfile& v) const;
  // Samples the line's profile along both arms from the gap outwards, taking in each the line
  // nearest the guess within reach, and fits it. With runs measured, each arm ends where its line
  // ends, and the samples' mean profile tells whether another line runs alongside.
  TLineFit FitLine(bool down, double along0, const TLineFit& guess, double reach,
                   bool measureRuns) const;
  // Whether the line comes out of the crossing as a line on one side at least.
  bool Reaches(const TLineFit& line) const;
  // How many of the line's two arms paper breaks near the crossing (x, y).
  int Broken(const TLineFit& line, bool down, double x, double y) const;
  // The darkness where the lines cross, over the 3 × 3 pixels around it.
  double CentreInk(double x, double y) const;

  const TDarkWindow& FWindow;
  const TCrossingSearch& FSearch;
  int FGap;
  double FThreshold;
};

bool TLineMeasure::ReadProfile(bool down, int along, int across, int alongReach,
                               TProfile& v) const {
  constexpr int h = kProfileHalf;
  const int w = FWindow.Width;
  const int alongEnd = down ? FWindow.Height : w, acrossEnd = down ? w : FWindow.Height;
  const int reach = alongReach;
  if (along < reach || along + reach >= alongEnd || across < h || across + h >= acrossEnd)
    return false;
  // Pixels one step along the line and one step across it.
  const ptrdiff_t alongStep = down ? w : 1, acrossStep = down ? 1 : w;
  const uint8_t* p = FWindow.Pixels.data() +
                     (down ? along : across - h) * static_cast<ptrdiff_t>(w) +
                     (down ? across - h : along);
  for (int k = 0; k <= 2 * h; ++k, p += acrossStep) {
    if (reach == 1) {
      v[static_cast<size_t>(k)] =
          static_cast<float>((p[-alongStep] + 2 * p[0] + p[alongStep]) / 4.0);
      continue;
    }
    int sum = 0;
    for (int a = -reach; a <= reach; ++a) sum += p[a * alongStep];
    v[static_cast<size_t>(k)] = static_cast<float>(sum) / (2 * reach + 1);
  }
  return true;
}

TLineFit TLineMeasure::FitLine(bool down, double along0, const TLineFit& guess, double reach,
                               bool measureRuns) const {
  struct TArmSample {
    int T;
    double Width, Along, Across, Contrast, Background;
    // The run darker than half way reaches an end of the profile: the edge of a dark region
    // (a blot, a building) that the line runs into, whose middle is not the line's.
    bool Edge;
    TProfile Profile;
  };
  const int start = static_cast<int>(std::lround(along0));
  std::vector<TArmSample> arms[2];
  for (int side = 0; side < 2; ++side) {
    const int sign = side ? 1 : -1;
    // The first fit only finds the line: every other profile will do.
    for (int t = FGap; t < FGap + FSearch.Fit; t += measureRuns ? 1 : 2) {
      const int along = start + sign * t;
      const double expected = guess.At(along);
      const int middle = static_cast<int>(std::lround(expected));
      TArmSample sample;
      if (!ReadProfile(down, along, middle, FWindow.Binary ? kBinaryAlong : 1, sample.Profile))
        break;
      TProfileLine line;
      if (!FindLine(sample.Profile, expected - middle, reach, FThreshold, FSearch.LineWidth, line))
        continue;
      sample.T = t;
      sample.Along = along;
      sample.Across = middle + line.Middle;
      sample.Contrast = line.Contrast;
      sample.Background = line.Background;
      sample.Width = line.Last - line.First + 1;
      sample.Edge = line.Open;
      arms[side].push_back(sample);
    }
  }
  TLineFit fit;
  std::vector<const TArmSample*> kept;
  for (int side = 0; side < 2; ++side) {
    const std::vector<TArmSample>& arm = arms[side];
    if (!measureRuns) {
      for (const TArmSample& sample : arm) kept.push_back(&sample);
      continue;
    }
    if (arm.empty()) continue;
    // The arm starts with the first piece of line that is no mere fragment (a stroke of a word, the
    // edge of a building); clutter that touches the line further on leaves holes in it.
    size_t first = 0;
    for (size_t k = 0, begin = 0; k < arm.size(); ++k) {
      const bool ends = k + 1 == arm.size() || arm[k + 1].T - arm[k].T - 1 > kMaxHole;
      if (!ends) continue;
      if (arm[k].T - arm[begin].T + 1 >= kLeastPiece) {
        first = begin;
        break;
      }
      begin = k + 1;
    }
    TProfile mean{};
    for (size_t k = first; k < arm.size(); ++k) {
      kept.push_back(&arm[k]);
      for (size_t m = 0; m < mean.size(); ++m) mean[m] += arm[k].Profile[m];
    }
    // The profiles of a binary scan average far along the line, over the breaks of a halo too:
    // near the crossing the line must show in short ones.
    int nearby = 0, thin = 0;
    for (const TArmSample& sample : arm) {
      if (sample.T >= FGap + kNearby) break;
      if (FWindow.Binary) {
        const int middle = static_cast<int>(std::lround(sample.Across));
        TProfile profile;
        TProfileLine line;
        if (!ReadProfile(down, static_cast<int>(sample.Along), middle, 1, profile) ||
            !FindLine(profile, sample.Across - middle, 1.5, FThreshold, 0, line))
          continue;
      }
      ++nearby;
      thin += FSearch.LineWidth <= 0 || sample.Width <= FSearch.LineWidth + kThinner;
    }
    fit.Solid[side] = nearby >= kNearby - kNearbyMissing;
    fit.Thin[side] = thin >= kNearby - kNearbyMissing;
    fit.Start[side] = arm[first].T;
    fit.Run[side] = static_cast<int>(arm.size() - first);
    TProfileLine line;
    if (!FindLine(mean, 0, 3, 0, 0, line) || SecondLine(mean, line)) fit.Beside = true;
    fit.Width = std::max(fit.Width, static_cast<double>(line.Last - line.First + 1));
  }
  if (kept.empty()) return TLineFit{};
  // Where a word or a road touches the line, it looks wider and its middle moves: such samples
  // count for the arm's length but not for the line's place, as long as enough others remain.
  std::vector<double> contrasts, backgrounds;
  for (const TArmSample* sample : kept) {
    contrasts.push_back(sample->Contrast);
    backgrounds.push_back(sample->Background);
  }
  // Where the line runs into a dark region, its samples there place the region's edge, not the
  // line's middle: a line seen only so is a blot's or a building's edge, not a line.
  if (measureRuns &&
      std::all_of(kept.begin(), kept.end(), [](const TArmSample* sample) { return sample->Edge; }))
    return TLineFit{};
  // Where the grid's lines are known, as wide as theirs; otherwise as most of this line's samples.
  std::vector<double> widths;
  for (const TArmSample* sample : kept) widths.push_back(sample->Width);
  const double widest = (FSearch.LineWidth > 0 ? FSearch.LineWidth : Median(widths)) + 1;
  std::vector<TLineSample> samples, narrow;
  std::vector<double> allWidths, narrowWidths;
  for (const TArmSample* sample : kept) {
    const TLineSample s{sample->Along, sample->Across};
    samples.push_back(s);
    allWidths.push_back(sample->Width);
    if (sample->Width > widest) continue;
    narrow.push_back(s);
    narrowWidths.push_back(sample->Width);
  }
  if (narrow.size() >= kLeastNarrow || narrow.size() * 2 >= samples.size()) {
    samples.swap(narrow);
    allWidths.swap(narrowWidths);
  }
  const TLineFit measured = fit;
  if (!FitSamples(samples, along0, fit)) return TLineFit{};
  const double excess = FSearch.LineWidth > 0 ? Median(allWidths) - FSearch.LineWidth : 0;
  fit.Spread = fit.Scatter / std::sqrt(double(samples.size())) + std::max(0.0, excess) / 2;
  std::copy_n(measured.Start, 2, fit.Start);
  std::copy_n(measured.Solid, 2, fit.Solid);
  std::copy_n(measured.Thin, 2, fit.Thin);
  std::copy_n(measured.Run, 2, fit.Run);
  fit.Contrast = Median(contrasts);
  fit.Background = Median(backgrounds);
  return fit;
}

double TLineMeasure::CentreInk(double x, double y) const {
  const int cx = static_cast<int>(std::lround(x)), cy = static_cast<int>(std::lround(y));
  if (cx < 1 || cy < 1 || cx + 1 >= FWindow.Width || cy + 1 >= FWindow.Height) return 0;
  int sum = 0;
  for (int dy = -1; dy <= 1; ++dy)
    for (int dx = -1; dx <= 1; ++dx) sum += FWindow.At(cx + dx, cy + dy);
  return sum / 9.0;
}

bool TLineMeasure::Reaches(const TLineFit& line) const {
  for (int side = 0; side < 2; ++side)
    if (line.Solid[side] && line.Run[side] >= kLongShare * FSearch.Arm) return true;
  return false;
}

int TLineMeasure::Broken(const TLineFit& line, bool down, double x, double y) const {
  const double paper = line.Background + kPaperShare * line.Contrast;
  int broken = 0;
  for (int sign : {-1, 1}) {
    int light = 0;
    for (int t = 1; t <= kBreakReach && light < kBreakRun; ++t) {
      const int along = static_cast<int>(std::lround((down ? y : x) + sign * t));
      const int across = static_cast<int>(std::lround(line.At(along)));
      const int px = down ? across : along, py = down ? along : across;
      if (px < 1 || py < 1 || px + 1 >= FWindow.Width || py + 1 >= FWindow.Height) break;
      int darkest = 0;
      for (int k = -1; k <= 1; ++k)
        darkest = std::max<int>(darkest, down ? FWindow.At(px + k, py) : FWindow.At(px, py + k));
      light = darkest < paper ? light + 1 : 0;
    }
    broken += light >= kBreakRun;
  }
  return broken;
}

bool TLineMeasure::Measure(double x, double y, TCrossing& crossing) const {
  TLineFit guessAcross, guessDown;
  guessAcross.Origin = x;
  guessAcross.A = y;
  guessAcross.B = FSearch.SlopeAcross;
  guessDown.Origin = y;
  guessDown.A = x;
  guessDown.B = FSearch.SlopeDown;
  const double reach = FSearch.DirectionsKnown ? 3 : kProfileHalf - 2;
  TLineFit across = FitLine(false, x, guessAcross, reach, false);
  TLineFit down = FitLine(true, y, guessDown, reach, false);
  auto steep = [](const TLineFit& fit) { return std::abs(fit.B) > kMaxSlope; };
  if (!across.Ok || !down.Ok || steep(across) || steep(down) || !Intersect(across, down, x, y))
    return false;
  // Again from the crossing found, measuring how far each arm goes.
  across = FitLine(false, x, across, 1.5, true);
  down = FitLine(true, y, down, 1.5, true);
  if (!across.Ok || !down.Ok || steep(across) || steep(down) || !Intersect(across, down, x, y))
    return false;
  const double cx = FSearch.X - FWindow.Left, cy = FSearch.Y - FWindow.Top;
  if (std::abs(x - cx) > FSearch.RadiusX + 2 || std::abs(y - cy) > FSearch.RadiusY + 2)
    return false;
  int armReach = FSearch.Fit;
  const bool need[2][2] = {{FSearch.NeedLeft, FSearch.NeedRight},
                           {FSearch.NeedUp, FSearch.NeedDown}};
  const TLineFit* lines[2] = {&across, &down};
  for (int l = 0; l < 2; ++l) {
    bool reaches = false;
    for (int side = 0; side < 2; ++side) {
      const int run = lines[l]->Run[side];
      if (need[l][side]) armReach = std::min(armReach, run);
      reaches = reaches || (run > 0 && lines[l]->Start[side] <= kMaxStart);
    }
    if (!reaches) return false;
  }
  const double contrast = std::min(across.Contrast, down.Contrast);
  const double background = std::max(across.Background, down.Background);
  if (armReach <= 0 || CentreInk(x, y) < background + kCentreInk * contrast || !Reaches(across) ||
      !Reaches(down) || !(across.Thin[0] || across.Thin[1] || down.Thin[0] || down.Thin[1]) ||
      Broken(across, false, x, y) + Broken(down, true, x, y) > kMostBroken)
    return false;
  const double evidence = std::min(1.0, double(armReach) / FSearch.Arm);
  const double sharpness = std::clamp(2 - std::max(across.Scatter, down.Scatter), 0.0, 1.0);
  crossing.X = x + FWindow.Left;
  crossing.Y = y + FWindow.Top;
  crossing.SlopeAcross = across.B;
  crossing.SlopeDown = down.B;
  crossing.Reach = armReach;
  crossing.Clear = !across.Beside && !down.Beside;
  crossing.Width = std::max(across.Width, down.Width);
  crossing.NarrowWidth = std::min(across.Width, down.Width);
  crossing.Contrast = contrast;
  crossing.Scatter = std::max(across.Scatter, down.Scatter);
  crossing.SpreadX = down.Spread;
  crossing.SpreadY = across.Spread;
  crossing.Confidence =
      evidence * std::clamp((contrast / FThreshold - 1) / 1.5, 0.0, 1.0) * sharpness;
  return true;
}

}  // namespace

bool MeasureCrossing(const TDarkWindow& window, const TCrossingSearch& search, int gap,
                     double threshold, double x, double y, TCrossing& crossing) {
  return TLineMeasure(window, search, gap, threshold).Measure(x, y, crossing);
}
