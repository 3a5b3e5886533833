#include "RasterDraw.h"
#include "RasterTestUtils.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace {

constexpr QRgb kBackground = 0xFF00FF00u;

// The raster drawn the way the program's view shows it, on a green window.
QImage DrawView(TRasterManager& raster, double zoom, const TWorldPoint& center, int w, int h) {
  QImage image(w, h, QImage::Format_RGB32);
  image.fill(kBackground);
  TDeviceInfo device;
  device.SetDevice({96, 96}, {0, 0, w, h});
  device.SetClipRect({0, 0, w, h});
  SetCenteredView(device, zoom, center);
  TCanvas canvas(image);
  raster.Draw(device, canvas);
  return image;
}

QImage DrawWhole(TRasterManager& raster) {
  return DrawView(raster, 1, {raster.Width() / 2.0, raster.Height() / 2.0}, raster.Width(),
                  raster.Height());
}

uint32_t Hash(int x, int y) {
  uint32_t h = static_cast<uint32_t>(x) * 73856093u ^ static_cast<uint32_t>(y) * 19349663u;
  return h ^ (h >> 13) ^ (h << 7);
}

std::vector<uint32_t> ColourPalette(int n) {
  std::vector<uint32_t> palette;
  for (int i = 0; i < n; ++i) palette.push_back(Hash(i, 7 * i) & 0xFFFFFF);
  return palette;
}

// A raster of grey 100 with black lines along column lineX and row lineY (none when negative).
TBmpLayout Lines(int w, int h, int lineX, int lineY) {
  TBmpLayout layout{w, h, 8, {0xFFFFFF, 0x000000, 0x646464}};
  layout.Pixel = [=](int x, int y) { return x == lineX || y == lineY ? 1u : 2u; };
  return layout;
}

std::vector<TRasterPart*> LoadedParts(TRasterManager& raster) {
  return raster.Cache().LoadedParts();
}

// Averages of boxes of 2 × 2 pixels, fewer at the right and bottom edges, rounded.
QImage Halve(const QImage& image) {
  QImage out((image.width() + 1) / 2, (image.height() + 1) / 2, QImage::Format_RGB32);
  for (int oy = 0; oy < out.height(); ++oy)
    for (int ox = 0; ox < out.width(); ++ox) {
      int sums[3] = {}, n = 0;
      for (int y = 2 * oy; y < std::min(image.height(), 2 * oy + 2); ++y)
        for (int x = 2 * ox; x < std::min(image.width(), 2 * ox + 2); ++x, ++n) {
          const QRgb p = image.pixel(x, y);
          sums[0] += qRed(p), sums[1] += qGreen(p), sums[2] += qBlue(p);
        }
      out.setPixel(ox, oy,
                   qRgb((sums[0] + n / 2) / n, (sums[1] + n / 2) / n, (sums[2] + n / 2) / n));
    }
  return out;
}

// A part's reduced copy at a level, from the raster's decoded pixels: boxes of 2^level pixels
// averaged up to 2^6, every further level a halving of the one before.
QImage Reduced(const QImage& pixels, const QRect& part, int level) {
  if (level > 6) return Halve(Reduced(pixels, part, level - 1));
  const int box = 1 << level;
  QImage out((part.width() + box - 1) / box, (part.height() + box - 1) / box, QImage::Format_RGB32);
  for (int oy = 0; oy < out.height(); ++oy)
    for (int ox = 0; ox < out.width(); ++ox) {
      int64_t sums[3] = {}, n = 0;
      for (int y = oy * box; y < std::min(part.height(), (oy + 1) * box); ++y)
        for (int x = ox * box; x < std::min(part.width(), (ox + 1) * box); ++x, ++n) {
          const QRgb p = pixels.pixel(part.left() + x, part.top() + y);
          sums[0] += qRed(p), sums[1] += qGreen(p), sums[2] += qBlue(p);
        }
      out.setPixel(
          ox, oy,
          qRgb(static_cast<int>((sums[0] + n / 2) / n), static_cast<int>((sums[1] + n / 2) / n),
               static_cast<int>((sums[2] + n / 2) / n)));
    }
  return out;
}

// The view of a device drawn at once from the raster as one picture, pixel by pixel: magnified,
// each device pixel the raster pixel under its centre; reduced, the average of the raster under
// it (its edges at sixteenths of a pixel), each raster pixel holding the value of its part's box
// at the level drawn. Pixels whose centre lies off the raster keep the background.
QImage ReferenceView(TRasterManager& raster, const QImage& pixels, TDeviceInfo& device, int w,
                     int h) {
  QImage image(w, h, QImage::Format_RGB32);
  image.fill(kBackground);
  const QTransform t = device.WorldToDeviceTransform();
  const double sx = t.m11(), sy = t.m22(), ox = t.dx(), oy = t.dy();
  const int level = TPartPictures::LevelFor(std::sqrt(std::fabs(t.determinant())));
  const bool magnified = std::fabs(sx) >= 1 && std::fabs(sy) >= 1;
  const auto boxValue = [&](int x, int y) {
    TRasterPart& part = *raster.PartAt(x, y);
    const QImage& picture = *raster.Pictures().Picture(part, level).Image;
    return picture.pixel((x - part.Left()) >> level, (y - part.Top()) >> level);
  };
  // A device pixel's edges in sixteenths of a raster pixel, on the raster.
  const auto edges = [](int d, double scale, double offset, int size) {
    double a = (d - offset) / scale, b = (d + 1 - offset) / scale;
    if (a > b) std::swap(a, b);
    const auto unit = [&](double v) {
      return static_cast<int64_t>(std::nearbyint(std::clamp(v * 16, 0.0, 16.0 * size)));
    };
    return std::pair<int64_t, int64_t>{unit(a), unit(b)};
  };
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const double cx = (x + 0.5 - ox) / sx, cy = (y + 0.5 - oy) / sy;
      if (!(cx >= 0 && cx < raster.Width() && cy >= 0 && cy < raster.Height())) continue;
      if (magnified) {
        image.setPixel(x, y, pixels.pixel(int(std::floor(cx)), int(std::floor(cy))));
        continue;
      }
      const auto [x0, x1] = edges(x, sx, ox, raster.Width());
      const auto [y0, y1] = edges(y, sy, oy, raster.Height());
      double sums[3] = {};
      for (int64_t py = y0 / 16; py * 16 < y1; ++py)
        for (int64_t px = x0 / 16; px * 16 < x1; ++px) {
          const double weight = double(std::min(x1, px * 16 + 16) - std::max(x0, px * 16)) *
                                double(std::min(y1, py * 16 + 16) - std::max(y0, py * 16));
          const QRgb v = boxValue(int(px), int(py));
          sums[0] += weight * qRed(v), sums[1] += weight * qGreen(v), sums[2] += weight * qBlue(v);
        }
      const double total = double(x1 - x0) * double(y1 - y0);
      const auto channel = [&](double s) { return int(std::floor(s * (1.0 / total) + 0.5)); };
      image.setPixel(x, y, qRgb(channel(sums[0]), channel(sums[1]), channel(sums[2])));
    }
  return image;
}

}  // namespace

TEST(RasterDraw, EveryDepthAndRowOrderDrawsItsOwnPixelsAtOneToOne) {
  TRasterFiles files;
  for (const int bpp : {1, 4, 8, 16, 24, 32})
    for (const int order : {1, -1}) {
      // Two rows and columns of parts, with a budget of one part: the swap file is read too.
      const int side = PartSide(bpp);
      TBmpLayout layout{side + 29, order * (side + 13), bpp, {}};
      if (bpp <= 8) layout.Palette = ColourPalette(1 << bpp);
      layout.Pixel = [bpp](int x, int y) {
        return bpp <= 8 ? Hash(x, y) % (1u << bpp) : Hash(x, y) & (bpp == 16 ? 0x7FFF : ~0u);
      };
      std::unique_ptr<TRasterManager> raster = files.Open(layout, 1);
      const QImage expected = DecodeOurBmp(BmpBytes(layout));
      EXPECT_EQ(DrawWhole(*raster), expected) << bpp << " bits, order " << order;
    }
}

TEST(RasterDraw, NeighbouringPartsShowNoSeamAtAnyZoom) {
  TRasterFiles files;
  std::unique_ptr<TRasterManager> raster = files.Open(Lines(600, 500, -1, -1), 1);
  for (const double zoom : {0.1, 0.3, 0.7, 1.0, 1.5, 3.7}) {
    const int w = static_cast<int>(std::ceil(600 * zoom)) + 20;
    const int h = static_cast<int>(std::ceil(500 * zoom)) + 20;
    const QImage image = DrawView(*raster, zoom, {300, 250}, w, h);
    // Every pixel well inside the raster's place shows it, also across the part boundaries.
    const double left = w / 2.0 - 300 * zoom;
    const double top = h / 2.0 - 250 * zoom;
    int shown = 0;
    for (int y = static_cast<int>(top) + 1; y < top + 500 * zoom - 1; ++y)
      for (int x = static_cast<int>(left) + 1; x < left + 600 * zoom - 1; ++x) {
        shown += image.pixel(x, y) == 0xFF646464u;
        EXPECT_EQ(image.pixel(x, y), 0xFF646464u) << zoom << ": " << x << ", " << y;
      }
    EXPECT_GT(shown, 0);
  }
}

TEST(RasterDraw, APaintOutsideTheRasterTouchesNoPart) {
  TRasterFiles files;
  std::unique_ptr<TRasterManager> raster = files.Open(Lines(1000, 1000, 5, 5), 1);
  const std::vector<TRasterPart*> before = LoadedParts(*raster);
  const QImage image = DrawView(*raster, 1, {-5000, 300}, 200, 100);
  EXPECT_EQ(LoadedParts(*raster), before);
  EXPECT_EQ(raster->Pictures().FineBytes(), 0);
  QImage empty(200, 100, QImage::Format_RGB32);
  empty.fill(kBackground);
  EXPECT_EQ(image, empty);
}

TEST(RasterDraw, ZoomedOutThinLinesStayVisibleAsGrey) {
  TRasterFiles files;
  TBmpLayout layout{800, 800, 8, {0xFFFFFF, 0x000000}};
  layout.Pixel = [](int x, int y) { return x == 403 || y == 205 ? 1u : 0u; };
  std::unique_ptr<TRasterManager> raster = files.Open(layout, 1);
  const QImage image = DrawView(*raster, 0.125, {400, 400}, 100, 100);
  // Each picture pixel is the average of 8 × 8 raster pixels, within rounding: 7/8 of white where
  // a line passes, 49/64 where both do.
  const auto grey = [&](int x, int y) {
    const QRgb p = image.pixel(x, y);
    EXPECT_TRUE(qRed(p) == qGreen(p) && qGreen(p) == qBlue(p)) << x << ", " << y;
    return qRed(p);
  };
  for (int i = 0; i < 100; ++i) {
    if (i == 25 || i == 50) continue;
    EXPECT_NEAR(grey(50, i), 223, 1) << i;
    EXPECT_NEAR(grey(i, 25), 223, 1) << i;
    EXPECT_EQ(grey(i, 10), 255) << i;
  }
  EXPECT_NEAR(grey(50, 25), 195, 1);
}

TEST(RasterDraw, UnflippedViewsShowTheRasterUpsideDown) {
  TRasterFiles files;
  TBmpLayout layout{5, 4, 24, {}};
  layout.Pixel = [](int x, int y) { return Hash(x, y) & 0xFFFFFF; };
  std::unique_ptr<TRasterManager> raster = files.Open(layout, 1);
  const QImage upright = DrawWhole(*raster);
  QImage image(5, 4, QImage::Format_RGB32);
  TDeviceInfo device;
  device.SetDevice({96, 96}, {0, 0, 5, 4});
  device.SetClipRect({0, 0, 5, 4});
  static_cast<TMatrixProjection*>(device.Projection())
      ->Scale(1 / device.BaseScaleX(), 1 / device.BaseScaleX());
  // Page Y runs up: rows of the world run up from the device's bottom edge.
  device.SetOrigin({0, 0});
  {
    TCanvas canvas(image);
    raster->Draw(device, canvas);
  }
  EXPECT_EQ(image, upright.mirrored(false, true));
}

TEST(RasterDraw, RepaintsOfAnUnchangedViewUseTheKeptPictures) {
  TRasterFiles files;
  std::unique_ptr<TRasterManager> raster = files.Open(Lines(1000, 1000, 500, 500), 1);
  const QImage first = DrawView(*raster, 1, {500, 500}, 300, 300);
  const std::vector<TRasterPart*> loaded = LoadedParts(*raster);
  const int64_t kept = raster->Pictures().FineBytes();
  EXPECT_GT(kept, 0);
  // Four parts meet in the view, the cache holds one: a repaint that loaded parts would move them.
  EXPECT_EQ(DrawView(*raster, 1, {500, 500}, 300, 300), first);
  EXPECT_EQ(LoadedParts(*raster), loaded);
  EXPECT_EQ(raster->Pictures().FineBytes(), kept);
}

TEST(RasterDraw, ChangedPartsAreDrawnAnewAtEveryZoom) {
  TRasterFiles files;
  std::unique_ptr<TRasterManager> raster = files.Open(Lines(1000, 1000, -1, -1), 1);
  DrawView(*raster, 1, {100, 100}, 200, 200);
  DrawView(*raster, 0.25, {500, 500}, 250, 250);
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 40; ++x) raster->SetPixel(x, y, 0x000000);
  // Another part pushes the changed one out of the cache; its reduced copies follow it out.
  raster->GetPixel(999, 999);
  const std::vector<TRasterPart*> loaded = LoadedParts(*raster);
  const QImage small = DrawView(*raster, 0.25, {500, 500}, 250, 250);
  EXPECT_EQ(LoadedParts(*raster), loaded);
  EXPECT_EQ(small.pixel(5, 5), 0xFF000000u);
  EXPECT_EQ(small.pixel(15, 15), 0xFF646464u);
  const QImage full = DrawView(*raster, 1, {100, 100}, 200, 200);
  EXPECT_EQ(full.pixel(39, 39), 0xFF000000u);
  EXPECT_EQ(full.pixel(40, 39), 0xFF646464u);
}

TEST(RasterDraw, ReducedCopiesAreAveragesWhetherKeptOrMadeWhenDrawn) {
  TRasterFiles files;
  TBmpLayout layout{700, 600, 24, {}};
  layout.Pixel = [](int x, int y) { return Hash(x, y) & 0xFFFFFF; };
  std::unique_ptr<TRasterManager> raster = files.Open(layout, 1);
  const QImage pixels = DecodeOurBmp(BmpBytes(layout));
  // No budget for kept copies: every level is made when drawn, and the budget of those is
  // exceeded, so they come and go.
  TPartPictures pictures(*raster, 0, 0);
  TRasterPart& part = *raster->GetPart(1, 1);
  for (const int level : {1, 3, 6}) {
    pictures.BeginPaint();
    const TPartPicture picture = pictures.Picture(part, level);
    pictures.EndPaint();
    ASSERT_EQ(picture.Level, level);
    const int box = 1 << level;
    ASSERT_EQ(picture.Image->width(), (part.Width() + box - 1) / box);
    for (const QPoint at : {QPoint(0, 0), QPoint(picture.Image->width() - 1, 2)}) {
      int sums[3] = {}, n = 0;
      for (int y = at.y() * box; y < std::min(part.Height(), (at.y() + 1) * box); ++y)
        for (int x = at.x() * box; x < std::min(part.Width(), (at.x() + 1) * box); ++x, ++n) {
          const QRgb p = pixels.pixel(part.Left() + x, part.Top() + y);
          sums[0] += qRed(p), sums[1] += qGreen(p), sums[2] += qBlue(p);
        }
      const QRgb average =
          qRgb((sums[0] + n / 2) / n, (sums[1] + n / 2) / n, (sums[2] + n / 2) / n);
      EXPECT_EQ(picture.Image->pixel(at), average) << level;
    }
  }
  EXPECT_EQ(pictures.CoarseLevel(), TPartPictures::kMaxLevel);
  // Beyond their budget, the pictures of earlier paints go.
  EXPECT_GT(pictures.FineBytes(), 0);
  pictures.BeginPaint();
  pictures.EndPaint();
  EXPECT_EQ(pictures.FineBytes(), 0);
}

TEST(RasterDraw, CopiesMadeFromTheFileOnEveryCoreAreAveragesOfItsPixelsAtEveryDepth) {
  TRasterFiles files;
  struct TDepth {
    int Bits;
    std::vector<uint32_t> Palette;
  };
  // 8 bits twice: a grey palette whose indices are the grey values, and colours.
  const std::vector<TDepth> depths = {{1, ColourPalette(2)},
                                      {4, ColourPalette(16)},
                                      {8, GreyPalette(256)},
                                      {8, ColourPalette(256)},
                                      {16, {}},
                                      {24, {}},
                                      {32, {}}};
  // Budgets of kept copies that make the coarse levels begin at 1, 3, 6 and 8 for 700 × 500
  // (the first of them made in boxes of up to 2^6 pixels and halved further).
  const std::pair<int64_t, int> budgets[] = {{1 << 20, 1}, {30000, 3}, {500, 6}, {40, 8}};
  int next = 0;
  for (const TDepth& depth : depths)
    for (const int order : {1, -1}) {
      const int bits = depth.Bits;
      TBmpLayout layout{700, order * 500, bits, depth.Palette};
      layout.Pixel = [bits](int x, int y) {
        return bits <= 8 ? Hash(x, y) % (1u << bits) : Hash(x, y) & (bits == 16 ? 0x7FFF : ~0u);
      };
      // Most parts stay in the file.
      std::unique_ptr<TRasterManager> raster = files.Open(layout, 3 * 204800);
      const QImage pixels = DecodeOurBmp(BmpBytes(layout));
      const auto [budget, level] = budgets[next++ % 4];
      SCOPED_TRACE(testing::Message() << bits << " bits, order " << order << ", level " << level);
      TPartPictures pictures(*raster, budget, 0);
      for (int row = 0; row < raster->PartsDown(); ++row) {
        std::vector<TRasterPart*> parts;
        for (int column = 0; column < raster->PartsAcross(); ++column)
          parts.push_back(raster->GetPart(column, row));
        pictures.PicturesFromFile(parts, *raster->Source());
      }
      ASSERT_EQ(pictures.CoarseLevel(), level);
      for (const std::unique_ptr<TRasterPart>& part : raster->Parts()) {
        const QRect rect(part->Left(), part->Top(), part->Width(), part->Height());
        // The first coarse level straight from the pixels, the next one halved from it.
        const QImage first = Reduced(pixels, rect, level);
        EXPECT_EQ(*pictures.Picture(*part, level).Image, first)
            << part->Left() << ", " << part->Top();
        const TPartPicture next = pictures.Picture(*part, level + 1);
        if (next.Level == level + 1) {
          EXPECT_EQ(*next.Image, Halve(first));
        }
      }
    }
}

TEST(RasterDraw, KeptCopiesMadeWhileReadingServeAZoomedOutViewWithoutTheSwapFile) {
  TRasterFiles files;
  TBmpProvider provider;
  WriteFile(files.Path("r.bmp"), BmpBytes(Lines(2000, 1500, 1001, 3)));
  TRasterManager raster(&provider, 1, nullptr);
  raster.Pictures();
  raster.Open(files.Path("r.bmp"));
  const std::vector<TRasterPart*> loaded = LoadedParts(raster);
  const QImage image = DrawView(raster, 0.5, {1000, 750}, 1000, 750);
  EXPECT_EQ(LoadedParts(raster), loaded);
  EXPECT_EQ(raster.Pictures().FineBytes(), 0);
  // Boxes of 2 × 2: grey 100 where no line passes, 50 on the lines.
  EXPECT_EQ(image.pixel(100, 100), qRgb(100, 100, 100));
  EXPECT_EQ(image.pixel(500, 100), qRgb(50, 50, 50));
  EXPECT_EQ(image.pixel(100, 1), qRgb(50, 50, 50));
}

TEST(RasterDraw, PartsAreWidenedWhereTheyGoOn) {
  TRasterFiles files;
  std::unique_ptr<TRasterManager> raster = files.Open(Lines(1000, 1000, -1, -1), 1);
  TDeviceInfo device;
  device.SetDevice({96, 96}, {0, 0, 100, 100});
  SetCenteredView(device, 1, {500, 500});
  // The clip box grown by a pixel covers raster 459..541; the middle part (456..912) goes on
  // beyond on every side, the first one only to the right and down.
  device.SetClipRect({10, 10, 90, 90});
  EXPECT_EQ(PartSourceRect(device, *raster->GetPart(1, 1)), (TRect{458, 458, 542, 542}));
  SetCenteredView(device, 1, {40, 40});
  EXPECT_EQ(PartSourceRect(device, *raster->GetPart(0, 0)), (TRect{0, 0, 82, 82}));
  EXPECT_EQ(PartSourceRect(device, *raster->GetPart(1, 0)), (TRect{}));
}

TEST(RasterDraw, AnyViewShowsTheRasterAsOnePictureWithoutSeams) {
  TRasterFiles files;
  std::mt19937 random(25);
  // Zooms at which parts met at fractional device positions and showed seams, and others in and
  // out, down to views where every device pixel covers many parts' boxes.
  const double zooms[] = {2.52, 1.12, 1.0, 1.5, 2.25, 3.375, 7.3, 0.9, 0.7, 0.51, 0.3, 0.13};
  int views = 0;
  for (const int bpp : {1, 8, 24}) {
    const int side = PartSide(bpp);
    // Two or three parts each way, a bottom-up file, noise on lines that cross the boundaries.
    TBmpLayout layout{2 * side + 37, 2 * side + 11, bpp, {}};
    if (bpp <= 8) layout.Palette = ColourPalette(1 << bpp);
    layout.Pixel = [bpp](int x, int y) {
      const uint32_t v = Hash(x / 3, y / 2);
      return bpp <= 8 ? v % (1u << bpp) : v & 0xFFFFFF;
    };
    std::unique_ptr<TRasterManager> raster = files.Open(layout, 3 * 204800);
    const QImage pixels = DecodeOurBmp(BmpBytes(layout));
    for (const double zoom : zooms)
      for (int k = 0; k < 6; ++k) {
        // Centred near a boundary of parts (or near the raster's edge), off by a fraction.
        std::uniform_int_distribution<int> boundary(0, 3);
        std::uniform_real_distribution<double> off(-60, 60);
        const TWorldPoint centre{boundary(random) * side + off(random) / zoom,
                                 boundary(random) * side + off(random) / zoom};
        const int w = 150 + k * 7, h = 110 + k * 5;
        TDeviceInfo device;
        device.SetDevice({96, 96}, {0, 0, w, h});
        device.SetClipRect({0, 0, w, h});
        SetCenteredView(device, zoom, centre);
        QImage image(w, h, QImage::Format_RGB32);
        image.fill(kBackground);
        {
          TCanvas canvas(image);
          raster->Draw(device, canvas);
        }
        const QImage reference = ReferenceView(*raster, pixels, device, w, h);
        int differing = 0;
        for (int y = 0; y < h; ++y)
          for (int x = 0; x < w; ++x) differing += image.pixel(x, y) != reference.pixel(x, y);
        EXPECT_EQ(differing, 0) << bpp << " bits, zoom " << zoom << " at " << centre.X << ", "
                                << centre.Y;
        ++views;
      }
  }
  EXPECT_GE(views, 200);
}
