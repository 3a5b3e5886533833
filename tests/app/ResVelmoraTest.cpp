#include "ResVelmora.h"

#include "MessageOf.h"
#include "QtPrinters.h"
#include "RecArrays.h"

#include <QImage>

#include <gtest/gtest.h>

namespace {

// The buttons of the toolbars and of the grid commands.
const char* const kButtons[] = {
    "OpenBtn",           "SaveBtn",           "SelectBtn",    "ScrollByHandBtn",
    "ZoomByRectBtn",     "ZoomInBtn",         "ZoomOutBtn",   "ZoomOneInOneBtn",
    "ZoomAllBtn",        "ZoomPrevBtn",       "CalibrateBtn", "CalibrateParamsBtn",
    "CalibrateResetBtn", "CalibrateBeginBtn", "ClipImageBtn", "FindNodesBtn",
    "GridOpenBtn",       "GridSaveBtn",       "GridUndoBtn",  "GridRedoBtn",
};

// How many pixels of a picture are not transparent.
int OpaquePixels(const QImage& image) {
  const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
  int count = 0;
  for (int y = 0; y < argb.height(); ++y)
    for (int x = 0; x < argb.width(); ++x) count += qAlpha(argb.pixel(x, y)) > 0;
  return count;
}

}  // namespace

TEST(ToolbarGlyph, EveryButtonHasAGlyphDrawnAtSixteenAndTwentyFourPixels) {
  QList<QImage> drawn;
  for (const char* name : kButtons) {
    const QIcon icon = ToolbarGlyph(QLatin1String(name));
    for (const int size : {16, 24}) {
      const QImage normal = icon.pixmap(size, size).toImage();
      ASSERT_EQ(normal.size(), QSize(size, size)) << name;
      // Drawn, and not a filled square.
      EXPECT_GT(OpaquePixels(normal), size * size / 8) << name << " " << size;
      EXPECT_LT(OpaquePixels(normal), size * size) << name << " " << size;
      // The disabled look differs from the normal one.
      EXPECT_NE(icon.pixmap(size, size, QIcon::Disabled).toImage(), normal) << name;
    }
    const QImage picture = icon.pixmap(24, 24).toImage();
    // No two buttons share a picture.
    for (const QImage& other : drawn) EXPECT_NE(other, picture) << name;
    drawn << picture;
  }
}

TEST(ToolbarGlyph, ANameWithoutAGlyphIsAProgrammingError) {
  EXPECT_EQ(MessageOf<EInternal>([] { ToolbarGlyph(QStringLiteral("OpenMenu")); }),
            QStringLiteral("Внутренняя ошибка: no glyph for \"OpenMenu\" (ToolbarGlyph)"));
}
