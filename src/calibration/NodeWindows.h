#pragma once

#include "Types.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

class TRasterManager;

// Positions in this module are raster pixels as the grid counts them: pixel (X, Y) lies at (X, Y),
// so that a crossing whose centre pixel is (X, Y) rounds to the node position (X, Y).

// A rectangle of the scan as darkness, one byte a pixel: 0 for white paper, 255 for black ink.
struct TDarkWindow {
  int Left = 0;
  int Top = 0;
  int Width = 0;
  int Height = 0;
  std::vector<uint8_t> Pixels;  // rows top first

  const uint8_t* Row(int y) const { return Pixels.data() + static_cast<size_t>(y) * Width; }
};

// Reads rectangles of a raster as darkness, part by part. Only the thread that owns the raster may
// read.
class TDarkReader {
 public:
  // Raises "Неподдерживаемое количество битов на цвет" for depths without pixel access.
  explicit TDarkReader(TRasterManager& raster);

  // The rectangle (right and bottom exclusive) clipped to the raster; empty when it lies outside.
  TDarkWindow Read(const TRect& rect) const;

 private:
  // Count pixels of a stored row from the given column on.
  void ConvertRow(const uint8_t* row, int column, int count, uint8_t* out) const;

  TRasterManager& FRaster;
  std::array<uint8_t, 256> FIndexDarkness{};  // indexed depths: the darkness of each entry
};

// Where to look for one crossing of two grid lines, and what the crossing must show.
struct TCrossingSearch {
  // The predicted crossing and how far from it the crossing may lie, across and down.
  double X = 0;
  double Y = 0;
  int RadiusX = 0;
  int RadiusY = 0;
  // The predicted directions of the two lines: dy/dx of the line across, dx/dy of the line down.
  double SlopeAcross = 0;
  double SlopeDown = 0;
  // Directions taken from crossings already found are close; otherwise the lines may turn by a
  // few degrees, and the search lets them drift further along their arms.
  bool DirectionsKnown = false;
  // The length of line, in pixels, that counts as a whole arm.
  int Arm = 16;
  // The arms that must be seen: on the grid's border the lines may end at the crossing.
  bool NeedLeft = true;
  bool NeedRight = true;
  bool NeedUp = true;
  bool NeedDown = true;

  // The rectangle of the scan the search reads (right and bottom exclusive).
  TRect Window() const;
};

// A crossing seen in a window.
struct TCrossing {
  double X = 0;
  double Y = 0;
  // The directions of its lines as fitted: dy/dx across, dx/dy down.
  double SlopeAcross = 0;
  double SlopeDown = 0;
  // The length of line the shortest needed arm shows beyond the gap around the crossing, up to
  // twice a whole arm.
  double Reach = 0;
  // The width of its lines where they are darker than half way, in pixels: a line that merges with
  // a road or a word beside it is wider than the grid's.
  int Width = 0;
  // No other line runs close beside its lines: otherwise it may lie on the other line.
  bool Clear = true;
  // How sure the scan is of it, from 0 to 1: the shortest needed arm against a whole arm, and the
  // lines' contrast against the window's noise.
  double Confidence = 0;
};

// The crossings that the window shows within the search's reach, surest first.
std::vector<TCrossing> FindCrossings(const TDarkWindow& window, const TCrossingSearch& search);

// The crossings of every search, in order. The windows are read one after another on this thread,
// the raster's, and analysed as soon as they are read on every core, this thread included once it
// has read them all or while too many wait. progress is called on this thread with the number of
// windows analysed so far. An error of any analysis reaches the caller once all threads stopped.
std::vector<std::vector<TCrossing>> FindCrossingsAround(
    const TDarkReader& reader, const std::vector<TCrossingSearch>& searches,
    const std::function<void(size_t analysed)>& progress);
