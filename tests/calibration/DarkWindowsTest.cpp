#include "DarkWindows.h"
#include "QtPrinters.h"
#include "RasterManagers.h"
#include "RasterTestUtils.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace {

// The darkness of a colour 0x00BBGGRR: how far its brightest channel is from white, or half of its
// luminance's complement where that is more.
int Darkness(uint32_t colour) {
  const double r = colour & 0xFF, g = (colour >> 8) & 0xFF, b = (colour >> 16) & 0xFF;
  const double luminance = 0.299 * r + 0.587 * g + 0.114 * b;
  return static_cast<int>(std::lround(std::max(255 - std::max({r, g, b}), (255 - luminance) / 2)));
}

}  // namespace

// Indexed depths through their palettes and 24 bits through the colours, from parts that wait in
// the file, that the cache holds, and that were changed and wait in the swap file; a window that
// reaches beyond the raster is cut to it.
TEST(TDarkReader, ReadsTheDarknessOfEveryDepthWhereverThePixelsAre) {
  for (int bits : {1, 4, 8, 24}) {
    TBmpLayout layout;
    layout.Width = 1500;
    layout.Height = 700;
    layout.BitsPerPixel = bits;
    if (bits == 1) layout.Palette = {0x402010, 0xF0F8FF};
    if (bits == 4)
      for (int i = 0; i < 16; ++i) layout.Palette.push_back(uint32_t(i * 0x0B0D11) & 0xFFFFFF);
    if (bits == 8) layout.Palette = GreyPalette(256);
    layout.Pixel = [bits](int x, int y) {
      const uint32_t v = static_cast<uint32_t>(x * 7 + y * 3);
      return bits == 24 ? (v * 2654435761u) & 0xFFFFFF : v % (1u << bits);
    };
    TRasterFiles files;
    // A cache of one part: the window's parts come and go.
    auto raster = files.Open(layout, 1);
    const TDarkReader reader(*raster);
    // Changed pixels live in the parts, no longer in the file.
    for (int x = 1290; x < 1310; ++x) raster->SetPixel(x, 400, bits == 1 ? 0x402010 : 0);
    const TDarkWindow window = reader.Read(TRect{1200, 300, 1600, 720});
    ASSERT_EQ(window.Left, 1200) << bits;
    ASSERT_EQ(window.Top, 300) << bits;
    ASSERT_EQ(window.Width, 300) << bits;
    ASSERT_EQ(window.Height, 400) << bits;
    int wrong = 0;
    for (int y = 300; y < 700; ++y)
      for (int x = 1200; x < 1500; ++x)
        wrong += std::abs(window.Row(y - 300)[x - 1200] - Darkness(raster->GetPixel(x, y))) > 1;
    EXPECT_EQ(wrong, 0) << bits;
    EXPECT_GT(window.Row(100)[95], 150) << bits;
    EXPECT_TRUE(reader.Read(TRect{1500, 0, 1600, 100}).Pixels.empty()) << bits;
  }
}

// Windows read together from a file whose pixels all wait in it, mapped in place where the system
// maps it and read row by row otherwise: each as the raster has it, cut to the raster, in the order
// asked, the pixels of 1- and 4-bit rows starting inside a byte too.
TEST(TDarkReader, ReadsWindowsTogetherFromTheFileAsTheRasterHasThem) {
  for (int bits : {1, 4, 8, 24}) {
    TBmpLayout layout;
    layout.Width = 1001;
    layout.Height = 650;
    layout.BitsPerPixel = bits;
    if (bits == 1) layout.Palette = {0x402010, 0xF0F8FF};
    if (bits == 4)
      for (int i = 0; i < 16; ++i) layout.Palette.push_back(uint32_t(i * 0x0B0D11) & 0xFFFFFF);
    if (bits == 8) layout.Palette = GreyPalette(256);
    layout.Pixel = [bits](int x, int y) {
      const uint32_t v = static_cast<uint32_t>(x * 5 + y * 11 + x * y);
      return bits == 24 ? (v * 2654435761u) & 0xFFFFFF : v % (1u << bits);
    };
    TRasterFiles files;
    // A cache of one part: the parts are not read before the windows are.
    auto raster = files.Open(layout, 1);
    const bool mapped = raster->Source() && raster->Source()->MappedRows();
    const std::vector<TRect> rects{
        {903, 597, 1100, 700}, {3, 5, 77, 60}, {-20, 300, 45, 333}, {2000, 0, 2100, 10}};
    std::vector<TDarkWindow> windows;
    {
      const TDarkReader reader(*raster);
      windows = reader.Read(rects);
    }
    ASSERT_EQ(windows.size(), rects.size());
    EXPECT_TRUE(windows[3].Pixels.empty());
    for (size_t k = 0; k < 3; ++k) {
      const TDarkWindow& window = windows[k];
      const TRect& r = rects[k];
      ASSERT_EQ(window.Left, std::max(r.Left, 0)) << bits << " " << k;
      ASSERT_EQ(window.Top, r.Top) << bits << " " << k;
      ASSERT_EQ(window.Width, std::min(r.Right, 1001) - std::max(r.Left, 0)) << bits << " " << k;
      ASSERT_EQ(window.Height, std::min(r.Bottom, 650) - r.Top) << bits << " " << k;
      EXPECT_EQ(window.Binary, bits == 1);
      int wrong = 0;
      for (int y = 0; y < window.Height; ++y)
        for (int x = 0; x < window.Width; ++x)
          wrong += std::abs(window.Row(y)[x] -
                            Darkness(raster->GetPixel(window.Left + x, window.Top + y))) > 1;
      EXPECT_EQ(wrong, 0) << bits << " " << k << (mapped ? " mapped" : " read");
    }
  }
}
