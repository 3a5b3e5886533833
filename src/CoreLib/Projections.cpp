#include "Projections.h"

#include <cmath>

template <typename Convert>
void TProjection::ConvertRect(const TWorldRect& r, TWorldRect& q, Convert convert) const {
  const TWorldPoint corners[4] = {
      {r.Left, r.Top}, {r.Left, r.Bottom}, {r.Right, r.Top}, {r.Right, r.Bottom}};
  TWorldPoint p;
  convert(corners[0], p);
  q = TWorldRect{p.X, p.Y, p.X, p.Y};
  for (int i = 1; i < 4; ++i) {
    convert(corners[i], p);
    ExtendWorldRect(q, p);
  }
}

void TProjection::WorldRectToPage(const TWorldRect& r, TWorldRect& q) const {
  ConvertRect(r, q, [this](const TWorldPoint& a, TWorldPoint& b) { WorldToPage(a, b); });
}

void TProjection::PageRectToWorld(const TWorldRect& r, TWorldRect& q) const {
  ConvertRect(r, q, [this](const TWorldPoint& a, TWorldPoint& b) { PageToWorld(a, b); });
}

template <typename Convert>
void TProjection::ConvertContour(TContour& contour, Convert convert) const {
  // Inside the bracket the contour derives its arc data once, from the converted points.
  contour.BeginUpdate();
  try {
    TRecArray& commands = contour.Commands();
    for (int32_t i = 0; i < commands.Count; ++i) {
      TContourCommandRec& rec = *commands.At<TContourCommandRec>(i);
      if (KindHasPoint(rec.Kind)) {
        TWorldPoint p;
        convert(rec.Point, p);
        rec.Point = p;
      }
    }
    if (IsMirrored() && contour.HasArcs()) {
      for (int32_t i = 0; i < commands.Count; ++i) {
        const TContourCommandRec& rec = *commands.At<TContourCommandRec>(i);
        if (!KindIsArc(rec.Kind)) continue;
        double& bulge = contour.Arcs().At<TContourArc>(rec.ArcIndex)->Bulge;
        if (bulge != 0) bulge = -bulge;
      }
    }
  } catch (...) {
    contour.EndUpdate();
    throw;
  }
  contour.EndUpdate();
}

void TProjection::ContourToPage(TContour& contour) const {
  ConvertContour(contour, [this](const TWorldPoint& a, TWorldPoint& b) { WorldToPage(a, b); });
}

void TProjection::ContourToWorld(TContour& contour) const {
  ConvertContour(contour, [this](const TWorldPoint& a, TWorldPoint& b) { PageToWorld(a, b); });
}

namespace {

void Transform(const TAffineMatrix& m, const TWorldPoint& p, TWorldPoint& q) {
  const double x = m[0] * p.X + m[1] * p.Y + m[2];
  const double y = m[3] * p.X + m[4] * p.Y + m[5];
  q = TWorldPoint{x, y};
}

}  // namespace

TMatrixProjection::TMatrixProjection() {
  Reset();
}

double TMatrixProjection::GetScale() const {
  return FScaleX == FScaleY ? FScaleX : std::sqrt(FScaleX * FScaleY);
}

void TMatrixProjection::WorldToPage(const TWorldPoint& p, TWorldPoint& q) const {
  Transform(FMatrix, p, q);
}

void TMatrixProjection::PageToWorld(const TWorldPoint& p, TWorldPoint& q) const {
  Transform(FInverseMatrix, p, q);
}

void TMatrixProjection::EndUpdate() {
  if (--FUpdateCount == 0 && OnChange) OnChange(*this);
}

template <typename Change>
void TMatrixProjection::Changing(Change change) {
  BeginUpdate();
  try {
    change();
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TMatrixProjection::Reset() {
  Changing([this] {
    FMatrix = IdentityMatrix;
    FInverseMatrix = IdentityMatrix;
    FScaleX = 1;
    FScaleY = 1;
    FMirrored = false;
  });
}

void TMatrixProjection::Scale(double sx, double sy) {
  Changing([&] {
    ComposeMatrix({sx, 0, 0, 0, sy, 0});
    FScaleX = std::fabs(FScaleX * sx);
    FScaleY = std::fabs(FScaleY * sy);
    if (sy < 0) FMirrored = !FMirrored;
  });
}

void TMatrixProjection::Rotate(double angle) {
  Changing([&] {
    const double c = std::cos(angle);
    const double s = std::sin(angle);
    ComposeMatrix({c, -s, 0, s, c, 0});
  });
}

void TMatrixProjection::Flip(bool flipX, bool flipY) {
  Changing([&] {
    ComposeMatrix({flipX ? -1.0 : 1.0, 0, 0, 0, flipY ? -1.0 : 1.0, 0});
    if (flipY) FMirrored = !FMirrored;
  });
}

void TMatrixProjection::ComposeMatrix(const TAffineMatrix& o) {
  const TAffineMatrix& m = FMatrix;
  FMatrix = TAffineMatrix{m[0] * o[0] + m[3] * o[1],        m[1] * o[0] + m[4] * o[1],
                          m[2] * o[0] + m[5] * o[1] + o[2], m[0] * o[3] + m[3] * o[4],
                          m[1] * o[3] + m[4] * o[4],        m[2] * o[3] + m[5] * o[4] + o[5]};
  InvertMatrix();
}

void TMatrixProjection::InvertMatrix() {
  const TAffineMatrix& m = FMatrix;
  const double det = m[0] * m[4] - m[1] * m[3];
  if (det == 0) {
    FInverseMatrix = IdentityMatrix;
    return;
  }
  FInverseMatrix = {m[4] / det,  -m[1] / det, (m[1] * m[5] - m[2] * m[4]) / det,
                    -m[3] / det, m[0] / det,  (m[2] * m[3] - m[0] * m[5]) / det};
}
