#include "Canvases.h"
#include "Geomet.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace {

// Pixels as 0xRRGGBB, the order in which the platform's mix modes combine the bits.
uint32_t At(const QImage& image, int x, int y) {
  return image.pixel(x, y) & 0xFFFFFF;
}

uint32_t Rgb(TColor c) {
  return ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF);
}

QImage Filled(int w, int h, uint32_t rgb) {
  QImage image(w, h, QImage::Format_RGB32);
  image.fill(0xFF000000u | rgb);
  return image;
}

void Polygon(TCanvas& canvas, std::vector<TPoint> points) {
  const int32_t count = static_cast<int32_t>(points.size());
  canvas.PolyPolygon(points.data(), &count, 1);
}

void Polyline(TCanvas& canvas, std::vector<TPoint> points) {
  const int32_t count = static_cast<int32_t>(points.size());
  canvas.PolyPolyline(points.data(), &count, 1);
}

int CountOf(const QImage& image, uint32_t rgb) {
  int n = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) n += At(image, x, y) == rgb;
  return n;
}

}  // namespace

TEST(Canvas, MixModesCombineThePenWithTheScreenAsTheirBitFormulas) {
  const uint32_t screen[] = {0x000000, 0xFFFFFF, 0x123456, 0xA5C3E1};
  const TColor pen = 0xF0800F;
  const uint32_t p = Rgb(pen);
  const std::function<uint32_t(uint32_t, uint32_t)> formulas[16] = {[](uint32_t, uint32_t) { return 0u; },
                                                                    [](uint32_t, uint32_t) { return ~0u; },
                                                                    [](uint32_t, uint32_t d) { return d; },
                                                                    [](uint32_t, uint32_t d) { return ~d; },
                                                                    [](uint32_t p, uint32_t) { return p; },
                                                                    [](uint32_t p, uint32_t) { return ~p; },
                                                                    [](uint32_t p, uint32_t d) { return p | ~d; },
                                                                    [](uint32_t p, uint32_t d) { return p & ~d; },
                                                                    [](uint32_t p, uint32_t d) { return ~p | d; },
                                                                    [](uint32_t p, uint32_t d) { return ~p & d; },
                                                                    [](uint32_t p, uint32_t d) { return p | d; },
                                                                    [](uint32_t p, uint32_t d) { return ~(p | d); },
                                                                    [](uint32_t p, uint32_t d) { return p & d; },
                                                                    [](uint32_t p, uint32_t d) { return ~(p & d); },
                                                                    [](uint32_t p, uint32_t d) { return p ^ d; },
                                                                    [](uint32_t p, uint32_t d) { return ~(p ^ d); }};
  for (int mode = pmBlack; mode <= pmNotXor; ++mode) {
    QImage image(4, 1, QImage::Format_RGB32);
    for (int x = 0; x < 4; ++x) image.setPixel(x, 0, 0xFF000000u | screen[x]);
    {
      TCanvas canvas(image);
      canvas.Pen = TPenState{psClear, 0, clBlack, static_cast<TPenMode>(mode)};
      canvas.Brush = TBrushState{bsSolid, pen, std::nullopt};
      Polygon(canvas, {{0, 0}, {4, 0}, {4, 1}, {0, 1}});
    }
    for (int x = 0; x < 4; ++x)
      EXPECT_EQ(At(image, x, 0), formulas[mode](p, screen[x]) & 0xFFFFFF)
          << "mode " << mode << ", screen " << std::hex << screen[x];
  }
}

TEST(Canvas, PatternBrushesPaintZeroBitsInTheTextColourFromTheDeviceOrigin) {
  const TPattern pattern = {0x80, 0x41, 0x00, 0xFF, 0x0F, 0x00, 0x00, 0x01};
  QImage image = Filled(16, 16, 0x000000);
  {
    TCanvas canvas(image);
    canvas.Pen.Style = psClear;
    canvas.Brush.Pattern = pattern;
    canvas.TextColor = 0x0000FF;            // red
    canvas.BackgroundColor = 0x00FF00;      // green
    canvas.BackgroundMode = bkTransparent;  // patterns ignore it
    Polygon(canvas, {{3, 2}, {16, 2}, {16, 16}, {3, 16}});
  }
  for (int y = 2; y < 16; ++y)
    for (int x = 3; x < 16; ++x) {
      const bool one = (pattern[y % 8] >> (7 - x % 8)) & 1;
      EXPECT_EQ(At(image, x, y), one ? 0x00FF00u : 0xFF0000u) << x << ", " << y;
    }
  EXPECT_EQ(At(image, 2, 5), 0u);
}

TEST(Canvas, LinesLeaveOutTheirLastPixelAndShapesMeetWithoutOverlap) {
  QImage image = Filled(12, 12, 0x000000);
  {
    TCanvas canvas(image);
    canvas.Pen = TPenState{psSolid, 0, clWhite, pmXor};
    Polyline(canvas, {{1, 1}, {6, 1}});
    EXPECT_EQ(CountOf(image, 0xFFFFFF), 5);
    EXPECT_EQ(At(image, 6, 1), 0u);
    Polyline(canvas, {{1, 1}, {6, 1}});
    // An exclusive-or outline inverts every pixel once, corners included, so twice erases it.
    canvas.Brush.Style = bsClear;
    Polygon(canvas, {{1, 1}, {10, 1}, {10, 10}, {1, 10}, {1, 1}});
    EXPECT_EQ(CountOf(image, 0xFFFFFF), 36);
    Polygon(canvas, {{1, 1}, {10, 1}, {10, 10}, {1, 10}, {1, 1}});
    EXPECT_EQ(CountOf(image, 0xFFFFFF), 0);
    // Fills leave out the right and bottom edges.
    canvas.Pen.Style = psClear;
    canvas.Pen.Mode = pmCopy;
    canvas.Brush = TBrushState{bsSolid, clWhite, std::nullopt};
    Polygon(canvas, {{1, 1}, {10, 1}, {10, 10}, {1, 10}});
    EXPECT_EQ(CountOf(image, 0xFFFFFF), 81);
  }
}

TEST(Canvas, SeveralFiguresFillByTheAlternateRule) {
  QImage image = Filled(12, 12, 0x000000);
  {
    TCanvas canvas(image);
    canvas.Pen.Style = psClear;
    canvas.Brush = TBrushState{bsSolid, clWhite, std::nullopt};
    const std::vector<TPoint> points = {{0, 0}, {10, 0}, {10, 10}, {0, 10},
                                        {3, 3}, {7, 3},  {7, 7},   {3, 7}};
    const int32_t counts[] = {4, 4};
    canvas.PolyPolygon(points.data(), counts, 2);
    canvas.Pen.Mode = pmNop;
    canvas.Brush.Color = 0x0000FF;
    Polygon(canvas, {{0, 0}, {12, 0}, {12, 12}, {0, 12}});
  }
  EXPECT_EQ(At(image, 1, 1), 0xFFFFFFu);
  EXPECT_EQ(At(image, 5, 5), 0u);
  EXPECT_EQ(At(image, 11, 11), 0u);
}

TEST(Canvas, StyledLinesPaintTheirGapsOnlyOnAnOpaqueBackground) {
  for (const TBackgroundMode mode : {bkOpaque, bkTransparent}) {
    QImage image = Filled(40, 3, 0xFFFFFF);
    {
      TCanvas canvas(image);
      canvas.Pen = TPenState{psDot, 0, clBlack, pmCopy};
      canvas.BackgroundMode = mode;
      canvas.BackgroundColor = 0x0000FF;
      Polyline(canvas, {{0, 1}, {36, 1}});
    }
    for (int x = 0; x < 36; ++x) {
      const uint32_t gap = mode == bkOpaque ? 0xFF0000u : 0xFFFFFFu;
      EXPECT_EQ(At(image, x, 1), x % 6 < 3 ? 0u : gap) << x;
    }
  }
  // Drawn twice in exclusive-or, a dotted line on an opaque background leaves nothing behind.
  QImage image = Filled(40, 3, 0x123456);
  {
    TCanvas canvas(image);
    canvas.Pen = TPenState{psDashDot, 0, 0x00FF00, pmXor};
    Polyline(canvas, {{0, 1}, {39, 1}});
    EXPECT_EQ(CountOf(image, 0x123456), 40 * 3 - 39);
    Polyline(canvas, {{0, 1}, {39, 1}});
  }
  EXPECT_EQ(CountOf(image, 0x123456), 40 * 3);
}

TEST(Canvas, TheFocusFrameInvertsEveryOtherEdgePixelOnce) {
  QImage image = Filled(12, 10, 0x000000);
  {
    TCanvas canvas(image);
    canvas.DrawFocusRect({1, 2, 9, 8});
    for (int y = 0; y < 10; ++y)
      for (int x = 0; x < 12; ++x) {
        const bool edge =
            x >= 1 && x <= 8 && y >= 2 && y <= 7 && (x == 1 || x == 8 || y == 2 || y == 7);
        EXPECT_EQ(At(image, x, y), edge && (x + y) % 2 == 0 ? 0xFFFFFFu : 0u) << x << ", " << y;
      }
    canvas.DrawFocusRect({1, 2, 9, 8});
    EXPECT_EQ(CountOf(image, 0), 120);
    // A frame one pixel high touches each of its pixels once too.
    canvas.DrawFocusRect({0, 0, 6, 1});
    EXPECT_EQ(CountOf(image, 0xFFFFFF), 3);
  }
}

TEST(Canvas, NothingChangesOutsideTheClipRectangle) {
  QImage image = Filled(10, 10, 0x000000);
  {
    TCanvas canvas(image);
    canvas.SetClipRect({2, 3, 5, 7});
    EXPECT_EQ(canvas.ClipBox(), (TRect{2, 3, 5, 7}));
    canvas.FillRect({0, 0, 10, 10});
    canvas.DrawFocusRect({0, 0, 10, 10});
    canvas.ResetClip();
    EXPECT_EQ(canvas.ClipBox(), (TRect{0, 0, 10, 10}));
  }
  EXPECT_EQ(CountOf(image, 0xFFFFFF), 12);
  EXPECT_EQ(At(image, 2, 3), 0xFFFFFFu);
  EXPECT_EQ(At(image, 5, 3), 0u);
}

TEST(Canvas, StretchedPicturesShowCrispSquaresAndShrunkOnesKeepThinLines) {
  QImage picture = Filled(2, 2, 0xFFFFFF);
  picture.setPixel(0, 0, 0xFFFF0000u);
  picture.setPixel(1, 1, 0xFF0000FFu);
  QImage image = Filled(8, 8, 0x000000);
  {
    TCanvas canvas(image);
    canvas.StretchDib(QTransform::fromScale(4, 4), QRectF(0, 0, 2, 2), picture, QRectF(0, 0, 2, 2));
  }
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x)
      EXPECT_EQ(At(image, x, y), picture.pixel(x / 4, y / 4) & 0xFFFFFF) << x << ", " << y;

  QImage lines = Filled(16, 16, 0xFFFFFF);
  for (int y = 0; y < 16; ++y) lines.setPixel(5, y, 0xFF000000u);
  QImage small = Filled(8, 8, 0x00FF00);
  {
    TCanvas canvas(small);
    canvas.StretchDib(QTransform::fromScale(0.5, 0.5), QRectF(0, 0, 16, 16), lines,
                      QRectF(0, 0, 16, 16));
  }
  for (int y = 0; y < 8; ++y) EXPECT_LT(qRed(small.pixel(2, y)), 200) << y;
}

TEST(DevPoints, DrawClosedAndOpenFiguresWithThePenAndBrush) {
  TDevPoints points;
  for (const TPoint& p : {TPoint{1, 1}, TPoint{5, 1}, TPoint{5, 5}, TPoint{1, 5}})
    points.Current.AddPoint(p, 1);
  points.Current.Closed = true;
  points.EndFigure();
  points.Current.AddPoint({0, 8}, 1);
  points.Current.AddPoint({8, 8}, 1);
  points.EndFigure();
  QImage image = Filled(10, 10, 0xFFFFFF);
  {
    TCanvas canvas(image);
    canvas.Pen = TPenState{psSolid, 0, clBlack, pmCopy};
    canvas.Brush = TBrushState{bsSolid, 0x0000FF, std::nullopt};
    points.DrawDevPoints(canvas);
  }
  EXPECT_EQ(At(image, 1, 1), 0u);
  EXPECT_EQ(At(image, 3, 3), 0xFF0000u);
  EXPECT_EQ(At(image, 7, 8), 0u);
  EXPECT_EQ(At(image, 8, 8), 0xFFFFFFu);
}
