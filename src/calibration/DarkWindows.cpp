#include "DarkWindows.h"

#include "RasterManagers.h"
#include "SysUtils.h"

#include <algorithm>
#include <cstdlib>

namespace {

uint8_t Darkness(uint32_t r, uint32_t g, uint32_t b) {
  const uint32_t luminance = (77 * r + 150 * g + 29 * b + 128) >> 8;
  return static_cast<uint8_t>(std::max(255 - std::max({r, g, b}), (255 - luminance) / 2));
}

// The least contrast of a line in levels of darkness, whatever the grain.
constexpr double kMinContrast = 20;
// The grain is measured on about this many pairs of pixels.
constexpr int kNoiseSamples = 65536;

}  // namespace

uint8_t ColourDarkness(uint32_t colour) {
  return Darkness(colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF);
}

TDarkReader::TDarkReader(TRasterManager& raster) : FRaster(raster) {
  const int bits = raster.BitsPerPixel();
  if (bits != 1 && bits != 4 && bits != 8 && bits != 24)
    throw Exception(QStringLiteral("Неподдерживаемое количество битов на цвет"));
  for (int i = 0; i < 256; ++i)
    FIndexDarkness[static_cast<size_t>(i)] =
        ColourDarkness(raster.Palette().Colour(static_cast<uint8_t>(i)));
}

void TDarkReader::ConvertRow(const uint8_t* row, int column, int count, uint8_t* out) const {
  switch (FRaster.BitsPerPixel()) {
    case 1:
      for (int c = column; c < column + count; ++c)
        *out++ = FIndexDarkness[(row[c >> 3] >> (7 - (c & 7))) & 1];
      break;
    case 4:
      for (int c = column; c < column + count; ++c)
        *out++ = FIndexDarkness[c & 1 ? row[c >> 1] & 0x0F : row[c >> 1] >> 4];
      break;
    case 8:
      for (int c = column; c < column + count; ++c) *out++ = FIndexDarkness[row[c]];
      break;
    default:
      for (const uint8_t* p = row + 3 * column; p < row + 3 * (column + count); p += 3)
        *out++ = Darkness(p[2], p[1], p[0]);
      break;
  }
}

TDarkReader::~TDarkReader() {
  // The pages of the file's rows read in place go back to the system's file cache.
  if (FRaster.Source() && FRaster.Source()->MappedRows()) FRaster.Source()->ReleaseMappedRows();
}

void TDarkReader::ReadMapped(const TPixelRows& rows, TDarkWindow& window) const {
  window.Pixels.resize(static_cast<size_t>(window.Width) * window.Height);
  uint8_t* out = window.Pixels.data();
  for (int y = window.Top; y < window.Top + window.Height; ++y, out += window.Width)
    ConvertRow(rows.Row(y), window.Left, window.Width, out);
}

TDarkWindow TDarkReader::Read(const TRect& rect) const {
  TDarkWindow window;
  window.Binary = FRaster.BitsPerPixel() == 1;
  const int left = std::max(rect.Left, 0), top = std::max(rect.Top, 0);
  const int right = std::min(rect.Right, FRaster.Width());
  const int bottom = std::min(rect.Bottom, FRaster.Height());
  if (left >= right || top >= bottom) return window;
  window.Left = left;
  window.Top = top;
  window.Width = right - left;
  window.Height = bottom - top;
  window.Pixels.resize(static_cast<size_t>(window.Width) * window.Height);
  const int side = FRaster.Side();
  // Pixels that wait unread in the source file are read from there, just the window's share of
  // them: loading whole parts would read them all and push other parts out of the cache. When
  // every part of the window waits so, one read serves it.
  auto waiting = [&](const TRasterPart& part) { return !part.Loaded() && part.FileBacked(); };
  bool allWaiting = FRaster.Source() != nullptr;
  for (int row = top / side; row <= (bottom - 1) / side && allWaiting; ++row)
    for (int column = left / side; column <= (right - 1) / side && allWaiting; ++column)
      allWaiting = waiting(*FRaster.GetPart(column, row));
  auto readSource = [&](int x0, int y0, int x1, int y1) {
    const std::unique_ptr<TRasterFileDib> dib =
        FRaster.Source()->GetDibSection(x0, y0, x1 - x0, y1 - y0);
    const int64_t rowSize = dib->ImageSize / (y1 - y0);
    uint8_t* out =
        window.Pixels.data() + static_cast<size_t>(y0 - top) * window.Width + (x0 - left);
    for (int y = y0; y < y1; ++y, out += window.Width)
      ConvertRow(dib->Bits.Data() + (y1 - 1 - y) * rowSize, dib->PixelOffset, x1 - x0, out);
  };
  if (allWaiting) {
    if (const TPixelRows mapped = FRaster.Source()->MappedRows()) {
      ReadMapped(mapped, window);
      FRaster.Source()->CheckMappedRows();
    } else {
      readSource(left, top, right, bottom);
    }
    return window;
  }
  for (int row = top / side; row <= (bottom - 1) / side; ++row)
    for (int column = left / side; column <= (right - 1) / side; ++column) {
      TRasterPart& part = *FRaster.GetPart(column, row);
      const int x0 = std::max(left, part.Left());
      const int x1 = std::min(right, part.Left() + part.Width());
      const int y0 = std::max(top, part.Top());
      const int y1 = std::min(bottom, part.Top() + part.Height());
      if (waiting(part) && FRaster.Source()) {
        readSource(x0, y0, x1, y1);
        continue;
      }
      // The part stays at the front of the cache while its rows are read.
      uint8_t* out =
          window.Pixels.data() + static_cast<size_t>(y0 - top) * window.Width + (x0 - left);
      for (int y = y0; y < y1; ++y, out += window.Width)
        ConvertRow(part.GetRow(y), x0 - part.Left(), x1 - x0, out);
    }
  return window;
}

std::vector<TDarkWindow> TDarkReader::Read(const std::vector<TRect>& rects) const {
  struct TClipped {
    size_t Index;
    TRect Rect;
  };
  std::vector<TClipped> inside;
  int top = FRaster.Height(), bottom = 0;
  for (size_t k = 0; k < rects.size(); ++k) {
    const TRect r{std::max(rects[k].Left, 0), std::max(rects[k].Top, 0),
                  std::min(rects[k].Right, FRaster.Width()),
                  std::min(rects[k].Bottom, FRaster.Height())};
    if (r.Left >= r.Right || r.Top >= r.Bottom) continue;
    inside.push_back({k, r});
    top = std::min(top, r.Top);
    bottom = std::max(bottom, r.Bottom);
  }
  std::vector<TDarkWindow> windows(rects.size());
  const int side = FRaster.Side();
  bool allWaiting = FRaster.Source() != nullptr && !inside.empty();
  for (const TClipped& c : inside)
    for (int row = c.Rect.Top / side; row <= (c.Rect.Bottom - 1) / side && allWaiting; ++row)
      for (int column = c.Rect.Left / side; column <= (c.Rect.Right - 1) / side && allWaiting;
           ++column) {
        const TRasterPart& part = *FRaster.GetPart(column, row);
        allWaiting = !part.Loaded() && part.FileBacked();
      }
  if (!allWaiting) {
    for (size_t k = 0; k < rects.size(); ++k) windows[k] = Read(rects[k]);
    return windows;
  }
  // A file the system maps is read in place: a read a row of each window would cost more than
  // the windows' analysis.
  if (const TPixelRows mapped = FRaster.Source()->MappedRows()) {
    for (const TClipped& c : inside) {
      TDarkWindow& window = windows[c.Index];
      window.Binary = FRaster.BitsPerPixel() == 1;
      window.Left = c.Rect.Left;
      window.Top = c.Rect.Top;
      window.Width = c.Rect.Right - c.Rect.Left;
      window.Height = c.Rect.Bottom - c.Rect.Top;
      ReadMapped(mapped, window);
    }
    FRaster.Source()->CheckMappedRows();
    return windows;
  }
  std::sort(inside.begin(), inside.end(),
            [](const TClipped& a, const TClipped& b) { return a.Rect.Left < b.Rect.Left; });
  std::vector<TDibColumn> columns;
  for (const TClipped& c : inside) columns.push_back({c.Rect.Left, c.Rect.Right - c.Rect.Left});
  const std::vector<std::unique_ptr<TRasterFileDib>> dibs =
      FRaster.Source()->GetDibBand(top, bottom - top, columns);
  for (size_t c = 0; c < inside.size(); ++c) {
    const TRect& r = inside[c].Rect;
    TDarkWindow& window = windows[inside[c].Index];
    window.Binary = FRaster.BitsPerPixel() == 1;
    window.Left = r.Left;
    window.Top = r.Top;
    window.Width = r.Right - r.Left;
    window.Height = r.Bottom - r.Top;
    window.Pixels.resize(static_cast<size_t>(window.Width) * window.Height);
    const TRasterFileDib& dib = *dibs[c];
    const int64_t rowSize = dib.ImageSize / (bottom - top);
    uint8_t* out = window.Pixels.data();
    for (int y = r.Top; y < r.Bottom; ++y, out += window.Width)
      ConvertRow(dib.Bits.Data() + (bottom - 1 - y) * rowSize, dib.PixelOffset, window.Width, out);
  }
  return windows;
}

double LineThreshold(const TDarkWindow& window) {
  // The paper's grain: differences of pixels two apart, whose median ignores the few pixels of
  // lines and edges. Profiles across lines average three pixels along them (weights 1, 2, 1).
  std::array<int, 256> histogram{};
  int count = 0;
  const int rows = std::max(1, window.Width * window.Height / kNoiseSamples);
  for (int y = 0; y < window.Height; y += rows) {
    const uint8_t* row = window.Row(y);
    for (int x = 0; x + 2 < window.Width; ++x) {
      ++histogram[static_cast<size_t>(std::abs(row[x + 2] - row[x]))];
      ++count;
    }
  }
  if (count == 0) return kMinContrast;
  int seen = 0, median = 0;
  while (median < 255 && (seen += histogram[static_cast<size_t>(median)]) * 2 < count) ++median;
  const double sigma = median / 0.954;
  return std::max(kMinContrast, 3.5 * 0.61 * sigma);
}

TDarkWindow Smoothed(const TDarkWindow& window) {
  TDarkWindow out = window;
  const int w = window.Width, h = window.Height;
  std::vector<uint16_t> rows(static_cast<size_t>(w) * h);
  for (int y = 0; y < h; ++y) {
    const uint8_t* s = window.Row(y);
    uint16_t* r = rows.data() + static_cast<size_t>(y) * w;
    for (int x = 0; x < w; ++x)
      r[x] = static_cast<uint16_t>(s[std::max(x - 1, 0)] + 2 * s[x] + s[std::min(x + 1, w - 1)]);
  }
  for (int y = 0; y < h; ++y) {
    const uint16_t* a = rows.data() + static_cast<size_t>(std::max(y - 1, 0)) * w;
    const uint16_t* b = rows.data() + static_cast<size_t>(y) * w;
    const uint16_t* c = rows.data() + static_cast<size_t>(std::min(y + 1, h - 1)) * w;
    uint8_t* o = out.Pixels.data() + static_cast<size_t>(y) * w;
    for (int x = 0; x < w; ++x) o[x] = static_cast<uint8_t>((a[x] + 2 * b[x] + c[x] + 8) >> 4);
  }
  return out;
}
