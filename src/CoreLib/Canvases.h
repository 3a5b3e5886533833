#pragma once

#include "Types.h"

#include <QImage>
#include <QPainter>
#include <QPen>
#include <QPoint>
#include <QTransform>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

// Colours are 0x00BBGGRR: red in the lowest byte.
using TColor = uint32_t;

inline constexpr TColor clBlack = 0x000000;
inline constexpr TColor clWhite = 0xFFFFFF;

// The drawing state keeps the platform's numbering, which the drawing styles store.
enum TPenStyle : uint8_t {
  psSolid = 0,
  psDash = 1,
  psDot = 2,
  psDashDot = 3,
  psDashDotDot = 4,
  psClear = 5,
  psInsideFrame = 6,
};

// How a drawn pixel P combines with the pixel D under it, for lines and fills alike.
enum TPenMode : uint8_t {
  pmBlack = 0,        // 0
  pmWhite = 1,        // 1
  pmNop = 2,          // D
  pmNot = 3,          // ~D
  pmCopy = 4,         // P
  pmNotCopy = 5,      // ~P
  pmMergePenNot = 6,  // P | ~D
  pmMaskPenNot = 7,   // P & ~D
  pmMergeNotPen = 8,  // ~P | D
  pmMaskNotPen = 9,   // ~P & D
  pmMerge = 10,       // P | D
  pmNotMerge = 11,    // ~(P | D)
  pmMask = 12,        // P & D
  pmNotMask = 13,     // ~(P & D)
  pmXor = 14,         // P ^ D
  pmNotXor = 15,      // ~(P ^ D)
};

enum TBrushStyle : uint8_t {
  bsSolid = 0,
  bsClear = 1,
  bsHorizontal = 2,
  bsVertical = 3,
  bsFDiagonal = 4,
  bsBDiagonal = 5,
  bsCross = 6,
  bsDiagCross = 7,
};

// Whether the gaps of styled lines and of hatches are painted in the background colour.
enum TBackgroundMode : uint8_t { bkTransparent = 1, bkOpaque = 2 };

// How whole pictures combine with the canvas (source S, destination D).
enum TCopyMode : uint32_t {
  cmSrcCopy = 0x00CC0020,    // S
  cmSrcAnd = 0x008800C6,     // S & D
  cmSrcPaint = 0x00EE0086,   // S | D
  cmSrcInvert = 0x00660046,  // S ^ D
};

// An 8 × 8 monochrome pattern: a byte per row from the top, the leftmost pixel in the high bit.
using TPattern = std::array<uint8_t, 8>;

struct TPenState {
  TPenStyle Style = psSolid;
  // Pixels; 0 and 1 are the thinnest line.
  int32_t Width = 1;
  TColor Color = clBlack;
  TPenMode Mode = pmCopy;
};

struct TBrushState {
  TBrushStyle Style = bsSolid;
  TColor Color = clWhite;
  // Replaces the style while set: its 0 bits are painted in the text colour, its 1 bits in the
  // background colour.
  std::optional<TPattern> Pattern;
};

// A drawing surface over an image of Format_RGB32 with the drawing state of the platform's device
// contexts: the state lives in the public fields and every drawing call applies it as it stands.
// Nothing is antialiased. Device coordinate (x, y) is the pixel at column x and row y; lines leave
// out their last pixel and fills the right and bottom edges, so that shapes meet without overlap.
class TCanvas {
 public:
  explicit TCanvas(QImage& image);
  ~TCanvas();
  TCanvas(const TCanvas&) = delete;
  TCanvas& operator=(const TCanvas&) = delete;

  QImage& Image() { return FImage; }

  TPenState Pen;
  TBrushState Brush;
  TBackgroundMode BackgroundMode = bkOpaque;
  TColor BackgroundColor = clWhite;
  TColor TextColor = clBlack;
  TCopyMode CopyMode = cmSrcCopy;

  // What the drawing calls made since the canvas began may have changed: a rectangle of the image
  // (right and bottom exclusive), empty when nothing was drawn. Pixels written through Image()
  // are not counted.
  TRect Touched() const;

  // Drawing outside the clip rectangle changes nothing.
  void SetClipRect(const TRect& r);
  void ResetClip();
  // The clip rectangle, or the whole image when there is none.
  TRect ClipBox() const;

  // Closed figures filled with the brush by the alternate (even-odd) rule and outlined with the
  // pen; counts gives the points of each figure.
  void PolyPolygon(const TPoint* points, const int32_t* counts, int32_t figures);
  // Open figures drawn with the pen.
  void PolyPolyline(const TPoint* points, const int32_t* counts, int32_t figures);
  // Fills the rectangle (right and bottom exclusive) with the brush, without outline.
  void FillRect(const TRect& r);
  // The dotted frame of keyboard focus: every other pixel of the rectangle's edge inverted, so that
  // a second call removes it exactly.
  void DrawFocusRect(const TRect& r);
  // Copies a picture (Format_RGB32) at (x, y), combined as CopyMode says.
  void Draw(int32_t x, int32_t y, const QImage& picture);
  // Draws the source rectangle of a picture (Format_RGB32) into the target rectangle, given in the
  // coordinates that toDevice maps onto the canvas. Shrunk pictures are filtered so that thin
  // lines stay visible; enlarged ones show their pixels as crisp squares.
  void StretchDib(const QTransform& toDevice, const QRectF& target, const QImage& picture,
                  const QRectF& source);

 private:
  // Sets the painter up for the pen mode; false when the mode draws nothing.
  bool ApplyMode();
  QBrush MakeBrush() const;
  // Runs stroke() once for each pass of the pen: for a styled pen on an opaque background
  // the gaps in the background colour first, then the dashes.
  template <typename Stroke>
  void StrokePasses(Stroke stroke);
  void StoreFigure(const TPoint* points, int32_t count);
  // Counts a rectangle as touched, grown by the pen's reach.
  void Touch(QRect r);
  void TouchPoints(const TPoint* points, int32_t count);

  QImage& FImage;
  QPainter FPainter;
  std::optional<TRect> FClip;
  std::vector<QPoint> FFigure;  // reused, so that drawing a warm canvas allocates nothing
  QRect FTouched;
};

// The Qt colour of a colour value.
inline QColor ColorToQColor(TColor c) {
  return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
}

// The colour value of a Qt colour (its alpha is dropped).
inline TColor QColorToColor(const QColor& c) {
  return static_cast<TColor>(c.red()) | static_cast<TColor>(c.green()) << 8 |
         static_cast<TColor>(c.blue()) << 16;
}
