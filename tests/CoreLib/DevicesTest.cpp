#include "Devices.h"

#include <gtest/gtest.h>

#include <numbers>

namespace {

constexpr double kPixel = 0.0254 / 96;  // a pixel of a 96 dpi device, in page metres

void ExpectPoint(const TWorldPoint& p, double x, double y) {
  EXPECT_NEAR(p.X, x, 1e-15);
  EXPECT_NEAR(p.Y, y, 1e-15);
}

TMatrixProjection& MatrixOf(TDeviceInfo& device) {
  return *static_cast<TMatrixProjection*>(device.Projection());
}

}  // namespace

TEST(DeviceInfo, MapsPageMetresOntoPixelsWithTheOriginAtTheBottomLeft) {
  TDeviceInfo device;
  device.SetDevice({96, 96}, {0, 0, 100, 50});
  EXPECT_NEAR(device.BaseScaleX(), 3779.527559, 1e-6);
  EXPECT_EQ(device.BaseScaleY(), -device.BaseScaleX());
  EXPECT_EQ(device.ZoomX(), 1);
  EXPECT_EQ(device.PageToDevice({0, 0}), (TPoint{0, 0}));
  ExpectPoint(device.DeviceToPage({0, 50}), 0, -50 * kPixel);
  ExpectPoint(device.GetOrigin(), 0, -50 * kPixel);
  const TWorldRect page = device.PageRect();
  EXPECT_NEAR(page.Left, 0, 1e-15);
  EXPECT_NEAR(page.Top, -0.01322916, 1e-8);
  EXPECT_NEAR(page.Right, 0.02645833, 1e-8);
  EXPECT_NEAR(page.Bottom, 0, 1e-15);
  EXPECT_EQ(device.PageRectToDevice(device.DeviceRectToPage({10, 5, 30, 45})),
            (TRect{10, 5, 30, 45}));

  // Far points stick to the ends of the coordinate range.
  EXPECT_EQ(device.PageToDevice({1e12, -1e12}), (TPoint{2147483547, 2147483547}));
  EXPECT_EQ(device.PageToDevice({-1e12, 1e12}), (TPoint{-2147483547, -2147483547}));
}

TEST(DeviceInfo, NotifiesOnlyRealChangesOfAValidDevice) {
  TDeviceInfo device;
  int changes = 0;
  device.OnChange = [&](TDeviceInfo&) { ++changes; };
  device.SetDevice({96, 96}, {0, 0, 100, 50});
  device.SetDevice({96, 96}, {0, 0, 100, 50});
  EXPECT_EQ(changes, 1);
  device.SetOrigin(device.GetOrigin());
  device.SetClipRect({0, 0, 10, 10});
  EXPECT_EQ(changes, 1);
  device.SetOrigin({1, 2});
  EXPECT_EQ(changes, 2);

  // A device without resolution is invalid: the page it shows stays, nobody is told.
  const TWorldRect page = device.PageRect();
  device.SetDevice({0, 0}, {0, 0, 200, 100});
  EXPECT_FALSE(device.IsValid());
  EXPECT_EQ(changes, 2);
  EXPECT_EQ(device.PageRect().Left, page.Left);
  EXPECT_EQ(device.PageRect().Right, page.Right);
}

TEST(DeviceInfo, ScreenResolutionRoundsUpwardsAndFallsBackToANominalSize) {
  EXPECT_EQ(ScreenResolution(1024, 768, 270, 200).X, 97);  // Round(96.33 + 0.5)
  // Without a physical size the screen counts as 380 × 300 mm.
  EXPECT_EQ(ScreenResolution(1920, 1200, 0, 0), (TPoint{129, 102}));
}

TEST(DeviceInfo, ArcsGetChordsWithinHalfAPixel) {
  TDeviceInfo device;
  device.SetDevice({96, 96}, {0, 0, 100, 100});
  EXPECT_EQ(device.ArcSegments(0.2 * kPixel, 2 * std::numbers::pi), 1);
  EXPECT_EQ(device.ArcSegments(100 * kPixel, 2 * std::numbers::pi), 63);
  EXPECT_EQ(device.ArcSegments(1e9 * kPixel, 2 * std::numbers::pi), 1024);
  EXPECT_EQ(device.ArcSegments(-1, 1), 1);
}

TEST(DeviceInfo, ContoursOutsideTheClipVanishAndHugeOnesAreClippedFirst) {
  TDeviceInfo device;
  device.SetDevice({96, 96}, {0, 0, 100, 100});
  device.SetClipRect({0, 0, 100, 100});
  TDevPoints points;
  TWorldPoint corner;

  TContour far;
  far.AddRect({1, 1, 2, 2}, true);  // metres to the upper right of a 2.6 cm window
  device.ContourToDevPoints(far, points, corner, 0);
  EXPECT_EQ(points.Polygons.FigureCount() + points.Polylines.FigureCount(), 0);
  ExpectPoint(corner, 1, 1);

  // A line across a kilometre of page is cut near the clip box before it is converted.
  TContour huge;
  huge.MoveTo({-500, -0.01});
  huge.LineTo({500, -0.01});
  device.ContourToDevPoints(huge, points, corner, 0);
  ASSERT_EQ(points.Polylines.FigureCount(), 1);
  ASSERT_EQ(points.Polylines.Counts()[0], 2);
  for (int i = 0; i < 2; ++i) {
    EXPECT_LE(std::abs(points.Polylines.Points()[i].X), 102);
    EXPECT_EQ(points.Polylines.Points()[i].Y, RoundToInt(0.01 / kPixel));
  }

  // A closed circle comes out as one polygon, closed on its first point.
  TContour circle;
  circle.AddCircle({50 * kPixel, -50 * kPixel}, true, 20 * kPixel);
  device.ContourToDevPoints(circle, points, corner, 0);
  ASSERT_EQ(points.Polygons.FigureCount(), 1);
  const int n = points.Polygons.Counts()[0];
  EXPECT_GT(n, 20);
  EXPECT_EQ(points.Polygons.Points()[0], points.Polygons.Points()[n - 1]);
}

TEST(DeviceInfo, TheWorldToDeviceTransformIsThatOfThePointConversions) {
  TDeviceInfo device;
  device.SetDevice({96, 96}, {0, 0, 640, 480});
  TMatrixProjection& p = MatrixOf(device);
  p.Flip(false, true);
  p.Scale(kPixel, kPixel);  // one device pixel per world unit
  device.SetOrigin({-3 * kPixel, -500 * kPixel});
  const QTransform t = device.WorldToDeviceTransform();
  // Exactly 1:1 and whole pixels: pictures are copied, not resampled.
  EXPECT_EQ(t.m11(), 1);
  EXPECT_EQ(t.m22(), 1);
  EXPECT_EQ(t.type(), QTransform::TxTranslate);
  for (const TWorldPoint w : {TWorldPoint{0, 0}, TWorldPoint{17, 33}, TWorldPoint{-5, 400}}) {
    const QPointF d = t.map(QPointF(w.X, w.Y));
    const TPoint expected = device.PageToDevice(p.WorldToPage(w));
    EXPECT_NEAR(d.x(), expected.X, 1e-6);
    EXPECT_NEAR(d.y(), expected.Y, 1e-6);
  }
}
