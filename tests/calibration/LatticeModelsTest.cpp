#include "LatticeModels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

namespace {

constexpr double kPi = 3.14159265358979323846;

// A lattice of 12 × 10 nodes whose crossings lie where place puts them, all known.
TLatticeModel Lattice(const std::function<TWorldPoint(int i, int j)>& place) {
  TLatticeModel model(12, 10, TWorldPoint{200, 0}, TWorldPoint{0, 180});
  for (int j = 0; j < 10; ++j)
    for (int i = 0; i < 12; ++i) {
      TLatticePoint point;
      point.Position = place(i, j);
      model.Set(i + j * 12, point);
    }
  return model;
}

// Turned by two degrees, shrunk by one per cent, and bent by a wave of 30 pixels over the sheet.
TWorldPoint Bent(int i, int j) {
  const double a = 2 * kPi / 180, u = 200 * i, v = 180 * j;
  return TWorldPoint{
      100 + 0.99 * (std::cos(a) * u - std::sin(a) * v) + 30 * std::sin(v / 900 + 0.4),
      80 + 0.99 * (std::sin(a) * u + std::cos(a) * v) + 30 * std::sin(u / 1100 + 1.1)};
}

}  // namespace

// Every node of a turned, shrunk and bent lattice is predicted from its neighbours within a
// fraction of a pixel inside, and within the prediction's own spread on the border and where
// neighbours are missing.
TEST(TLatticeModel, PredictsEveryNodeFromItsNeighboursWithinItsSpread) {
  TLatticeModel model = Lattice(Bent);
  for (int n : {5 + 5 * 12, 0, 11 + 9 * 12}) model.Forget(n);
  for (int j = 0; j < 10; ++j)
    for (int i = 0; i < 12; ++i) {
      const TLatticePrediction p = model.Predict(i + j * 12);
      ASSERT_TRUE(p.Ok) << i << ", " << j;
      const TWorldPoint truth = Bent(i, j);
      const bool inside = i > 0 && j > 0 && i < 11 && j < 9;
      EXPECT_LE(std::abs(p.Position.X - truth.X), inside ? 0.5 : 3 * p.Sigma.X) << i << ", " << j;
      EXPECT_LE(std::abs(p.Position.Y - truth.Y), inside ? 0.5 : 3 * p.Sigma.Y) << i << ", " << j;
      EXPECT_EQ(p.Surrounded, inside) << i << ", " << j;
    }
}

// Two neighbours taken from a road beside their line, 6 pixels off, do not pull the prediction
// of the node between them; a node far from every known crossing has none.
TEST(TLatticeModel, WrongNeighboursDoNotPullAPrediction) {
  TLatticeModel model = Lattice(Bent);
  for (int n : {4 + 5 * 12, 4 + 6 * 12}) {
    TLatticePoint point = model.Point(n);
    point.Position.X += 6;
    model.Set(n, point);
  }
  const TLatticePrediction p = model.Predict(4 + 4 * 12);
  EXPECT_NEAR(p.Position.X, Bent(4, 4).X, 0.5);
  EXPECT_NEAR(p.Position.Y, Bent(4, 4).Y, 0.5);
  // The wrong ones themselves are predicted where the lattice has them, far outside their spread.
  const TLatticePrediction wrong = model.Predict(4 + 5 * 12);
  EXPECT_GT(std::abs(wrong.Position.X - model.Point(4 + 5 * 12).Position.X), 3 * wrong.Sigma.X);

  TLatticeModel sparse(12, 10, TWorldPoint{200, 0}, TWorldPoint{0, 180});
  TLatticePoint point;
  point.Position = Bent(0, 0);
  sparse.Set(0, point);
  EXPECT_FALSE(sparse.Predict(5 + 5 * 12).Ok);
  EXPECT_TRUE(sparse.Predict(1 + 1 * 12).Ok);
}

// The lattice over the whole grid: one known crossing shifts the given steps, a row of them sets
// the step along it, and a turned, shrunk lattice is found whole.
TEST(TLatticeModel, FitsTheWholeLatticeToWhatIsKnown) {
  TLatticeModel model(6, 5, TWorldPoint{100, 0}, TWorldPoint{0, 100});
  TLatticePoint point;
  point.Position = TWorldPoint{260, 140};
  model.Set(2 + 1 * 6, point);
  TLatticeModel::TAffine affine = model.FitAffine(TWorldPoint{100, 0}, TWorldPoint{0, 100});
  EXPECT_NEAR(affine.At(2, 1).X, 260, 1e-6);
  EXPECT_NEAR(affine.At(3, 1).X, 360, 1e-3);
  EXPECT_NEAR(affine.At(2, 2).Y, 240, 1e-3);
  point.Position = TWorldPoint{360 + 8, 140 + 3};
  model.Set(3 + 1 * 6, point);
  affine = model.FitAffine(TWorldPoint{100, 0}, TWorldPoint{0, 100});
  EXPECT_NEAR(affine.StepAcross.X, 108, 1e-2);
  EXPECT_NEAR(affine.StepAcross.Y, 3, 1e-3);
  EXPECT_NEAR(affine.StepDown.Y, 100, 1e-3);

  TLatticeModel turned(6, 5, TWorldPoint{100, 0}, TWorldPoint{0, 100});
  for (const auto& [i, j] : {std::pair{0, 0}, {5, 0}, {0, 4}, {5, 4}}) {
    point.Position = TWorldPoint{50 + 98 * i - 3.4 * j, 60 + 3.4 * i + 98 * j};
    turned.Set(i + j * 6, point);
  }
  affine = turned.FitAffine(TWorldPoint{100, 0}, TWorldPoint{0, 100});
  EXPECT_NEAR(affine.At(3, 2).X, 50 + 98 * 3 - 3.4 * 2, 1e-3);
  EXPECT_NEAR(affine.At(3, 2).Y, 60 + 3.4 * 3 + 98 * 2, 1e-3);
}
