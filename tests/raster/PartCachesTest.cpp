#include "PartCaches.h"
#include "QtPrinters.h"
#include "RasterManagers.h"
#include "RasterTestUtils.h"

#include <gtest/gtest.h>

namespace {

constexpr int64_t kOnePart = TPartCache::PartUnit;

// Six parts A to F side by side, in a budget of three.
class PartCache : public testing::Test {
 protected:
  void SetUp() override {
    TBmpLayout layout;
    layout.Width = 6 * 456;
    layout.Height = 2;
    layout.Palette = GreyPalette(256);
    layout.Pixel = [](int x, int y) { return static_cast<uint32_t>((x / 456 * 40 + x + y) % 256); };
    FLayout = layout;
    FRaster = FFiles.Open(layout, 3 * kOnePart + 1000);
  }
  TRasterPart* Part(char name) { return FRaster->GetPart(name - 'A', 0); }
  TPartCache& Cache() { return FRaster->Cache(); }
  // The loaded parts by name, most recent first.
  std::string Loaded() {
    std::string names;
    for (const TRasterPart* part : Cache().LoadedParts())
      names += static_cast<char>('A' + part->Left() / 456);
    return names;
  }
  void Use(const std::string& names) {
    for (char name : names) Part(name)->GetBits();
  }
  int64_t SwapSize() { return Cache().SwapAllocator().Stream()->Size(); }
  bool PixelsIntact(char name) {
    for (int x = 0; x < 456; ++x) {
      const int rx = (name - 'A') * 456 + x;
      if (FRaster->GetPixel(rx, 1) != FLayout.Palette[FLayout.Pixel(rx, 1)]) return false;
    }
    return true;
  }

  TRasterFiles FFiles;
  TBmpLayout FLayout;
  std::unique_ptr<TRasterManager> FRaster;
};

}  // namespace

TEST_F(PartCache, OpeningKeepsTheLastPartsAndSwapsTheOthersOut) {
  EXPECT_EQ(Cache().MaxLoadedParts(), 3);
  EXPECT_EQ(Loaded(), "FED");
  for (char name : {'A', 'B', 'C'}) {
    EXPECT_FALSE(Part(name)->Loaded());
    EXPECT_EQ(Part(name)->SwapOffset(), (name - 'A') * 912);
  }
  EXPECT_EQ(Part('D')->SwapOffset(), -1);
  EXPECT_EQ(SwapSize(), 3 * 912);
}

TEST_F(PartCache, OutsideAUseScopeTheMostRecentlyUsedStay) {
  Use("ABCD");
  EXPECT_EQ(Loaded(), "DCB");
  EXPECT_EQ(SwapSize(), 6 * 912);  // D, E and F written once; A not again
  Use("BCD");
  EXPECT_EQ(Loaded(), "DCB");  // touching loaded parts never unloads
  EXPECT_TRUE(PixelsIntact('A'));
  EXPECT_TRUE(PixelsIntact('F'));
}

TEST_F(PartCache, AScopeKeepsThePartsItUsedAtTheFront) {
  Use("BCD");
  Cache().BeginUse();
  Use("B");  // last in a full list: stays where it is
  EXPECT_EQ(Loaded(), "DCB");
  Use("C");
  EXPECT_EQ(Loaded(), "CDB");
  EXPECT_EQ(Cache().ScopeFront(), 1);
  Cache().EndUse();
  EXPECT_EQ(Loaded(), "CDB");  // keeps Max(1, 3) = 3
}

TEST_F(PartCache, NewPartsOfAScopeTakeTurnsInTheLastSlot) {
  Use("BCD");
  Cache().BeginUse();
  Cache().BeginUse();  // nested scopes count as one
  Use("E");
  EXPECT_EQ(Loaded(), "DCE");
  EXPECT_FALSE(Part('B')->Loaded());
  Use("F");
  EXPECT_EQ(Loaded(), "DCF");
  EXPECT_EQ(Cache().ScopeOverflow(), 2);
  Cache().EndUse();
  EXPECT_EQ(Loaded(), "DCF");
  Cache().EndUse();
  EXPECT_EQ(Loaded(), "D");  // keeps Max(0, 3 - 2) = 1
  EXPECT_EQ(Cache().UseDepth(), 0);
}

TEST_F(PartCache, OnlyNewOrChangedPixelsAreWrittenToTheSwapFile) {
  // A is in the swap file and comes back unchanged; stale bytes written behind its back show
  // whether its next unload writes it again.
  Use("A");
  const std::vector<char> stale(912, 7);
  Cache().SwapAllocator().Stream()->WriteBufferAt(Part('A')->SwapOffset(), stale.data(), 912);
  Use("BCD");
  EXPECT_EQ(FRaster->GetPixel(0, 0), FLayout.Palette[7]);  // not written: the stale bytes came back
  FRaster->SetPixel(0, 0, FLayout.Palette[9]);
  Use("BCD");
  EXPECT_EQ(FRaster->GetPixel(0, 0), FLayout.Palette[9]);  // changed: written
  EXPECT_EQ(FRaster->GetPixel(1, 0), FLayout.Palette[7]);
}

TEST_F(PartCache, SwapOffsetsBeyondFourGibibytesWork) {
  // A sparse swap file already 5 GiB long: new blocks go beyond 32-bit offsets.
  Cache().SwapAllocator().Stream()->SetSize(int64_t{5} << 30);
  Use("ABC");
  EXPECT_EQ(Part('D')->SwapOffset(), int64_t{5} << 30);
  EXPECT_GT(Part('F')->SwapOffset(), int64_t{5} << 30);
  for (char name : {'A', 'B', 'C', 'D', 'E', 'F'}) EXPECT_TRUE(PixelsIntact(name)) << name;
}

TEST_F(PartCache, AFailedSwapWriteLeavesThePartLoaded) {
  QString message;
  {
    TFileSizeLimit limit(SwapSize() + 100);
    message = MessageOf([&] { Use("A"); });
  }
  EXPECT_TRUE(message.startsWith("Stream write error")) << message.toStdString();
  EXPECT_TRUE(Part('D')->Loaded());
  EXPECT_EQ(Part('D')->SwapOffset(), -1);
  for (char name : {'A', 'B', 'C', 'D', 'E', 'F'}) EXPECT_TRUE(PixelsIntact(name)) << name;
}

TEST(PartCacheBudget, ABudgetBelowOnePartHoldsOnePart) {
  TRasterFiles files;
  TBmpLayout layout;
  layout.Width = 1000;
  layout.Height = 1000;
  layout.BitsPerPixel = 24;
  layout.Pixel = [](int x, int y) { return static_cast<uint32_t>(x * 1000 + y); };
  const auto raster = files.Open(layout, 1000);
  EXPECT_EQ(raster->Cache().MaxLoadedParts(), 1);
  EXPECT_EQ(raster->Cache().LoadedParts().size(), 1u);
  for (int y = 0; y < 1000; y += 3)
    for (int x = 0; x < 1000; x += 5) ASSERT_EQ(raster->GetPixel(x, y), layout.Pixel(x, y));
  EXPECT_EQ(raster->Cache().LoadedParts().size(), 1u);
}
