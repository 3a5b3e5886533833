#include "QtPrinters.h"
#include "RasterManagers.h"
#include "RasterTestUtils.h"

#include <gtest/gtest.h>

namespace {

constexpr int64_t kOnePart = TPartCache::PartUnit;

uint32_t Rgb(int r, int g, int b) {
  return r | (g << 8) | (b << 16);
}

class RasterPart : public testing::Test {
 protected:
  TRasterFiles FFiles;
};

}  // namespace

TEST_F(RasterPart, PixelsReadAndWriteInEveryEditableDepth) {
  const std::vector<uint32_t> palette = {Rgb(0, 0, 0), Rgb(255, 0, 0), Rgb(0, 255, 0),
                                         Rgb(0, 0, 255)};
  for (int bpp : {1, 4, 8, 24}) {
    TBmpLayout layout;
    layout.Width = 700;  // several parts across at every depth but 1 bit
    layout.Height = 300;
    layout.BitsPerPixel = bpp;
    const int colours = bpp == 1 ? 2 : 4;
    if (bpp <= 8) layout.Palette.assign(palette.begin(), palette.begin() + colours);
    const auto colourAt = [&](int x, int y) { return palette[(x * 7 + y * 3) % colours]; };
    layout.Pixel = [&](int x, int y) {
      return bpp <= 8 ? static_cast<uint32_t>((x * 7 + y * 3) % colours) : colourAt(x, y);
    };
    const auto raster = FFiles.Open(layout, kOnePart);
    for (int y = 0; y < 300; y += 13)
      for (int x = 0; x < 700; x += 7) ASSERT_EQ(raster->GetPixel(x, y), colourAt(x, y)) << bpp;
    for (int y = 0; y < 300; ++y)
      for (int x = 0; x < 700; ++x) raster->SetPixel(x, y, colourAt(x + 1, y));
    for (int y = 0; y < 300; ++y)
      for (int x = 0; x < 700; ++x) ASSERT_EQ(raster->GetPixel(x, y), colourAt(x + 1, y)) << bpp;
  }
}

TEST_F(RasterPart, IndexedWritesTakeTheFirstEqualEntryOfTheTableItHolds) {
  TBmpLayout layout;
  layout.Width = 4;
  layout.Height = 2;
  layout.Palette = {Rgb(9, 9, 9), Rgb(1, 2, 3), Rgb(1, 2, 3), Rgb(4, 5, 6)};
  auto raster = FFiles.Open(layout, kOnePart);
  TRasterPart* part = raster->GetPart(0, 0);
  raster->SetPixel(2, 1, Rgb(1, 2, 3));
  EXPECT_EQ(part->GetRow(1)[2], 1);
  // Index 200 lies beyond the four entries: it reads black, and black is no entry to write.
  part->GetRow(0)[3] = 200;
  EXPECT_EQ(raster->GetPixel(3, 0), 0u);
  const uint32_t changes = part->ChangeCount();
  EXPECT_EQ(MessageOf([&] { raster->SetPixel(0, 0, 0); }),
            "Не найден соответствующий цвет в палитре");
  EXPECT_EQ(part->GetRow(0)[0], 0);  // unchanged, and not counted as a change
  EXPECT_EQ(part->ChangeCount(), changes);
  EXPECT_EQ(raster->Palette().IndexOf(Rgb(4, 5, 6)), 3);
  EXPECT_EQ(raster->Palette().IndexOf(Rgb(4, 5, 7)), -1);
  EXPECT_EQ(raster->Palette().Colour(255), 0u);
}

TEST_F(RasterPart, EachDepthKeepsItsOwnPixelLayout) {
  TBmpLayout layout;
  layout.Width = 13;
  layout.BitsPerPixel = 1;
  layout.Palette = {Rgb(0, 0, 0), Rgb(255, 255, 255)};
  auto raster = FFiles.Open(layout, kOnePart);
  raster->SetPixel(3, 0, Rgb(255, 0, 0));  // only entry 0 is compared: red sets the bit
  EXPECT_EQ(raster->GetPixel(3, 0), Rgb(255, 255, 255));
  raster->SetPixel(3, 0, Rgb(0, 0, 0));
  EXPECT_EQ(raster->GetPixel(3, 0), 0u);

  layout.Width = 4;
  layout.BitsPerPixel = 4;
  layout.Palette = GreyPalette(16);
  layout.Pixel = [](int x, int) { return static_cast<uint32_t>(x + 5); };
  raster = FFiles.Open(layout, kOnePart);
  raster->SetPixel(2, 0, layout.Palette[12]);  // an even column: the high nibble only
  EXPECT_EQ(raster->GetPart(0, 0)->GetRow(0)[1], 0xC8);
  raster->SetPixel(1, 0, layout.Palette[3]);
  EXPECT_EQ(raster->GetPart(0, 0)->GetRow(0)[0], 0x53);

  layout.BitsPerPixel = 24;
  layout.Pixel = [](int, int) { return Rgb(30, 20, 10); };
  raster = FFiles.Open(layout, kOnePart);
  const uint8_t* row = raster->GetPart(0, 0)->GetRow(0);
  EXPECT_EQ(std::vector<uint8_t>(row, row + 3), std::vector<uint8_t>({10, 20, 30}));
  EXPECT_EQ(raster->GetPixel(1, 0), 30u + 20 * 256 + 10 * 65536);
}

TEST_F(RasterPart, SixteenAndThirtyTwoBitPixelsHaveNoColourAccess) {
  for (int bpp : {16, 32}) {
    TBmpLayout layout;
    layout.BitsPerPixel = bpp;
    auto raster = FFiles.Open(layout, kOnePart);
    EXPECT_EQ(MessageOf([&] { raster->GetPixel(0, 0); }),
              "Неподдерживаемое количество битов на цвет");
    EXPECT_EQ(MessageOf([&] { raster->SetPixel(0, 0, 0); }),
              "Неподдерживаемое количество битов на цвет");
    EXPECT_FALSE(raster->GetPart(0, 0)->Modified());
  }
}

TEST_F(RasterPart, PixelsOutsideTheRasterAreRefused) {
  TBmpLayout layout;
  layout.Width = 1000;
  layout.Height = 500;
  layout.Palette = GreyPalette(256);
  auto raster = FFiles.Open(layout, 10 * kOnePart);
  for (auto [x, y] : {std::pair{1000, 0}, {0, 500}, {-1, 0}, {0, -1}, {INT_MIN, 3}})
    EXPECT_EQ(MessageOf([&, x = x, y = y] { raster->GetPixel(x, y); }),
              QStringLiteral("Не найден растр для точки (%1, %2)").arg(x).arg(y));
  // A part refuses pixels of its neighbours too.
  EXPECT_EQ(MessageOf([&] { raster->GetPart(0, 0)->SetPixel(456, 0, 0); }),
            "Не найден растр для точки (456, 0)");
}

TEST_F(RasterPart, ChangesAreCountedAndPartsAreToldApart) {
  TBmpLayout layout;
  layout.Width = 1000;
  layout.Palette = GreyPalette(256);
  auto raster = FFiles.Open(layout, 10 * kOnePart);
  TRasterPart* a = raster->GetPart(0, 0);
  TRasterPart* b = raster->GetPart(1, 0);
  EXPECT_NE(a->Id(), b->Id());
  const uint32_t before = a->ChangeCount();
  raster->SetPixel(1, 0, layout.Palette[7]);
  EXPECT_GT(a->ChangeCount(), before);
  EXPECT_TRUE(a->Modified());
  const uint32_t afterSet = a->ChangeCount();
  a->GetBits()[0] = 3;
  a->MarkModified();
  EXPECT_GT(a->ChangeCount(), afterSet);
  TRasterManager copy(FFiles.Provider(), kOnePart, nullptr);
  copy.CopyFrom(*raster);
  EXPECT_NE(copy.GetPart(0, 0)->Id(), a->Id());
  EXPECT_FALSE(copy.GetPart(0, 0)->Modified());
}
