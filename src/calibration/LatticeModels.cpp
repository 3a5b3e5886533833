#include "LatticeModels.h"

#include "Medians.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

// Predictions draw on the known crossings this many nodes around: enough to follow how the lines
// bend, and no more, since a sheet bent over a few cells leaves a surface of the second order
// further out.
constexpr int kNear = 2;
// The priors' weights against a known crossing one node away: the steps over the whole grid, and
// lines that bend little; measured directions count as a share of a crossing.
constexpr double kStepPrior = 0.01;
constexpr double kBendPrior = 0.2;
constexpr double kDirectionWeight = 0.3;
constexpr double kBendsOverNoise = 20;
// The least spread of a prediction, in pixels: how well a crossing is measured and how far a sheet
// bends between its crossings beyond what a smooth surface follows.
constexpr double kLeastSigma = 0.4;
// The robust fit: its rounds, and how many robust scales away a crossing stops counting.
constexpr int kRobustRounds = 2;
constexpr double kTukey = 3.5;
// The spread of a prediction against its neighbours', by the sides (of four) on which known
// crossings lie next to the node.
constexpr double kSideSpread[5] = {3, 3, 2, 1.3, 1};

// Solves the n × n system held in m (its last column the right-hand side) in place by Gaussian
// elimination with partial pivoting; false when it is singular.
template <int N>
bool Solve(double (&m)[N][N + 1], double (&x)[N]) {
  for (int c = 0; c < N; ++c) {
    int pivot = c;
    for (int r = c + 1; r < N; ++r)
      if (std::abs(m[r][c]) > std::abs(m[pivot][c])) pivot = r;
    if (std::abs(m[pivot][c]) < 1e-12) return false;
    std::swap(m[c], m[pivot]);
    for (int r = 0; r < N; ++r) {
      if (r == c) continue;
      const double f = m[r][c] / m[c][c];
      for (int k = c; k <= N; ++k) m[r][k] -= f * m[c][k];
    }
  }
  for (int t = 0; t < N; ++t) x[t] = m[t][N] / m[t][t];
  return true;
}

template <int N>
void AddRow(double (&m)[N][N + 1], const double (&phi)[N], double w, double value) {
  for (int r = 0; r < N; ++r) {
    for (int c = 0; c < N; ++c) m[r][c] += w * phi[r] * phi[c];
    m[r][N] += w * phi[r] * value;
  }
}

}  // namespace

TLatticeModel::TLatticeModel(int nx, int ny, const TWorldPoint& stepAcross,
                             const TWorldPoint& stepDown)
    : FNX(nx),
      FNY(ny),
      FPoints(static_cast<size_t>(nx) * ny),
      FKnown(static_cast<size_t>(nx) * ny, 0),
      FStepAcross(stepAcross),
      FStepDown(stepDown) {}

void TLatticeModel::Set(int node, const TLatticePoint& point) {
  FPoints[static_cast<size_t>(node)] = point;
  FKnown[static_cast<size_t>(node)] = 1;
}

void TLatticeModel::Forget(int node) {
  FKnown[static_cast<size_t>(node)] = 0;
}

int TLatticeModel::KnownAround(int node) const {
  const int i = node % FNX, j = node / FNX;
  int count = 0;
  for (int jj = std::max(0, j - kNear); jj <= std::min(FNY - 1, j + kNear); ++jj)
    for (int ii = std::max(0, i - kNear); ii <= std::min(FNX - 1, i + kNear); ++ii)
      count += (ii != i || jj != j) && Known(ii + jj * FNX);
  return count;
}

void TLatticeModel::MeasureSteps() {
  std::vector<double> ax, ay, dx, dy;
  for (int j = 0; j < FNY; ++j)
    for (int i = 0; i < FNX; ++i) {
      const int n = i + j * FNX;
      if (!Known(n)) continue;
      const TWorldPoint& p = Point(n).Position;
      if (i + 1 < FNX && Known(n + 1)) {
        ax.push_back(Point(n + 1).Position.X - p.X);
        ay.push_back(Point(n + 1).Position.Y - p.Y);
      }
      if (j + 1 < FNY && Known(n + FNX)) {
        dx.push_back(Point(n + FNX).Position.X - p.X);
        dy.push_back(Point(n + FNX).Position.Y - p.Y);
      }
    }
  if (!ax.empty()) FStepAcross = TWorldPoint{Median(ax), Median(ay)};
  if (!dx.empty()) FStepDown = TWorldPoint{Median(dx), Median(dy)};
}

namespace {

constexpr int kTerms = 6;

// Inverts the left n × n block of m by Gauss-Jordan elimination; false when it is singular.
bool Invert(const double (&m)[kTerms][kTerms + 1], double (&inverse)[kTerms][kTerms]) {
  double a[kTerms][2 * kTerms] = {};
  for (int r = 0; r < kTerms; ++r) {
    for (int c = 0; c < kTerms; ++c) a[r][c] = m[r][c];
    a[r][kTerms + r] = 1;
  }
  for (int c = 0; c < kTerms; ++c) {
    int pivot = c;
    for (int r = c + 1; r < kTerms; ++r)
      if (std::abs(a[r][c]) > std::abs(a[pivot][c])) pivot = r;
    if (std::abs(a[pivot][c]) < 1e-12) return false;
    std::swap(a[c], a[pivot]);
    const double p = a[c][c];
    for (double& v : a[c]) v /= p;
    for (int r = 0; r < kTerms; ++r) {
      if (r == c) continue;
      const double f = a[r][c];
      for (int k = 0; k < 2 * kTerms; ++k) a[r][k] -= f * a[c][k];
    }
  }
  for (int r = 0; r < kTerms; ++r)
    for (int c = 0; c < kTerms; ++c) inverse[r][c] = a[r][kTerms + c];
  return true;
}

// A smooth surface through the known crossings around a node, in the node indices: position,
// steps and the bends of the lines over the terms 1, di, dj, di²/2, di·dj, dj²/2, weighted by
// nearness; the directions of the crossings' lines tell how the lines bend. The fit is repeated
// with the crossings far from the surface weighing less (Tukey's biweight over the residuals'
// scale), so that a few wrong ones do not pull it.
class TSurfaceFit {
 public:
  struct TNeighbour {
    double At[kTerms];
    double Weight;
    const TLatticePoint* Point;
    double Robust = 1;
  };

  TSurfaceFit(std::vector<TNeighbour> neighbours, const TWorldPoint& stepAcross,
              const TWorldPoint& stepDown)
      : FNeighbours(std::move(neighbours)), FStepAcross(stepAcross), FStepDown(stepDown) {}

  bool Fit();
  const double (&Solved(int axis) const)[kTerms] { return FSolved[axis]; }
  // How far the surface is off where the node's nearest neighbours are, each left out of it in
  // turn (its residual over one less its leverage): how far it may be off at the node.
  double LeftOutSpread(int axis) const;

 private:
  void Normal(int axis, double (&m)[kTerms][kTerms + 1]) const;
  double Residual(const TNeighbour& n, int axis) const;

  std::vector<TNeighbour> FNeighbours;
  TWorldPoint FStepAcross, FStepDown;
  double FSolved[2][kTerms] = {};
};

void TSurfaceFit::Normal(int axis, double (&m)[kTerms][kTerms + 1]) const {
  for (auto& row : m) std::fill(std::begin(row), std::end(row), 0.0);
  const double stepLength = axis ? FStepAcross.X : FStepDown.Y;
  for (const TNeighbour& n : FNeighbours) {
    const double w = n.Weight * n.Robust;
    if (w <= 0) continue;
    AddRow(m, n.At, w, axis ? n.Point->Position.Y : n.Point->Position.X);
    if (!n.Point->Directed) continue;
    // The line across gives dy/di, the line down dx/dj, through the steps' lengths. A direction
    // measured over a share of a cell turns its error into that much more over the cell; the
    // positions' own errors are mostly the sheet's bends beyond the surface, a few times more
    // than how well a crossing is measured.
    const double di = n.At[1], dj = n.At[2];
    const double alongI[kTerms] = {0, 1, 0, di, dj, 0};
    const double alongJ[kTerms] = {0, 0, 1, 0, di, dj};
    const double share = n.Point->Reach / std::max(1.0, std::abs(stepLength));
    AddRow(m, axis ? alongI : alongJ,
           kDirectionWeight * std::min(1.0, kBendsOverNoise * share * share) * w,
           (axis ? n.Point->SlopeAcross : n.Point->SlopeDown) * stepLength);
  }
  const double across = axis ? FStepAcross.Y : FStepAcross.X;
  const double down = axis ? FStepDown.Y : FStepDown.X;
  m[1][1] += kStepPrior;
  m[1][kTerms] += kStepPrior * across;
  m[2][2] += kStepPrior;
  m[2][kTerms] += kStepPrior * down;
  for (int r = 3; r < kTerms; ++r) m[r][r] += kBendPrior;
}

double TSurfaceFit::Residual(const TNeighbour& n, int axis) const {
  double value = 0;
  for (int t = 0; t < kTerms; ++t) value += n.At[t] * FSolved[axis][t];
  return value - (axis ? n.Point->Position.Y : n.Point->Position.X);
}

bool TSurfaceFit::Fit() {
  for (int round = 0; round < kRobustRounds; ++round) {
    for (int axis = 0; axis < 2; ++axis) {
      double m[kTerms][kTerms + 1];
      Normal(axis, m);
      if (!Solve(m, FSolved[axis])) return false;
    }
    std::vector<double> residuals;
    for (const TNeighbour& n : FNeighbours)
      residuals.push_back(std::hypot(Residual(n, 0), Residual(n, 1)));
    // The scale: at first the residuals' median; then the root mean square of those that count,
    // weighted as in the fit, so that the nearest crossings set it.
    std::vector<double> sorted = residuals;
    double scale = 1.4826 * Median(sorted) / std::sqrt(2.0);
    if (round > 0) {
      double squares = 0, weights = 0;
      for (size_t k = 0; k < FNeighbours.size(); ++k) {
        const double w = FNeighbours[k].Weight * FNeighbours[k].Robust;
        squares += w * residuals[k] * residuals[k] / 2;
        weights += w;
      }
      if (weights > 0) scale = std::sqrt(squares / weights);
    }
    scale = std::max(kLeastSigma, scale);
    for (size_t k = 0; k < FNeighbours.size(); ++k) {
      const double u = residuals[k] / (kTukey * scale);
      FNeighbours[k].Robust = u < 1 ? (1 - u * u) * (1 - u * u) : 0;
    }
  }
  return std::isfinite(FSolved[0][0]) && std::isfinite(FSolved[1][0]);
}

double TSurfaceFit::LeftOutSpread(int axis) const {
  double m[kTerms][kTerms + 1], inverse[kTerms][kTerms];
  Normal(axis, m);
  if (!Invert(m, inverse)) return 0;
  double squares = 0, weights = 0;
  for (const TNeighbour& n : FNeighbours) {
    if (std::abs(n.At[1]) > 1 || std::abs(n.At[2]) > 1 || n.Robust < 0.5) continue;
    double leverage = 0;
    for (int r = 0; r < kTerms; ++r)
      for (int c = 0; c < kTerms; ++c) leverage += n.At[r] * inverse[r][c] * n.At[c];
    leverage *= n.Weight * n.Robust;
    const double left = Residual(n, axis) / std::max(0.05, 1 - leverage);
    squares += n.Weight * left * left;
    weights += n.Weight;
  }
  return weights > 0 ? std::sqrt(squares / weights) : 0;
}

}  // namespace

TLatticePrediction TLatticeModel::Predict(int node) const {
  const int i = node % FNX, j = node / FNX;
  std::vector<TSurfaceFit::TNeighbour> neighbours;
  bool left = false, right = false, up = false, down = false;
  for (int dj = -kNear; dj <= kNear; ++dj)
    for (int di = -kNear; di <= kNear; ++di) {
      const int ii = i + di, jj = j + dj;
      if ((di == 0 && dj == 0) || ii < 0 || jj < 0 || ii >= FNX || jj >= FNY) continue;
      if (!Known(ii + jj * FNX)) continue;
      neighbours.push_back(
          {{1, double(di), double(dj), di * di / 2.0, double(di * dj), dj * dj / 2.0},
           1.0 / (di * di + dj * dj),
           &Point(ii + jj * FNX)});
      left = left || (di < 0 && std::abs(dj) <= 1);
      right = right || (di > 0 && std::abs(dj) <= 1);
      up = up || (dj < 0 && std::abs(di) <= 1);
      down = down || (dj > 0 && std::abs(di) <= 1);
    }
  TLatticePrediction prediction;
  if (neighbours.empty()) return prediction;
  TSurfaceFit surface(std::move(neighbours), FStepAcross, FStepDown);
  if (!surface.Fit()) return prediction;
  // Reaching out from fewer sides is less sure than lying between known crossings.
  const double sides = kSideSpread[left + right + up + down];
  prediction.Ok = true;
  prediction.Position = TWorldPoint{surface.Solved(0)[0], surface.Solved(1)[0]};
  prediction.StepAcross = TWorldPoint{surface.Solved(0)[1], surface.Solved(1)[1]};
  prediction.StepDown = TWorldPoint{surface.Solved(0)[2], surface.Solved(1)[2]};
  prediction.Sigma = TWorldPoint{std::max(kLeastSigma, surface.LeftOutSpread(0)) * sides,
                                 std::max(kLeastSigma, surface.LeftOutSpread(1)) * sides};
  prediction.Surrounded = left && right && up && down;
  return prediction;
}

TLatticeModel::TAffine TLatticeModel::FitAffine(const TWorldPoint& stepAcross,
                                                const TWorldPoint& stepDown) const {
  // Per axis: origin, step across and step down, with the given steps as a weak prior.
  constexpr double kPrior = 1e-4;
  double m[2][3][4] = {};
  for (int n = 0; n < FNX * FNY; ++n) {
    if (!Known(n)) continue;
    const double phi[3] = {1, double(n % FNX), double(n / FNX)};
    AddRow(m[0], phi, 1, Point(n).Position.X);
    AddRow(m[1], phi, 1, Point(n).Position.Y);
  }
  const double across[2] = {stepAcross.X, stepAcross.Y}, down[2] = {stepDown.X, stepDown.Y};
  TAffine affine{TWorldPoint{}, stepAcross, stepDown};
  double solved[2][3];
  for (int axis = 0; axis < 2; ++axis) {
    m[axis][1][1] += kPrior;
    m[axis][1][3] += kPrior * across[axis];
    m[axis][2][2] += kPrior;
    m[axis][2][3] += kPrior * down[axis];
    if (!Solve(m[axis], solved[axis])) return affine;
  }
  affine.Origin = TWorldPoint{solved[0][0], solved[1][0]};
  affine.StepAcross = TWorldPoint{solved[0][1], solved[1][1]};
  affine.StepDown = TWorldPoint{solved[0][2], solved[1][2]};
  return affine;
}
