#include "Cursors.h"
#include "QtPrinters.h"

#include <QPixmap>

#include <gtest/gtest.h>

namespace {

constexpr double kPixel = 0.0254 / 96;

uint32_t At(const QImage& image, int x, int y) {
  return image.pixel(x, y) & 0xFFFFFF;
}

// A 96 dpi device over a picture, showing world units as pixels with row 0 on top.
struct TView {
  TView(int w, int h) : Image(w, h, QImage::Format_RGB32) {
    Image.fill(0xFF123456u);
    Device.SetDevice({96, 96}, {0, 0, w, h});
    Device.SetClipRect({0, 0, w, h});
    auto& p = *static_cast<TMatrixProjection*>(Device.Projection());
    p.Flip(false, true);
    p.Scale(kPixel, kPixel);
    Device.SetOrigin({0, -h * kPixel});
  }
  QImage Image;
  TDeviceInfo Device;
};

}  // namespace

TEST(DrawingStyles, LineWidthsFollowTheStyleTheDeviceAndTheZoom) {
  EXPECT_EQ(LineWidthInPage(MakeLineStyle(psDot, clBlack, pmCopy, 0.5, 0), 1), 0);
  EXPECT_DOUBLE_EQ(LineWidthInPage(MakeLineStyle(psSolid, clBlack, pmCopy, 0.5, 0), 3), 0.0005);
  EXPECT_DOUBLE_EQ(LineWidthInPage(MakeLineStyle(psInsideFrame, clBlack, pmCopy, 1, 2), 4), 0.002);

  TDeviceInfo device;
  device.SetDevice({96, 96}, {0, 0, 10, 10});
  QImage image(4, 4, QImage::Format_RGB32);
  TCanvas canvas(image);
  ApplyLineStyle(device, canvas, MakeLineStyle(psSolid, 0x0000FF, pmXor, 1, 0));
  EXPECT_EQ(canvas.Pen.Width, 4);  // Round(3.78)
  EXPECT_EQ(canvas.Pen.Color, 0x0000FFu);
  EXPECT_EQ(canvas.Pen.Mode, pmXor);
  ApplyLineStyle(device, canvas, MakeLineStyle(psInsideFrame, clBlack, pmCopy, 1, 2));
  EXPECT_EQ(canvas.Pen.Width, 2);  // Round(1.89)
  EXPECT_EQ(canvas.Pen.Style, psSolid);
  ApplyLineStyle(device, canvas, MakeLineStyle(psDash, clBlack, pmCopy, 1, 0));
  EXPECT_EQ(canvas.Pen.Width, 0);
}

TEST(DrawingStyles, TheDensityPatternsAreThoseOfTheResources) {
  const uint8_t rows[9][8] = {{0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
                              {0x77, 0xFF, 0xFF, 0xFF, 0x77, 0xFF, 0xFF, 0xFF},
                              {0x77, 0xFF, 0xDD, 0xFF, 0x77, 0xFF, 0xDD, 0xFF},
                              {0x55, 0xFF, 0x55, 0xFF, 0x55, 0xFF, 0x55, 0xFF},
                              {0x55, 0xAA, 0x55, 0xAA, 0x55, 0xAA, 0x55, 0xAA},
                              {0x55, 0x00, 0x55, 0x00, 0x55, 0x00, 0x55, 0x00},
                              {0x11, 0x00, 0x44, 0x00, 0x11, 0x00, 0x44, 0x00},
                              {0x11, 0x00, 0x00, 0x00, 0x11, 0x00, 0x00, 0x00},
                              {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}};
  for (int level = 2; level <= 10; ++level)
    for (int y = 0; y < 8; ++y) EXPECT_EQ(DensityPattern(level)[y], rows[level - 2][y]) << level;
}

TEST(DrawingStyles, ADensityFillIsSeeThrough) {
  TView view(12, 12);
  {
    TCanvas canvas(view.Image);
    ResetCanvas(canvas);
    TContour square;
    square.AddRect({2, 2, 10, 10}, true);
    DrawWorldContour(view.Device, canvas, square, MakeFillStyle(bsSolid, 0x0000FF, clBlack, 6),
                     MakeLineStyle(psClear, clBlack, pmCopy, 0, 0));
    EXPECT_EQ(canvas.Pen.Mode, pmCopy);
  }
  for (int y = 0; y < 12; ++y)
    for (int x = 0; x < 12; ++x) {
      const bool inside = x >= 2 && x < 10 && y >= 2 && y < 10;
      const bool painted = inside && (DensityPattern(6)[y % 8] >> (7 - x % 8) & 1) == 0;
      EXPECT_EQ(At(view.Image, x, y), painted ? 0xFF0000u : 0x123456u) << x << ", " << y;
    }
}

TEST(DrawingStyles, AnExclusiveOrOutlineDoesNotMeetItsFillTwice) {
  TView view(12, 12);
  TContour square;
  square.AddRect({2, 2, 10, 10}, true);
  {
    TCanvas canvas(view.Image);
    ResetCanvas(canvas);
    DrawWorldContour(view.Device, canvas, square, MakeFillStyle(bsSolid, clBlack, clBlack, 0),
                     MakeLineStyle(psSolid, clWhite, pmXor, 0, 0));
  }
  // The filled interior is black; the outline turned the fill's edge white and inverted the
  // picture where it runs outside the fill.
  EXPECT_EQ(At(view.Image, 5, 5), 0u);
  EXPECT_EQ(At(view.Image, 2, 5), 0xFFFFFFu);
  EXPECT_EQ(At(view.Image, 10, 5), 0x123456u ^ 0xFFFFFFu);
  // The caller's contour is still in world coordinates, and nothing is drawn without pen or fill.
  EXPECT_EQ(square.GetPoint(2).X, 10);
  const QImage before = view.Image.copy();
  {
    TCanvas canvas(view.Image);
    DrawWorldContour(view.Device, canvas, square, HollowFill,
                     MakeLineStyle(psClear, clBlack, pmXor, 0, 0));
  }
  EXPECT_EQ(view.Image, before);
}

TEST(CursorTable, NumbersFollowTheOrderOfRegistration) {
  TCursorTable table;
  EXPECT_EQ(table.RegisterCursors(ToolCursorNames()), 1);
  EXPECT_EQ(table.RegisterCursors(EditCursorNames()), EditCursorBase);
  EXPECT_EQ(table.NextCursorNumber(), GridCursorBase);
  EXPECT_EQ(ToolCursorNames().size(), 23);
  EXPECT_EQ(EditCursorNames().size(), 22);

  TCursorTable program;
  RegisterProgramCursors(program);
  EXPECT_EQ(program.NextCursorNumber(), GridCursorBase + 6);
  EXPECT_EQ(program.Cursor(crCross).shape(), Qt::BitmapCursor);
  EXPECT_EQ(program.Cursor(crNo).shape(), Qt::ForbiddenCursor);
  EXPECT_EQ(program.Cursor(crDefault).shape(), Qt::ArrowCursor);
  EXPECT_EQ(program.Cursor(GridCursorBase + 3).pixmap().toImage(),
            LoadCursorResource("CR_NODEMOVE").pixmap().toImage());
}

TEST(CursorTable, EveryCursorHasItsOwnPictureWithTheHotSpotOnIt) {
  QStringList names = ToolCursorNames() + EditCursorNames() + GridCursorNames();
  names << "CR_CROSS";
  for (const QString& name : names) {
    const QImage image(":/cursors/" + name + ".png");
    ASSERT_FALSE(image.isNull()) << name.toStdString();
    EXPECT_EQ(image.size(), QSize(32, 32)) << name.toStdString();
    const QCursor cursor = LoadCursorResource(name);
    EXPECT_EQ(cursor.shape(), Qt::BitmapCursor);
    const QPoint hot = cursor.hotSpot();
    EXPECT_TRUE(image.rect().contains(hot)) << name.toStdString();
    // The hot spot lies on the drawing or right next to it, never in empty space.
    bool near = false;
    for (int dy = -1; dy <= 1; ++dy)
      for (int dx = -1; dx <= 1; ++dx)
        near = near || (image.rect().contains(hot + QPoint(dx, dy)) &&
                        qAlpha(image.pixel(hot + QPoint(dx, dy))) > 0);
    EXPECT_TRUE(near) << name.toStdString();
  }
}
