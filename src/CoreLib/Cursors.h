#pragma once

#include "Canvases.h"
#include "Contours.h"
#include "Devices.h"

#include <QCursor>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <map>

// How a line is drawn: Width is in millimetres on the page (0 the thinnest line) and holds at the
// projection scale RefScale (0: the width does not follow the zoom).
struct TLineStyle {
  TPenStyle PenStyle = psSolid;
  double Width = 0;
  double RefScale = 0;
  TColor Color = clBlack;
  TPenMode PenMode = pmCopy;
};

// How a closed figure is filled. Color fills solid figures, lies between hatch lines and colours a
// see-through pattern; Density 2 … 10 is such a pattern (0 and 1 none).
struct TFillStyle {
  TBrushStyle BrushStyle = bsSolid;
  TColor Color = clWhite;
  TColor HatchColor = clWhite;
  uint8_t Density = 0;
};

TLineStyle MakeLineStyle(TPenStyle penStyle, TColor color, TPenMode penMode, double width,
                         double refScale);
TFillStyle MakeFillStyle(TBrushStyle brushStyle, TColor color, TColor hatchColor, uint8_t density);

// The fill of outlines: nothing inside.
inline constexpr TFillStyle HollowFill{bsClear, clWhite, clWhite, 0};

// The default drawing state: brush solid white; pen solid, black, thinnest, copy; pictures copied;
// opaque white background; black text.
void ResetCanvas(TCanvas& canvas);
// The line's width in page metres; 0 for the thinnest line and for styled lines.
double LineWidthInPage(const TLineStyle& style, double scale);
void ApplyLineStyle(const TDeviceInfo& device, TCanvas& canvas, const TLineStyle& style);
void ApplyFillStyle(TCanvas& canvas, const TFillStyle& style);

// The see-through fill of a density is drawn in two passes over the figure: the mask pass turns
// the pattern's painted pixels black and inverts the others, the colour pass paints those pixels
// and restores the others. Each sets the canvas up for its pass; false when the style has none.
bool DensityMaskPass(const TFillStyle& style, TCanvas& canvas);
bool DensityColorPass(const TFillStyle& style, TCanvas& canvas);
// The pattern of a density 2 … 10 (higher densities take 10): 0 bits are painted.
const TPattern& DensityPattern(int density);

// Draws a page-coordinate contour with whatever pen and brush the canvas has.
void DrawContourOutline(const TDeviceInfo& device, TCanvas& canvas, const TContour& contour,
                        double margin);
void DrawPageContour(const TDeviceInfo& device, TCanvas& canvas, const TContour& contour,
                     const TFillStyle& fill, const TLineStyle& line);
// The same for a world-coordinate contour, which is left as it was.
void DrawWorldContour(const TDeviceInfo& device, TCanvas& canvas, const TContour& contour,
                      const TFillStyle& fill, const TLineStyle& line);

// Numbered mouse cursors. Numbers from 1 up are handed out in registration order; the platform's
// standard cursors keep their negative numbers (0 the default arrow, -3 the cross, -18 no entry).
class TCursorTable {
 public:
  // Registers the named cursor images under consecutive numbers; returns the first.
  int RegisterCursors(const QStringList& names);
  // Registers a named cursor image under a number of its own, e.g. in place of a standard one.
  void RegisterCursor(int number, const QString& name);
  QCursor Cursor(int number) const;
  int NextCursorNumber() const { return FNextNumber; }

 private:
  int FNextNumber = 1;
  std::map<int, QCursor> FCursors;
};

// The application's table.
TCursorTable& CursorTable();

inline constexpr int crDefault = 0;
inline constexpr int crCross = -3;
inline constexpr int crNo = -18;

// The cursors of the drawing tools (1 … 23), of the edit window and its navigator (from
// EditCursorBase) and of the grid calibrator (from GridCursorBase), in their numbering order.
const QStringList& ToolCursorNames();
const QStringList& EditCursorNames();
const QStringList& GridCursorNames();
inline constexpr int EditCursorBase = 24;
inline constexpr int GridCursorBase = 46;

// Registers every cursor of the program in the table, in the order that fixes their numbers.
// Cursor images need the GUI application, so the program calls this once at start.
void RegisterProgramCursors(TCursorTable& table = CursorTable());

// A cursor image of the program's resources; its hot spot is stored in the image. A missing image
// gives the arrow.
QCursor LoadCursorResource(const QString& name);
