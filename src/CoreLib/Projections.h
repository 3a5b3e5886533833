#pragma once

#include "Contours.h"
#include "Geomet.h"
#include "RefObjects.h"

#include <array>
#include <cstdint>
#include <functional>

// Maps world coordinates (raster pixels, Y down) onto page coordinates (metres on the virtual
// sheet, Y up). Zoom, rotation and mirroring of the view live here; panning is the device's.
class TProjection : public TRefObject {
 public:
  // Page metres per world unit: the geometric mean of the X and Y scales when they differ.
  virtual double GetScale() const = 0;
  // Whether the mapping reflects the plane, so that arcs must turn the other way.
  virtual bool IsMirrored() const = 0;
  virtual void WorldToPage(const TWorldPoint& p, TWorldPoint& q) const = 0;
  virtual void PageToWorld(const TWorldPoint& p, TWorldPoint& q) const = 0;
  // The axis-parallel bounding box of the four converted corners: larger than the true image
  // under rotation.
  virtual void WorldRectToPage(const TWorldRect& r, TWorldRect& q) const;
  virtual void PageRectToWorld(const TWorldRect& r, TWorldRect& q) const;
  // Convert a contour in place; under a mirroring mapping the bulges change sign so that arcs
  // keep their shape.
  virtual void ContourToPage(TContour& contour) const;
  virtual void ContourToWorld(TContour& contour) const;

  // The world point itself for an argument of WorldToPage: a convenience for callers.
  TWorldPoint WorldToPage(const TWorldPoint& p) const {
    TWorldPoint q;
    WorldToPage(p, q);
    return q;
  }
  TWorldPoint PageToWorld(const TWorldPoint& p) const {
    TWorldPoint q;
    PageToWorld(p, q);
    return q;
  }

 private:
  template <typename Convert>
  void ConvertRect(const TWorldRect& r, TWorldRect& q, Convert convert) const;
  template <typename Convert>
  void ConvertContour(TContour& contour, Convert convert) const;
};

// m0..m5: page.X = m0·X + m1·Y + m2; page.Y = m3·X + m4·Y + m5.
using TAffineMatrix = std::array<double, 6>;

inline constexpr TAffineMatrix IdentityMatrix = {1, 0, 0, 0, 1, 0};

// The projection as an affine matrix with its inverse. Every change composes an operation after
// the existing transform (it acts in page space) and fires OnChange once, unless an outer
// BeginUpdate/EndUpdate bracket collects the changes into one notification.
class TMatrixProjection : public TProjection {
 public:
  TMatrixProjection();

  double GetScale() const override;
  bool IsMirrored() const override { return FMirrored; }
  void WorldToPage(const TWorldPoint& p, TWorldPoint& q) const override;
  void PageToWorld(const TWorldPoint& p, TWorldPoint& q) const override;
  using TProjection::PageToWorld;
  using TProjection::WorldToPage;

  void BeginUpdate() { ++FUpdateCount; }
  void EndUpdate();
  // Identity, scales 1, not mirrored.
  void Reset();
  // Scales the page axes; a negative SY toggles the mirroring, the sign of SX does not.
  void Scale(double sx, double sy);
  // Counter-clockwise in page coordinates, radians.
  void Rotate(double angle);
  // Reflects the page axes; FlipY toggles the mirroring, FlipX does not.
  void Flip(bool flipX, bool flipY);

  const TAffineMatrix& Matrix() const { return FMatrix; }
  // The inverse of Matrix, or the identity when Matrix is singular.
  const TAffineMatrix& InverseMatrix() const { return FInverseMatrix; }
  double ScaleX() const { return FScaleX; }
  double ScaleY() const { return FScaleY; }
  int32_t UpdateCount() const { return FUpdateCount; }

  std::function<void(TMatrixProjection& sender)> OnChange;

 private:
  // Runs a change inside its own bracket, closed also when the change raises.
  template <typename Change>
  void Changing(Change change);
  void ComposeMatrix(const TAffineMatrix& op);
  void InvertMatrix();

  TAffineMatrix FMatrix = IdentityMatrix;
  TAffineMatrix FInverseMatrix = IdentityMatrix;
  double FScaleX = 1;
  double FScaleY = 1;
  int32_t FUpdateCount = 0;
  bool FMirrored = false;
};
