#include "FindNodes.h"

#include "NodeWindows.h"
#include "RasterManagers.h"
#include "RecArrays.h"
#include "StatusInfo.h"

#include <QString>

#include <algorithm>
#include <array>
#include <cmath>

int TNodeSearch::FoundCount() const {
  return static_cast<int>(std::count_if(Nodes.begin(), Nodes.end(), [](const TFoundNode& node) {
    return node.Finding == TNodeFinding::Found;
  }));
}

int TNodeSearch::SearchedCount() const {
  return static_cast<int>(std::count_if(Nodes.begin(), Nodes.end(), [](const TFoundNode& node) {
    return node.Finding != TNodeFinding::Trusted;
  }));
}

std::vector<TPoint> TNodeSearch::NotFound() const {
  std::vector<TPoint> nodes;
  for (int32_t j = 0; j < NY; ++j)
    for (int32_t i = 0; i < NX; ++i)
      if (At(i, j).Finding == TNodeFinding::NotFound) nodes.push_back(TPoint{i, j});
  return nodes;
}

namespace {

// The least confidence of a crossing that moves a node.
constexpr double kAccept = 0.5;
// Where neighbours on every side predict a crossing this close (pixels), this confidence and this
// share of the grid's reach will do.
constexpr double kAgreement = 1.5;
constexpr double kAcceptAgreeing = 0.3;
constexpr double kAgreeingReach = 0.5;
// A second crossing that could be the node's, this sure against the best and this far from it,
// leaves the node in doubt.
constexpr double kRivalShare = 0.8;
constexpr double kRivalDistance = 1.5;
// A rival counts when it is not further from the prediction than the best by this share of the
// prediction's tolerance (or kRivalDistance).
constexpr double kRivalReach = 1.0 / 3;
// A node is looked for first within this share of its prediction's tolerance.
constexpr double kNarrowShare = 0.5;
// The lines of a found crossing may turn this much (as a slope) from the predicted directions, by
// the class of the prediction, and more when its arms are short: their directions are less sure.
constexpr double kMaxTurn[] = {0.06, 0.08, 0.12};
constexpr double kShortArmTurn = 0.8;
// A crossing's shortest arm must show at least this share of the arms of the grid's crossings
// found so far, and this share of a whole arm: a stroke of text across a grid line is shorter than
// the grid's own lines.
constexpr double kReachShare = 0.7;
constexpr double kLeastReach = 0.6;
// Its lines may be this much wider than the grid's lines found so far (pixels, or as a share of
// their width), and at first no wider than a profile can show.
constexpr double kExtraWidth = 2;
constexpr double kWiderShare = 1.5;
constexpr double kProfileWidth = 11;
// Predictions draw on the known crossings this many nodes around.
constexpr int kNear = 3;
// A node is looked for at most this many times, each time with more known crossings around it.
constexpr int kMaxTries = 4;
// The first cell is looked for this far from the lattice, as a share of a cell.
constexpr double kSeedReach = 0.3;
// The lines at the first cell's crossings may turn this much (as a slope) from its sides.
constexpr double kSeedTurn = 0.08;
// No search looks further than this many pixels from where it expects a crossing: windows stay
// small whatever the cells.
constexpr int kMaxRadius = 320;
// Cells smaller than this hold no crossings the search can tell apart.
constexpr int kMinStep = 16;
// The share of the progress that the search for the first cell takes.
constexpr int kSeedPercent = 20;

enum class TKind { Unknown, Trusted, Found };

struct TNodeState {
  TKind Kind = TKind::Unknown;
  TWorldPoint Position;
  double Confidence = 0;
  double Reach = 0;
  int Width = 0;
  // The directions of a found crossing's lines: dy/dx across, dx/dy down.
  bool Directed = false;
  double SlopeAcross = 0;
  double SlopeDown = 0;
  // What the search for the first cell saw around the node, and where it looked.
  bool SeedSearched = false;
  std::vector<TCrossing> Seen;
  TCrossingSearch SeenSearch;
  // How often the node was looked for, and how many crossings around it were known the last time.
  int Tries = 0;
  int KnownAround = 0;
};

// Where a node's crossing should be, from the crossings known around it.
struct TPrediction {
  bool Ok = false;
  TWorldPoint Position;
  // The vectors from a node to its neighbour across and to its neighbour down.
  TWorldPoint StepAcross;
  TWorldPoint StepDown;
  // 0: known crossings on every side; 1: one next to it and several around; 2: fewer.
  int Class = 2;
  double Tolerance = 0;
};

// One window to look into for a node's crossing.
struct TJob {
  int Node = 0;
  TPrediction Prediction;
  TCrossingSearch Search;
  std::vector<TCrossing> Found;
};

double Distance(const TWorldPoint& a, const TWorldPoint& b) {
  return std::hypot(a.X - b.X, a.Y - b.Y);
}

double Median(std::vector<double> values) {
  std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
  return values[values.size() / 2];
}

class TNodeFinder {
 public:
  TNodeFinder(TRasterManager& raster, const TGridInfo& grid, TProgress& progress);
  void Run(TNodeSearch& search);

 private:
  int IndexOf(int i, int j) const { return i + j * FGrid.NX; }
  bool Known(int node) const { return FNodes[static_cast<size_t>(node)].Kind != TKind::Unknown; }
  TWorldPoint PositionOf(int node) const { return FNodes[static_cast<size_t>(node)].Position; }
  TCrossingSearch SearchAround(int node, const TWorldPoint& at, int radiusX, int radiusY) const;
  void MeasureGlobalSteps();
  int KnownAround(int node) const;
  TPrediction Predict(int node, int excluded) const;
  bool Acceptable(const TCrossing& c, const TPrediction& p, bool chosen) const;
  const TCrossing* Choose(const std::vector<TCrossing>& crossings, const TPrediction& p,
                          const TCrossingSearch& searched, bool& covered) const;
  TJob Job(int node, const TPrediction& p, int radius) const;
  // Finds the crossings of the jobs' windows; the progress runs from first to last percent.
  void RunJobs(std::vector<TJob>& jobs, double first, double last);
  void ShowProgress(double percent);
  int FoundCount() const;
  bool Seed();
  bool SeedBlock(int i, int j, double& score, std::array<const TCrossing*, 4>& chosen) const;
  void Grow();
  void Verify();

  TRasterManager& FRaster;
  const TGridInfo& FGrid;
  TProgress& FProgress;
  TDarkReader FReader;
  std::vector<TNodeState> FNodes;
  int FArm;
  TWorldPoint FGlobalAcross, FGlobalDown;
  double FReach;                  // the least reach of a crossing that moves a node
  double FWidth = kProfileWidth;  // the widest lines of a crossing that moves a node
  int FSearched = 1;              // nodes not trusted
  int FShown = 0;
};

TNodeFinder::TNodeFinder(TRasterManager& raster, const TGridInfo& grid, TProgress& progress)
    : FRaster(raster),
      FGrid(grid),
      FProgress(progress),
      FReader(raster),
      FNodes(static_cast<size_t>(grid.NX) * grid.NY),
      FArm(std::clamp(static_cast<int>(std::lround(
                          0.1 * std::min(std::abs(grid.Step.X), std::abs(grid.Step.Y)))),
                      10, 32)),
      FGlobalAcross{double(grid.Step.X), 0},
      FGlobalDown{0, double(grid.Step.Y)},
      FReach(kLeastReach * FArm) {}

TCrossingSearch TNodeFinder::SearchAround(int node, const TWorldPoint& at, int radiusX,
                                          int radiusY) const {
  const int i = node % FGrid.NX, j = node / FGrid.NX;
  TCrossingSearch search;
  search.X = at.X;
  search.Y = at.Y;
  search.RadiusX = radiusX;
  search.RadiusY = radiusY;
  search.Arm = FArm;
  // On the grid's border the lines need not go on outwards; a negative step turns the lattice.
  const bool lowLeft = FGrid.Step.X > 0, lowUp = FGrid.Step.Y > 0;
  search.NeedLeft = lowLeft ? i > 0 : i < FGrid.NX - 1;
  search.NeedRight = lowLeft ? i < FGrid.NX - 1 : i > 0;
  search.NeedUp = lowUp ? j > 0 : j < FGrid.NY - 1;
  search.NeedDown = lowUp ? j < FGrid.NY - 1 : j > 0;
  return search;
}

void TNodeFinder::MeasureGlobalSteps() {
  std::vector<double> ax, ay, dx, dy;
  for (int j = 0; j < FGrid.NY; ++j)
    for (int i = 0; i < FGrid.NX; ++i) {
      const int n = IndexOf(i, j);
      if (!Known(n)) continue;
      if (i + 1 < FGrid.NX && Known(n + 1)) {
        ax.push_back(PositionOf(n + 1).X - PositionOf(n).X);
        ay.push_back(PositionOf(n + 1).Y - PositionOf(n).Y);
      }
      if (j + 1 < FGrid.NY && Known(n + FGrid.NX)) {
        dx.push_back(PositionOf(n + FGrid.NX).X - PositionOf(n).X);
        dy.push_back(PositionOf(n + FGrid.NX).Y - PositionOf(n).Y);
      }
    }
  if (!ax.empty()) FGlobalAcross = TWorldPoint{Median(ax), Median(ay)};
  if (!dx.empty()) FGlobalDown = TWorldPoint{Median(dx), Median(dy)};
  std::vector<double> reaches, widths;
  for (const TNodeState& node : FNodes)
    if (node.Kind == TKind::Found) {
      reaches.push_back(node.Reach);
      widths.push_back(node.Width);
    }
  if (reaches.size() >= 4) {
    FReach = std::max(kLeastReach * FArm, kReachShare * Median(reaches));
    FWidth = std::max(Median(widths) + kExtraWidth, kWiderShare * Median(widths));
  }
}

int TNodeFinder::KnownAround(int node) const {
  const int i = node % FGrid.NX, j = node / FGrid.NX;
  int count = 0;
  for (int jj = std::max(0, j - kNear); jj <= std::min(FGrid.NY - 1, j + kNear); ++jj)
    for (int ii = std::max(0, i - kNear); ii <= std::min(FGrid.NX - 1, i + kNear); ++ii)
      count += Known(IndexOf(ii, jj));
  return count;
}

// A smooth surface through the known crossings around the node, in the node indices: position,
// steps and the bends of the lines, weighted by nearness. The directions of found crossings' lines
// tell how the lines bend. What the crossings do not settle comes from priors: the steps measured
// over the whole grid, and straight lines.
TPrediction TNodeFinder::Predict(int node, int excluded) const {
  constexpr int kTerms = 6;
  constexpr double kStepPrior = 0.01, kBendPrior = 0.2, kDirectionWeight = 0.3;
  const int i = node % FGrid.NX, j = node / FGrid.NX;
  // One system for x and one for y over the terms 1, di, dj, di²/2, di·dj, dj²/2.
  double mx[kTerms][kTerms + 1] = {}, my[kTerms][kTerms + 1] = {};
  auto add = [&](double(&m)[kTerms][kTerms + 1], const double* phi, double w, double value) {
    for (int r = 0; r < kTerms; ++r) {
      for (int c = 0; c < kTerms; ++c) m[r][c] += w * phi[r] * phi[c];
      m[r][kTerms] += w * phi[r] * value;
    }
  };
  bool left = false, right = false, up = false, down = false;
  int edge = 0, near = 0;
  for (int dj = -kNear; dj <= kNear; ++dj)
    for (int di = -kNear; di <= kNear; ++di) {
      const int ii = i + di, jj = j + dj;
      if ((di == 0 && dj == 0) || ii < 0 || jj < 0 || ii >= FGrid.NX || jj >= FGrid.NY) continue;
      const int other = IndexOf(ii, jj);
      if (other == excluded || !Known(other)) continue;
      const TNodeState& state = FNodes[static_cast<size_t>(other)];
      const double w = 1.0 / (di * di + dj * dj);
      const double at[kTerms] = {
          1, double(di), double(dj), di * di / 2.0, double(di * dj), dj * dj / 2.0};
      add(mx, at, w, state.Position.X);
      add(my, at, w, state.Position.Y);
      if (state.Directed) {
        // The across line's slope gives dy/di, the down line's dx/dj, through the steps' lengths.
        const double alongI[kTerms] = {0, 1, 0, double(di), double(dj), 0};
        const double alongJ[kTerms] = {0, 0, 1, 0, double(di), double(dj)};
        add(my, alongI, kDirectionWeight * w, state.SlopeAcross * FGlobalAcross.X);
        add(mx, alongJ, kDirectionWeight * w, state.SlopeDown * FGlobalDown.Y);
      }
      left = left || (di < 0 && di >= -2 && std::abs(dj) <= 1);
      right = right || (di > 0 && di <= 2 && std::abs(dj) <= 1);
      up = up || (dj < 0 && dj >= -2 && std::abs(di) <= 1);
      down = down || (dj > 0 && dj <= 2 && std::abs(di) <= 1);
      edge += std::abs(di) + std::abs(dj) == 1;
      near += std::abs(di) <= 2 && std::abs(dj) <= 2;
    }
  TPrediction prediction;
  if (near == 0) return prediction;
  const double across[2] = {FGlobalAcross.X, FGlobalAcross.Y};
  const double downward[2] = {FGlobalDown.X, FGlobalDown.Y};
  double solved[2][kTerms];
  for (int axis = 0; axis < 2; ++axis) {
    auto& m = axis ? my : mx;
    m[1][1] += kStepPrior;
    m[1][kTerms] += kStepPrior * across[axis];
    m[2][2] += kStepPrior;
    m[2][kTerms] += kStepPrior * downward[axis];
    for (int r = 3; r < kTerms; ++r) m[r][r] += kBendPrior;
    // Gaussian elimination with partial pivoting; the priors keep the system regular.
    for (int c = 0; c < kTerms; ++c) {
      int pivot = c;
      for (int r = c + 1; r < kTerms; ++r)
        if (std::abs(m[r][c]) > std::abs(m[pivot][c])) pivot = r;
      if (std::abs(m[pivot][c]) < 1e-12) return prediction;
      std::swap(m[c], m[pivot]);
      for (int r = 0; r < kTerms; ++r) {
        if (r == c) continue;
        const double f = m[r][c] / m[c][c];
        for (int k = c; k <= kTerms; ++k) m[r][k] -= f * m[c][k];
      }
    }
    for (int t = 0; t < kTerms; ++t) solved[axis][t] = m[t][kTerms] / m[t][t];
  }
  prediction.Ok = true;
  prediction.Position = TWorldPoint{solved[0][0], solved[1][0]};
  prediction.StepAcross = TWorldPoint{solved[0][1], solved[1][1]};
  prediction.StepDown = TWorldPoint{solved[0][2], solved[1][2]};
  prediction.Class = left && right && up && down ? 0 : edge >= 1 && near >= 4 ? 1 : 2;
  const double cell = std::min(std::hypot(prediction.StepAcross.X, prediction.StepAcross.Y),
                               std::hypot(prediction.StepDown.X, prediction.StepDown.Y));
  // How well the surface passes through the known crossings it rests on bounds how far it can be
  // wrong at the node; lines that bend more than it follows spread the crossings from it.
  double squares = 0;
  int count = 0;
  for (int dj = -2; dj <= 2; ++dj)
    for (int di = -2; di <= 2; ++di) {
      const int ii = i + di, jj = j + dj;
      if ((di == 0 && dj == 0) || ii < 0 || jj < 0 || ii >= FGrid.NX || jj >= FGrid.NY) continue;
      const int other = IndexOf(ii, jj);
      if (other == excluded || !Known(other)) continue;
      const double at[kTerms] = {
          1, double(di), double(dj), di * di / 2.0, double(di * dj), dj * dj / 2.0};
      double x = 0, y = 0;
      for (int t = 0; t < kTerms; ++t) {
        x += at[t] * solved[0][t];
        y += at[t] * solved[1][t];
      }
      const TWorldPoint q = PositionOf(other);
      squares += (x - q.X) * (x - q.X) + (y - q.Y) * (y - q.Y);
      ++count;
    }
  const double scatter = std::sqrt(squares / count);
  static constexpr double kBase[] = {4, 5, 6}, kShare[] = {0.06, 0.12, 0.18};
  static constexpr double kScatter[] = {6, 10, 15};
  prediction.Tolerance =
      std::min(kMaxRadius - 2.0,
               std::max(kBase[prediction.Class],
                        std::min(kShare[prediction.Class] * cell,
                                 kBase[prediction.Class] + kScatter[prediction.Class] * scatter)));
  // A crossing predicted off the raster cannot be seen on it.
  const double reach = prediction.Tolerance;
  prediction.Ok = std::isfinite(prediction.Position.X) && std::isfinite(prediction.Position.Y) &&
                  prediction.Position.X > -reach && prediction.Position.Y > -reach &&
                  prediction.Position.X < FRaster.Width() + reach &&
                  prediction.Position.Y < FRaster.Height() + reach;
  return prediction;
}

// Whether a crossing could be the node's: near the prediction, sure, with arms as long as the
// grid's, running as predicted; to be chosen, its lines must also be as wide as the grid's and
// clear of other lines (a rival may be a grid line that clutter widens). A crossing where
// neighbours on every side put it needs less of the scan's own evidence: clutter that touches a
// crossing shortens its arms and widens its lines, but does not move it there.
bool TNodeFinder::Acceptable(const TCrossing& c, const TPrediction& p, bool chosen) const {
  const double slopeAcross = p.StepAcross.X != 0 ? p.StepAcross.Y / p.StepAcross.X : 0;
  const double slopeDown = p.StepDown.Y != 0 ? p.StepDown.X / p.StepDown.Y : 0;
  const double turn = kMaxTurn[p.Class] + kShortArmTurn / std::max(1.0, c.Reach);
  const double d = Distance(TWorldPoint{c.X, c.Y}, p.Position);
  const bool agrees = p.Class == 0 && d <= kAgreement;
  const bool plain = agrees || (c.Clear && c.Width <= FWidth);
  return d <= p.Tolerance && c.Confidence >= (agrees ? kAcceptAgreeing : kAccept) &&
         c.Reach >= (agrees ? kAgreeingReach * FReach : FReach) &&
         (!chosen || (plain && c.Width <= FWidth + kExtraWidth)) &&
         std::abs(c.SlopeAcross - slopeAcross) <= turn && std::abs(c.SlopeDown - slopeDown) <= turn;
}

// The surest crossing that could be the node's, preferring the nearer, unless another that could
// be it is nearly as sure and about as near: a wrong move is worse than none. The choice is final
// only when the search covered every place such a rival could be; covered tells.
const TCrossing* TNodeFinder::Choose(const std::vector<TCrossing>& crossings, const TPrediction& p,
                                     const TCrossingSearch& searched, bool& covered) const {
  auto distance = [&](const TCrossing& c) { return Distance(TWorldPoint{c.X, c.Y}, p.Position); };
  const TCrossing* best = nullptr;
  double bestScore = 0;
  for (const TCrossing& c : crossings) {
    if (!Acceptable(c, p, true)) continue;
    const double d = distance(c) / p.Tolerance;
    const double score = c.Confidence * (1 - 0.3 * d * d);
    if (!best || score > bestScore) {
      best = &c;
      bestScore = score;
    }
  }
  const double near =
      best ? distance(*best) + std::max(kRivalDistance, kRivalReach * p.Tolerance) : p.Tolerance;
  const double need = std::min(near, p.Tolerance);
  covered = std::abs(p.Position.X - searched.X) + need <= searched.RadiusX &&
            std::abs(p.Position.Y - searched.Y) + need <= searched.RadiusY;
  if (!best) return nullptr;
  for (const TCrossing& c : crossings)
    if (&c != best && Acceptable(c, p, false) && distance(c) <= near &&
        c.Confidence >= kRivalShare * best->Confidence &&
        std::hypot(c.X - best->X, c.Y - best->Y) > kRivalDistance)
      return nullptr;
  return best;
}

void TNodeFinder::ShowProgress(double percent) {
  FShown = std::clamp(static_cast<int>(percent), FShown, 99);
  FProgress.ShowPercent(FShown);
}

int TNodeFinder::FoundCount() const {
  return static_cast<int>(std::count_if(FNodes.begin(), FNodes.end(), [](const TNodeState& node) {
    return node.Kind == TKind::Found;
  }));
}

void TNodeFinder::RunJobs(std::vector<TJob>& jobs, double first, double last) {
  std::vector<TCrossingSearch> searches;
  for (const TJob& job : jobs) searches.push_back(job.Search);
  std::vector<std::vector<TCrossing>> found =
      FindCrossingsAround(FReader, searches, [&](size_t analysed) {
        ShowProgress(first + (last - first) * static_cast<double>(analysed) / jobs.size());
      });
  for (size_t k = 0; k < jobs.size(); ++k) jobs[k].Found = std::move(found[k]);
}

// The four crossings of the cell (i, j) that agree best with each other and with the lattice: its
// sides as long as the lattice's within a few per cent and turned by a few degrees at most, and
// opposite sides parallel.
bool TNodeFinder::SeedBlock(int i, int j, double& score,
                            std::array<const TCrossing*, 4>& chosen) const {
  const int corners[4] = {IndexOf(i, j), IndexOf(i + 1, j), IndexOf(i, j + 1),
                          IndexOf(i + 1, j + 1)};
  std::array<std::vector<const TCrossing*>, 4> options;
  for (int k = 0; k < 4; ++k) {
    const TNodeState& node = FNodes[static_cast<size_t>(corners[k])];
    if (!node.SeedSearched) return false;
    for (const TCrossing& c : node.Seen)
      if (c.Clear && c.Confidence >= kAccept && options[k].size() < 4) options[k].push_back(&c);
    if (options[k].empty()) return false;
  }
  const TWorldPoint across{double(FGrid.Step.X), 0}, down{0, double(FGrid.Step.Y)};
  const double sideX = 0.15 * std::abs(FGrid.Step.X) + 3, sideY = 0.15 * std::abs(FGrid.Step.Y) + 3;
  const double parallelX = 0.06 * std::abs(FGrid.Step.X) + 3,
               parallelY = 0.06 * std::abs(FGrid.Step.Y) + 3;
  auto vector = [](const TCrossing* a, const TCrossing* b) {
    return TWorldPoint{b->X - a->X, b->Y - a->Y};
  };
  // The lines at each crossing run along the cell's sides.
  auto along = [](const TWorldPoint& side, double slope, bool down) {
    const double chord = down ? side.X / side.Y : side.Y / side.X;
    return std::abs(chord - slope) <= kSeedTurn;
  };
  bool any = false;
  for (const TCrossing* a : options[0])
    for (const TCrossing* b : options[1])
      for (const TCrossing* c : options[2])
        for (const TCrossing* d : options[3]) {
          const TWorldPoint top = vector(a, b), bottom = vector(c, d);
          const TWorldPoint left = vector(a, c), right = vector(b, d);
          if (Distance(top, across) > sideX || Distance(bottom, across) > sideX ||
              Distance(left, down) > sideY || Distance(right, down) > sideY ||
              Distance(top, bottom) > parallelX || Distance(left, right) > parallelY)
            continue;
          if (!along(top, a->SlopeAcross, false) || !along(top, b->SlopeAcross, false) ||
              !along(bottom, c->SlopeAcross, false) || !along(bottom, d->SlopeAcross, false) ||
              !along(left, a->SlopeDown, true) || !along(left, c->SlopeDown, true) ||
              !along(right, b->SlopeDown, true) || !along(right, d->SlopeDown, true))
            continue;
          const double s = a->Confidence + b->Confidence + c->Confidence + d->Confidence;
          if (!any || s > score) {
            any = true;
            score = s;
            chosen = {a, b, c, d};
          }
        }
  return any;
}

// Without trusted nodes, the search starts from the cell whose crossings agree best with the
// lattice, looking at the cell in the middle and four others spread over the grid first, then at
// the others from the middle out, until one agrees.
bool TNodeFinder::Seed() {
  struct TBlock {
    int I, J;
  };
  std::vector<TBlock> blocks;
  for (int j = 0; j + 1 < FGrid.NY; ++j)
    for (int i = 0; i + 1 < FGrid.NX; ++i) blocks.push_back({i, j});
  auto distanceTo = [&](const TBlock& b, double fx, double fy) {
    return std::hypot(b.I + 0.5 - fx * (FGrid.NX - 1), b.J + 0.5 - fy * (FGrid.NY - 1));
  };
  std::vector<TBlock> order;
  const double targets[5][2] = {{0.5, 0.5}, {0.25, 0.25}, {0.75, 0.25}, {0.25, 0.75}, {0.75, 0.75}};
  for (const auto& target : targets) {
    auto nearest =
        std::min_element(blocks.begin(), blocks.end(), [&](const TBlock& a, const TBlock& b) {
          return distanceTo(a, target[0], target[1]) < distanceTo(b, target[0], target[1]);
        });
    if (nearest == blocks.end()) break;
    order.push_back(*nearest);
    blocks.erase(nearest);
  }
  const size_t spread = order.size();
  std::stable_sort(blocks.begin(), blocks.end(), [&](const TBlock& a, const TBlock& b) {
    return distanceTo(a, 0.5, 0.5) < distanceTo(b, 0.5, 0.5);
  });
  order.insert(order.end(), blocks.begin(), blocks.end());

  const int radiusX = std::min(kMaxRadius, static_cast<int>(kSeedReach * std::abs(FGrid.Step.X)));
  const int radiusY = std::min(kMaxRadius, static_cast<int>(kSeedReach * std::abs(FGrid.Step.Y)));
  for (size_t first = 0; first < order.size();) {
    // The middle cell first, then the four spread over the grid, then four at a time.
    const size_t last = first == 0       ? 1
                        : first < spread ? spread
                                         : std::min(order.size(), first + 4);
    std::vector<TJob> jobs;
    for (size_t b = first; b < last; ++b)
      for (int k = 0; k < 4; ++k) {
        const int node = IndexOf(order[b].I + k % 2, order[b].J + k / 2);
        TNodeState& state = FNodes[static_cast<size_t>(node)];
        if (state.SeedSearched) continue;
        state.SeedSearched = true;
        const TPoint ref = FGrid.RefPos(node % FGrid.NX, node / FGrid.NX);
        TJob job;
        job.Node = node;
        job.Search =
            SearchAround(node, TWorldPoint{double(ref.X), double(ref.Y)}, radiusX, radiusY);
        jobs.push_back(job);
      }
    RunJobs(jobs, kSeedPercent * double(first) / order.size(),
            kSeedPercent * double(last) / order.size());
    for (TJob& job : jobs) {
      FNodes[static_cast<size_t>(job.Node)].Seen = std::move(job.Found);
      FNodes[static_cast<size_t>(job.Node)].SeenSearch = job.Search;
    }
    first = last;
    double best = 0;
    std::array<const TCrossing*, 4> chosen{};
    const TBlock* seed = nullptr;
    for (size_t b = 0; b < first; ++b) {
      double score = 0;
      std::array<const TCrossing*, 4> corners{};
      if (SeedBlock(order[b].I, order[b].J, score, corners) && (!seed || score > best)) {
        seed = &order[b];
        best = score;
        chosen = corners;
      }
    }
    if (!seed) continue;
    for (int k = 0; k < 4; ++k) {
      TNodeState& state = FNodes[static_cast<size_t>(IndexOf(seed->I + k % 2, seed->J + k / 2))];
      state.Kind = TKind::Found;
      state.Position = TWorldPoint{chosen[k]->X, chosen[k]->Y};
      state.Confidence = chosen[k]->Confidence;
      state.Reach = chosen[k]->Reach;
      state.Width = chosen[k]->Width;
      state.Directed = true;
      state.SlopeAcross = chosen[k]->SlopeAcross;
      state.SlopeDown = chosen[k]->SlopeDown;
    }
    return true;
  }
  return false;
}

TJob TNodeFinder::Job(int node, const TPrediction& p, int radius) const {
  TJob job;
  job.Node = node;
  job.Prediction = p;
  job.Search = SearchAround(node, p.Position, radius, radius);
  job.Search.SlopeAcross = p.StepAcross.X != 0 ? p.StepAcross.Y / p.StepAcross.X : 0;
  job.Search.SlopeDown = p.StepDown.Y != 0 ? p.StepDown.X / p.StepDown.Y : 0;
  job.Search.DirectionsKnown = p.Class < 2;
  return job;
}

// From the known crossings out to their neighbours, round by round: each round looks for the
// nodes with the best predictions, all at once. A node is looked for again when more crossings
// around it have become known, since its prediction is then better. Each node is looked for near
// its prediction first, and over the prediction's whole reach only when that leaves a doubt.
void TNodeFinder::Grow() {
  for (;;) {
    MeasureGlobalSteps();
    std::vector<std::pair<int, TPrediction>> candidates;
    int bestClass = 3;
    for (int n = 0; n < static_cast<int>(FNodes.size()); ++n) {
      const TNodeState& state = FNodes[static_cast<size_t>(n)];
      if (Known(n) || state.Tries >= kMaxTries || KnownAround(n) <= state.KnownAround) continue;
      const TPrediction p = Predict(n, -1);
      if (!p.Ok) continue;
      candidates.emplace_back(n, p);
      bestClass = std::min(bestClass, p.Class);
    }
    if (candidates.empty()) return;
    std::vector<std::pair<int, const TCrossing*>> accepted;
    std::vector<TJob> narrow, wide;
    for (const auto& [n, p] : candidates) {
      if (p.Class != bestClass) continue;
      TNodeState& state = FNodes[static_cast<size_t>(n)];
      ++state.Tries;
      state.KnownAround = KnownAround(n);
      bool covered = false;
      if (state.SeedSearched)
        if (const TCrossing* c = Choose(state.Seen, p, state.SeenSearch, covered); c && covered) {
          accepted.emplace_back(n, c);
          continue;
        }
      const int full = static_cast<int>(std::ceil(p.Tolerance)) + 2;
      const int near = static_cast<int>(std::ceil(kNarrowShare * p.Tolerance)) + 2;
      (near < full ? narrow : wide).push_back(Job(n, p, near < full ? near : full));
    }
    // The nodes of a round become settled, found or not: the progress moves over them.
    const double settled = kSeedPercent + (99.0 - kSeedPercent) * FoundCount() / FSearched;
    const double step = (99.0 - kSeedPercent) * double(narrow.size() + wide.size()) / FSearched;
    RunJobs(narrow, settled, settled + step / 2);
    for (const TJob& job : narrow) {
      bool covered = false;
      const TCrossing* c = Choose(job.Found, job.Prediction, job.Search, covered);
      if (c && covered)
        accepted.emplace_back(job.Node, c);
      else if (!covered)
        wide.push_back(Job(job.Node, job.Prediction,
                           static_cast<int>(std::ceil(job.Prediction.Tolerance)) + 2));
    }
    RunJobs(wide, settled + step / 2, settled + step);
    for (const TJob& job : wide) {
      bool covered = false;
      if (const TCrossing* c = Choose(job.Found, job.Prediction, job.Search, covered))
        accepted.emplace_back(job.Node, c);
    }
    // Seen crossings stay where they are until the next round's searches.
    for (const auto& [n, c] : accepted) {
      TNodeState& state = FNodes[static_cast<size_t>(n)];
      state.Kind = TKind::Found;
      state.Position = TWorldPoint{c->X, c->Y};
      state.Confidence = c->Confidence;
      state.Reach = c->Reach;
      state.Width = c->Width;
      state.Directed = true;
      state.SlopeAcross = c->SlopeAcross;
      state.SlopeDown = c->SlopeDown;
    }
  }
}

// Every crossing found must agree with what all its known neighbours predict of it: the first
// crossings of a region were accepted on weaker predictions.
void TNodeFinder::Verify() {
  static constexpr double kBase[] = {2.5, 4, 6}, kShare[] = {0.025, 0.04, 0.1};
  std::vector<int> doubtful;
  for (int n = 0; n < static_cast<int>(FNodes.size()); ++n) {
    if (FNodes[static_cast<size_t>(n)].Kind != TKind::Found) continue;
    const TPrediction p = Predict(n, n);
    if (!p.Ok) continue;
    const double cell = std::min(std::hypot(p.StepAcross.X, p.StepAcross.Y),
                                 std::hypot(p.StepDown.X, p.StepDown.Y));
    const double tolerance = std::max(kBase[p.Class], kShare[p.Class] * cell);
    if (Distance(p.Position, PositionOf(n)) > tolerance) doubtful.push_back(n);
  }
  for (int n : doubtful) FNodes[static_cast<size_t>(n)].Kind = TKind::Unknown;
}

void TNodeFinder::Run(TNodeSearch& search) {
  int trusted = 0;
  for (int j = 0; j < FGrid.NY; ++j)
    for (int i = 0; i < FGrid.NX; ++i) {
      TNodeState& state = FNodes[static_cast<size_t>(IndexOf(i, j))];
      const TPoint at = FGrid.NodePos(i, j);
      state.Position = TWorldPoint{double(at.X), double(at.Y)};
      if (FGrid.NodeAt(i, j).IsMoved()) {
        state.Kind = TKind::Trusted;
        ++trusted;
      }
    }
  FSearched = std::max(1, static_cast<int>(FNodes.size()) - trusted);
  if (trusted > 0 || Seed()) {
    Grow();
    Verify();
  }
  for (size_t n = 0; n < FNodes.size(); ++n)
    if (FNodes[n].Kind == TKind::Found) {
      search.Nodes[n].Finding = TNodeFinding::Found;
      search.Nodes[n].Position = FNodes[n].Position;
      search.Nodes[n].Confidence = FNodes[n].Confidence;
    }
}

}  // namespace

TNodeSearch FindGridNodes(TRasterManager& raster, const TGridInfo& grid) {
  TNodeSearch search;
  search.NX = grid.NX;
  search.NY = grid.NY;
  search.Nodes.resize(static_cast<size_t>(grid.NX) * grid.NY);
  for (int32_t j = 0; j < grid.NY; ++j)
    for (int32_t i = 0; i < grid.NX; ++i) {
      TFoundNode& node = search.Nodes[static_cast<size_t>(i) + static_cast<size_t>(j) * grid.NX];
      const TPoint at = grid.NodePos(i, j);
      node.Position = TWorldPoint{double(at.X), double(at.Y)};
      if (grid.NodeAt(i, j).IsMoved()) node.Finding = TNodeFinding::Trusted;
    }
  if (search.SearchedCount() == 0 || std::abs(grid.Step.X) < kMinStep ||
      std::abs(grid.Step.Y) < kMinStep || raster.Width() == 0 || raster.Height() == 0)
    return search;
  TProgress progress(raster.StatusInfo(), QStringLiteral("Поиск узлов сетки..."));
  progress.ShowPercent(0);
  TNodeFinder(raster, grid, progress).Run(search);
  return search;
}

TAppliedNodes ApplyFoundNodes(TGridInfo& grid, const TNodeSearch& search) {
  CheckInternal(grid.NX == search.NX && grid.NY == search.NY, QStringLiteral("ApplyFoundNodes"),
                QStringLiteral("сетка не та, в которой искали узлы"));
  TAppliedNodes applied;
  for (int32_t j = 0; j < grid.NY; ++j)
    for (int32_t i = 0; i < grid.NX; ++i) {
      const TFoundNode& node = search.At(i, j);
      if (node.Finding == TNodeFinding::NotFound) applied.NotFound.push_back(TPoint{i, j});
      if (node.Finding != TNodeFinding::Found) continue;
      const TPoint at = node.Pixel(), ref = grid.RefPos(i, j);
      grid.NodeAt(i, j).Offset = TPoint{at.X - ref.X, at.Y - ref.Y};
      ++applied.Found;
    }
  return applied;
}
