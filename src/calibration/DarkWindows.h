#pragma once

#include "Types.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

class TRasterManager;
struct TPixelRows;

// A rectangle of the scan as darkness, one byte a pixel: 0 for white paper, 255 for black ink.
// Pixel (X, Y) of the raster is the sample at (X, Y).
struct TDarkWindow {
  int Left = 0;
  int Top = 0;
  int Width = 0;
  int Height = 0;
  // The scan holds one bit a pixel: ink and paper are dots, and their darkness shows only over a
  // few pixels together.
  bool Binary = false;
  std::vector<uint8_t> Pixels;  // rows top first

  const uint8_t* Row(int y) const { return Pixels.data() + static_cast<size_t>(y) * Width; }
  uint8_t At(int x, int y) const { return Pixels[static_cast<size_t>(y) * Width + x]; }
};

// The darkness of a colour 0x00BBGGRR: how far its brightest channel is from white, or half of
// its luminance's complement where that is more. Black ink stays black while coloured map content
// (brown contours, blue water, green woods, orange roads) reads lighter than its luminance, so
// that a grid printed in black stands out from it; a grid printed in colour still shows.
uint8_t ColourDarkness(uint32_t colour);

// Reads rectangles of a raster as darkness, part by part. Only the thread that owns the raster may
// read.
class TDarkReader {
 public:
  // Raises "Неподдерживаемое количество битов на цвет" for depths without pixel access.
  explicit TDarkReader(TRasterManager& raster);
  ~TDarkReader();
  TDarkReader(const TDarkReader&) = delete;
  TDarkReader& operator=(const TDarkReader&) = delete;

  // The rectangle (right and bottom exclusive) clipped to the raster; empty when it lies outside.
  TDarkWindow Read(const TRect& rect) const;
  // The rectangles, in order, read together: rectangles that share rows of a file whose pixels
  // wait unread in it are read with one read a row, however many they are.
  std::vector<TDarkWindow> Read(const std::vector<TRect>& rects) const;

 private:
  // Count pixels of a stored row from the given column on.
  void ConvertRow(const uint8_t* row, int column, int count, uint8_t* out) const;
  // Fills the window, its place and size set, from the file's rows mapped in place.
  void ReadMapped(const TPixelRows& rows, TDarkWindow& window) const;

  TRasterManager& FRaster;
  std::array<uint8_t, 256> FIndexDarkness{};  // indexed depths: the darkness of each entry
};

// The least contrast of a line over the paper that stands out of the window's grain, in levels of
// darkness.
double LineThreshold(const TDarkWindow& window);

// The window smoothed over 3 × 3 pixels (weights 1, 2, 1 each way): the darkness of dotted ink.
// It stays a window of a binary scan.
TDarkWindow Smoothed(const TDarkWindow& window);
