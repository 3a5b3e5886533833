#include "OtherProgram.h"
#include "PartCaches.h"
#include "QtPrinters.h"
#include "RasterManagers.h"
#include "RasterTestUtils.h"
#include "RecArrays.h"

#include <QFile>

#include <gtest/gtest.h>

namespace {

constexpr int64_t kOnePart = TPartCache::PartUnit;

// Six parts A to F side by side, in a budget of three, read from a file that may change, so that
// every part has to go through the swap file.
class PartCache : public testing::Test {
 protected:
  PartCache() : FFiles(false) {}
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
  EXPECT_EQ(message,
            "Ошибка при записи временного файла в папке " + GetTempDir() + ": файл слишком велик");
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

// The same six parts read from a file that stays as it was: parts need not be copied to the swap
// file, because the file gives their pixels again.
class StableSource : public testing::Test {
 protected:
  void SetUp() override {
    FLayout.Width = 6 * 456;
    FLayout.Height = 2;
    FLayout.Palette = GreyPalette(256);
    FLayout.Pixel = [](int x, int y) { return static_cast<uint32_t>((x / 7 + y) % 256); };
    FRaster = FFiles.Open(FLayout, 3 * kOnePart);
  }
  int64_t SwapSize(TRasterManager& raster) {
    return raster.Cache().SwapAllocator().Stream()->Size();
  }
  bool Intact(TRasterManager& raster) {
    for (int y = 0; y < FLayout.Height; ++y)
      for (int x = 0; x < FLayout.Width; ++x)
        if (raster.GetPixel(x, y) != FLayout.Palette[FLayout.Pixel(x, y)]) return false;
    return true;
  }

  TRasterFiles FFiles;
  TBmpLayout FLayout;
  std::unique_ptr<TRasterManager> FRaster;
};

TEST_F(StableSource, OpeningWritesNothingAndChangedPartsGoToTheSwapFile) {
  ASSERT_NE(FRaster->Source(), nullptr);
  EXPECT_EQ(FRaster->Cache().LoadedParts().size(), 3u);
  EXPECT_EQ(SwapSize(*FRaster), 0);
  EXPECT_TRUE(FRaster->GetPart(0, 0)->FileBacked());
  EXPECT_TRUE(Intact(*FRaster));
  EXPECT_EQ(SwapSize(*FRaster), 0);
  // A changed part no longer matches the file: it is written when it leaves the cache and comes
  // back from the swap file.
  FRaster->SetPixel(10, 1, FLayout.Palette[200]);
  EXPECT_FALSE(FRaster->GetPart(0, 0)->FileBacked());
  for (int column = 1; column < 6; ++column) FRaster->GetPart(column, 0)->GetBits();
  EXPECT_FALSE(FRaster->GetPart(0, 0)->Loaded());
  EXPECT_EQ(SwapSize(*FRaster), 912);
  EXPECT_EQ(FRaster->GetPixel(10, 1), FLayout.Palette[200]);
  EXPECT_EQ(FRaster->GetPixel(11, 1), FLayout.Palette[FLayout.Pixel(11, 1)]);
}

TEST_F(StableSource, AnotherProgramRewritingTheFileChangesNothingHere) {
  ASSERT_EQ(RunOtherProgram(
                {"/bin/sh", "-c", "head -c 4000 /dev/zero > \"$0\"", FFiles.Path("raster.bmp")}),
            0);
  EXPECT_EQ(ReadFile(FFiles.Path("raster.bmp")).size(), 4000);
  EXPECT_TRUE(Intact(*FRaster));
}

TEST_F(StableSource, CopiesShareTheFileUntilAClipLetsItGo) {
  TRasterManager copy(FFiles.Provider(), 3 * kOnePart, nullptr);
  copy.CopyFrom(*FRaster);
  EXPECT_EQ(copy.Source(), FRaster->Source());
  // Parts that were not in memory are copied without being read.
  EXPECT_FALSE(copy.GetPart(0, 0)->Loaded());
  EXPECT_TRUE(copy.GetPart(0, 0)->FileBacked());
  EXPECT_TRUE(Intact(copy));
  EXPECT_EQ(SwapSize(copy), 0);
  ASSERT_TRUE(FRaster->Clip(TRect{456, 0, 2 * 456, 2}));
  EXPECT_EQ(FRaster->Source(), nullptr);
  EXPECT_EQ(FRaster->GetPixel(0, 1), FLayout.Palette[FLayout.Pixel(456, 1)]);
}

TEST(UnstableSource, AFileOthersWriteIsCopiedAtOpen) {
  TRasterFiles files;
  TBmpLayout layout;
  layout.Width = 6 * 264;
  layout.Height = 3;
  layout.BitsPerPixel = 24;
  layout.Pixel = [](int x, int y) { return static_cast<uint32_t>(x * 3 + y); };
  WriteFile(files.Path("shared.bmp"), BmpBytes(layout));
  // Held open for writing elsewhere, the file cannot be promised to stay as it is.
  QFile other(files.Path("shared.bmp"));
  ASSERT_TRUE(other.open(QIODevice::ReadWrite));
  TRasterManager raster(files.Provider(), 2 * kOnePart, nullptr);
  raster.Open(files.Path("shared.bmp"));
  EXPECT_EQ(raster.Source(), nullptr);
  EXPECT_GT(raster.Cache().SwapAllocator().Stream()->Size(), 0);
  other.resize(100);
  for (int x = 0; x < layout.Width; x += 17) EXPECT_EQ(raster.GetPixel(x, 2), layout.Pixel(x, 2));
}
