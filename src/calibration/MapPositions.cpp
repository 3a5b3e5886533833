#include "MapPositions.h"

#include "CellMaps.h"

#include <algorithm>
#include <cmath>

namespace {

double Cross(const TWorldPoint& a, const TWorldPoint& b) {
  return a.X * b.Y - a.Y * b.X;
}

TWorldPoint Minus(const TWorldPoint& a, const TWorldPoint& b) {
  return TWorldPoint{a.X - b.X, a.Y - b.Y};
}

// u from v on the bilinear cell, through the coordinate whose divisor is the larger.
double UOf(const TWorldPoint& e, const TWorldPoint& f, const TWorldPoint& g, const TWorldPoint& h,
           double v) {
  const double dx = e.X + g.X * v;
  const double dy = e.Y + g.Y * v;
  if (std::fabs(dx) >= std::fabs(dy)) return dx == 0 ? NAN : (h.X - f.X * v) / dx;
  return (h.Y - f.Y * v) / dy;
}

// How far (u, v) lies outside the part of the output that the cell maps: the unit square, open
// outwards on the sides where the cell is a border cell of the grid.
double Outside(double u, double v, bool left, bool right, bool top, bool bottom) {
  double d = 0;
  if (!left) d = std::max(d, -u);
  if (!right) d = std::max(d, u - 1);
  if (!top) d = std::max(d, -v);
  if (!bottom) d = std::max(d, v - 1);
  return d;
}

}  // namespace

std::optional<TWorldPoint> LatticePosition(const TGridInfo& grid, const TWorldPoint& scan) {
  if (grid.NX < 2 || grid.NY < 2 || grid.Step.X <= 0 || grid.Step.Y <= 0) return std::nullopt;
  // The mapping takes pixel corners to pixel corners; the scan's point is a pixel's middle.
  const TWorldPoint s{scan.X - 0.5, scan.Y - 0.5};
  // A point on a shared edge belongs to either cell; a little slack keeps rounding from losing it.
  constexpr double kSlack = 1e-9;
  // Extended outwards, a border cell's mapping meets the plane twice, once far out: of the places
  // it offers, the one nearest the cell is the calibration's.
  std::optional<TWorldPoint> nearest;
  double nearestOut = INFINITY;
  for (int32_t b = 0; b < grid.NY - 1; ++b)
    for (int32_t a = 0; a < grid.NX - 1; ++a) {
      const TCellTransform t = MakeCellTransform(grid, a, b);
      // s = Q0 + u·e + v·f + u·v·g, solved for v from a quadratic, then u.
      const TWorldPoint e = t.ETop;
      const TWorldPoint f = t.ELeft;
      const TWorldPoint g = Minus(t.EBottom, t.ETop);
      const TWorldPoint h = Minus(s, t.Q0);
      const double k2 = Cross(g, f);
      const double k1 = Cross(e, f) + Cross(h, g);
      const double k0 = Cross(h, e);
      // The roots in the form that loses no digits when k2 is small beside k1.
      double roots[2];
      int count = 0;
      if (k2 == 0) {
        if (k1 != 0) roots[count++] = -k0 / k1;
      } else {
        const double w = k1 * k1 - 4 * k0 * k2;
        if (w < 0) continue;
        const double q = -0.5 * (k1 + std::copysign(std::sqrt(w), k1));
        roots[count++] = q == 0 ? 0 : k0 / q;
        roots[count++] = q / k2;
      }
      const bool left = a == 0, right = a == grid.NX - 2, top = b == 0, bottom = b == grid.NY - 2;
      for (int k = 0; k < count; ++k) {
        const double v = roots[k];
        const double u = UOf(e, f, g, h, v);
        if (!std::isfinite(u) || !std::isfinite(v)) continue;
        if (Outside(u, v, left, right, top, bottom) > kSlack) continue;
        const double out = Outside(u, v, false, false, false, false);
        if (out >= nearestOut) continue;
        nearestOut = out;
        nearest = TWorldPoint{t.Reference.Left + u * t.W + 0.5, t.Reference.Top + v * t.H + 0.5};
        // Inside a cell: no other cell holds the point.
        if (out <= kSlack) return nearest;
      }
    }
  return nearest;
}

TWorldPoint MapPosition(const TGeoTransform& t, const TWorldPoint& p) {
  return TWorldPoint{t[0] + p.X * t[1] + p.Y * t[2], t[3] + p.X * t[4] + p.Y * t[5]};
}
