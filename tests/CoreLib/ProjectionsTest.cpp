#include "Projections.h"

#include <gtest/gtest.h>

#include <numbers>

namespace {

constexpr double Pi = std::numbers::pi;

void ExpectPoint(const TWorldPoint& p, double x, double y) {
  EXPECT_NEAR(p.X, x, 1e-12);
  EXPECT_NEAR(p.Y, y, 1e-12);
}

// The view of the program: flipped so that row 0 is on top, scaled, rotated.
void SetView(TMatrixProjection& p, double scale, double angle) {
  p.Reset();
  p.Flip(false, true);
  p.Scale(scale, scale);
  p.Rotate(angle);
}

}  // namespace

TEST(MatrixProjection, ScalesAndMirroringFollowTheChanges) {
  TMatrixProjection p;
  ExpectPoint(p.WorldToPage({3, 4}), 3, 4);
  ExpectPoint(p.PageToWorld({3, 4}), 3, 4);
  EXPECT_EQ(p.GetScale(), 1);
  EXPECT_FALSE(p.IsMirrored());

  p.Scale(2, 3);
  EXPECT_DOUBLE_EQ(p.GetScale(), std::sqrt(6.0));
  p.Reset();
  // Mirrored although the determinant is positive: only the Y factor's sign counts.
  p.Scale(-2, -2);
  EXPECT_EQ(p.GetScale(), 2);
  EXPECT_TRUE(p.IsMirrored());

  p.Reset();
  p.Flip(true, false);
  EXPECT_FALSE(p.IsMirrored());
  p.Flip(false, true);
  EXPECT_TRUE(p.IsMirrored());
  p.Flip(false, true);
  EXPECT_FALSE(p.IsMirrored());
}

TEST(MatrixProjection, OperationsActInPageSpaceAndTheInverseFollows) {
  TMatrixProjection p;
  SetView(p, 2, Pi / 2);
  ExpectPoint(p.WorldToPage({1, 0}), 0, 2);
  ExpectPoint(p.WorldToPage({0, 1}), 2, 0);
  ExpectPoint(p.PageToWorld(p.WorldToPage({5, -7})), 5, -7);

  p.Reset();
  p.Rotate(Pi / 4);
  TWorldRect r;
  p.WorldRectToPage({0, 0, 10, 10}, r);
  const double d = 10 / std::sqrt(2.0);
  EXPECT_NEAR(r.Left, -d, 1e-12);
  EXPECT_NEAR(r.Top, 0, 1e-12);
  EXPECT_NEAR(r.Right, d, 1e-12);
  EXPECT_NEAR(r.Bottom, 2 * d, 1e-12);

  // A singular matrix leaves the identity as its inverse.
  p.Scale(0, 1);
  ExpectPoint(p.PageToWorld({3, 4}), 3, 4);
}

TEST(MatrixProjection, EachChangeNotifiesOnceAndABracketOnceForAll) {
  TMatrixProjection p;
  int changes = 0;
  p.OnChange = [&](TMatrixProjection& sender) {
    EXPECT_EQ(&sender, &p);
    ++changes;
  };
  p.Reset();
  p.Scale(2, 2);
  p.Rotate(1);
  p.Flip(true, true);
  EXPECT_EQ(changes, 4);
  p.BeginUpdate();
  SetView(p, 3, 0.5);
  EXPECT_EQ(changes, 4);
  p.EndUpdate();
  EXPECT_EQ(changes, 5);
  EXPECT_EQ(p.UpdateCount(), 0);
}

TEST(MatrixProjection, ContoursKeepTheirArcsThroughAMirroringView) {
  TMatrixProjection p;
  SetView(p, 2, 0);
  TContour c;
  c.AddCircle({10, 20}, true, 5);
  const double bulge = c.GetCommand(1).Bulge;
  p.ContourToPage(c);
  EXPECT_EQ(c.GetCommand(1).Bulge, -bulge);
  // The circle stays a circle of the scaled radius around the converted centre.
  TWorldRect r;
  ASSERT_TRUE(c.GetBounds(r));
  EXPECT_NEAR(r.Left, 10, 1e-9);
  EXPECT_NEAR(r.Right, 30, 1e-9);
  EXPECT_NEAR(r.Top, -50, 1e-9);
  EXPECT_NEAR(r.Bottom, -30, 1e-9);
  EXPECT_NEAR(c.Arc(c.Command(1).ArcIndex).Radius, 10, 1e-9);

  p.ContourToWorld(c);
  EXPECT_EQ(c.GetCommand(1).Bulge, bulge);
  ExpectPoint(c.GetPoint(0), 5, 20);
}
