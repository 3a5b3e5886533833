#include "Cursors.h"

#include "RecArrays.h"

#include <QImage>
#include <QPixmap>

#include <algorithm>
#include <array>
#include <cmath>

// The pictures of the drawing styles and cursors are compiled into this library, whose objects the
// linker only keeps when referred to.
static void InitDrawingResources() {
  static const bool done = [] {
    Q_INIT_RESOURCE(drawing);
    return true;
  }();
  (void)done;
}

TLineStyle MakeLineStyle(TPenStyle penStyle, TColor color, TPenMode penMode, double width,
                         double refScale) {
  return TLineStyle{penStyle, width, refScale, color, penMode};
}

TFillStyle MakeFillStyle(TBrushStyle brushStyle, TColor color, TColor hatchColor, uint8_t density) {
  return TFillStyle{brushStyle, color, hatchColor, density};
}

void ResetCanvas(TCanvas& canvas) {
  canvas.Brush = TBrushState{bsSolid, clWhite, std::nullopt};
  canvas.Pen = TPenState{psSolid, 0, clBlack, pmCopy};
  canvas.CopyMode = cmSrcCopy;
  canvas.BackgroundMode = bkOpaque;
  canvas.BackgroundColor = clWhite;
  canvas.TextColor = clBlack;
}

namespace {

bool HasWidth(const TLineStyle& style) {
  return (style.PenStyle == psSolid || style.PenStyle == psInsideFrame) && style.Width != 0;
}

}  // namespace

double LineWidthInPage(const TLineStyle& style, double scale) {
  if (!HasWidth(style)) return 0;
  if (style.RefScale != 0) return style.Width * (scale / style.RefScale) / 1000;
  return style.Width / 1000;
}

void ApplyLineStyle(const TDeviceInfo& device, TCanvas& canvas, const TLineStyle& style) {
  int32_t width = 0;
  if (HasWidth(style)) {
    const double scale = device.Projection()->GetScale();
    width = style.RefScale != 0
                ? RoundToInt(device.ScaleX() * style.Width * (scale / style.RefScale) / 1000)
                : RoundToInt(style.Width * device.ScaleX() / 1000);
  }
  canvas.Pen.Color = style.Color;
  canvas.Pen.Width = width;
  canvas.Pen.Style = style.PenStyle == psInsideFrame ? psSolid : style.PenStyle;
  canvas.Pen.Mode = style.PenMode;
}

void ApplyFillStyle(TCanvas& canvas, const TFillStyle& style) {
  // A pattern replaces a solid fill: its passes have painted the figure already.
  const TBrushStyle k =
      style.BrushStyle == bsSolid && style.Density != 0 ? bsClear : style.BrushStyle;
  if (k == bsClear) {
    canvas.Brush = TBrushState{bsClear, clWhite, std::nullopt};
    return;
  }
  canvas.Pen.Mode = pmCopy;
  if (k == bsSolid) {
    canvas.Brush = TBrushState{bsSolid, style.Color, std::nullopt};
    canvas.BackgroundMode = bkOpaque;
    return;
  }
  canvas.Brush = TBrushState{k, style.HatchColor, std::nullopt};
  if (style.Density == 0) {
    canvas.BackgroundMode = bkOpaque;
    canvas.BackgroundColor = style.Color;
  } else {
    canvas.BackgroundColor = clWhite;
    canvas.BackgroundMode = bkTransparent;
  }
}

namespace {

std::array<TPattern, 9> LoadDensityPatterns() {
  InitDrawingResources();
  std::array<TPattern, 9> patterns{};
  for (int level = 2; level <= 10; ++level) {
    const QImage image(QStringLiteral(":/patterns/HOLLOW_%1.bmp").arg(level));
    CheckInternal(image.width() == 8 && image.height() == 8, QStringLiteral("Cursors"),
                  QStringLiteral("нет образца плотности HOLLOW_%1").arg(level));
    TPattern& pattern = patterns[level - 2];
    for (int y = 0; y < 8; ++y) {
      uint8_t row = 0;
      for (int x = 0; x < 8; ++x)
        if (qGray(image.pixel(x, y)) >= 128) row |= static_cast<uint8_t>(0x80 >> x);
      pattern[y] = row;
    }
  }
  return patterns;
}

bool HasDensity(const TFillStyle& style) {
  return style.BrushStyle != bsClear && style.Density >= 2;
}

// Both passes draw the pattern alone, without an outline.
void SetPatternPass(const TFillStyle& style, TCanvas& canvas) {
  canvas.Pen.Style = psClear;
  canvas.Brush.Pattern = DensityPattern(style.Density);
}

}  // namespace

const TPattern& DensityPattern(int density) {
  static const std::array<TPattern, 9> patterns = LoadDensityPatterns();
  return patterns[std::clamp(density, 2, 10) - 2];
}

bool DensityMaskPass(const TFillStyle& style, TCanvas& canvas) {
  if (!HasDensity(style)) return false;
  SetPatternPass(style, canvas);
  canvas.TextColor = clBlack;
  canvas.Pen.Mode = pmMaskPenNot;
  return true;
}

bool DensityColorPass(const TFillStyle& style, TCanvas& canvas) {
  if (!HasDensity(style)) return false;
  SetPatternPass(style, canvas);
  canvas.TextColor = style.Color;
  canvas.Pen.Mode = pmXor;
  return true;
}

void DrawContourOutline(const TDeviceInfo& device, TCanvas& canvas, const TContour& contour,
                        double margin) {
  TDevPointsLease points;
  TWorldPoint corner;
  device.ContourToDevPoints(contour, *points, corner, margin);
  points->DrawDevPoints(canvas);
}

void DrawPageContour(const TDeviceInfo& device, TCanvas& canvas, const TContour& contour,
                     const TFillStyle& fill, const TLineStyle& line) {
  if (line.PenStyle == psClear && fill.BrushStyle == bsClear) return;
  TDevPointsLease points;
  TWorldPoint corner;
  device.ContourToDevPoints(contour, *points, corner,
                            LineWidthInPage(line, device.Projection()->GetScale()));
  const TPenMode mode = canvas.Pen.Mode;
  try {
    if (DensityMaskPass(fill, canvas)) {
      points->DrawDevPoints(canvas);
      if (DensityColorPass(fill, canvas)) points->DrawDevPoints(canvas);
    }
  } catch (...) {
    canvas.Pen.Mode = mode;
    throw;
  }
  canvas.Pen.Mode = mode;
  // An outline that is not copied must not meet the fill twice: the fill goes first, alone.
  if (line.PenMode != pmCopy && fill.BrushStyle != bsClear && points->Polygons.FigureCount() > 0) {
    canvas.Pen.Style = psClear;
    ApplyFillStyle(canvas, fill);
    points->DrawDevPoints(canvas);
    canvas.Brush = TBrushState{bsClear, canvas.Brush.Color, std::nullopt};
  } else {
    ApplyFillStyle(canvas, fill);
  }
  ApplyLineStyle(device, canvas, line);
  points->DrawDevPoints(canvas);
}

void DrawWorldContour(const TDeviceInfo& device, TCanvas& canvas, const TContour& contour,
                      const TFillStyle& fill, const TLineStyle& line) {
  TContourLease copy;
  copy->Assign(&contour);
  device.Projection()->ContourToPage(*copy);
  DrawPageContour(device, canvas, *copy, fill, line);
}

int TCursorTable::RegisterCursors(const QStringList& names) {
  const int first = FNextNumber;
  for (qsizetype i = 0; i < names.size(); ++i)
    RegisterCursor(first + static_cast<int>(i), names[i]);
  FNextNumber += static_cast<int>(names.size());
  return first;
}

void TCursorTable::RegisterCursor(int number, const QString& name) {
  FCursors[number] = LoadCursorResource(name);
}

QCursor TCursorTable::Cursor(int number) const {
  const auto it = FCursors.find(number);
  if (it != FCursors.end()) return it->second;
  // The platform's standard cursors by their numbers.
  static const std::map<int, Qt::CursorShape> standard = {
      {-1, Qt::BlankCursor},      {-2, Qt::ArrowCursor},      {-3, Qt::CrossCursor},
      {-4, Qt::IBeamCursor},      {-5, Qt::SizeAllCursor},    {-6, Qt::SizeBDiagCursor},
      {-7, Qt::SizeVerCursor},    {-8, Qt::SizeFDiagCursor},  {-9, Qt::SizeHorCursor},
      {-10, Qt::UpArrowCursor},   {-11, Qt::WaitCursor},      {-12, Qt::DragCopyCursor},
      {-13, Qt::ForbiddenCursor}, {-14, Qt::SplitHCursor},    {-15, Qt::SplitVCursor},
      {-16, Qt::DragCopyCursor},  {-17, Qt::BusyCursor},      {-18, Qt::ForbiddenCursor},
      {-19, Qt::BusyCursor},      {-20, Qt::WhatsThisCursor}, {-21, Qt::PointingHandCursor},
      {-22, Qt::SizeAllCursor}};
  const auto shape = standard.find(number);
  return QCursor(shape != standard.end() ? shape->second : Qt::ArrowCursor);
}

TCursorTable& CursorTable() {
  static TCursorTable table;
  return table;
}

const QStringList& ToolCursorNames() {
  static const QStringList names = {
      "CR_CROSS_PLUS",  "CR_CROSS_MINUS",      "CR_HAND",          "CR_FIGURE_COPY",
      "CR_ARROW_FRAME", "CR_ARROW_FRAME_PLUS", "CR_FIGURE_SELECT", "CR_ARROW_VERTEX",
      "CR_FIGURE_MOVE", "CR_VERTEX",           "CR_VERTEX_MOVE",   "CR_ARROW_CONNECTIONPOINT",
      "CR_CROSS_ARC",   "CR_CROSS_CURVE",      "CR_CROSS_ELLIPSE", "CR_CROSS_LINE",
      "CR_CROSS_RECT",  "CR_CROSS_STAMP",      "CR_CROSS_TEXT",    "CR_ORTO_ROTATE",
      "CR_ROTATE_EX",   "CR_ROTATE_CENTER",    "FIND_OBJECT"};
  return names;
}

const QStringList& EditCursorNames() {
  static const QStringList names = {
      "SCROLL_LEFT",       "SCROLL_RIGHT",    "SCROLL_UP",          "SCROLL_DOWN", "SCROLL_LEFTTOP",
      "SCROLL_LEFTBOTTOM", "SCROLL_RIGHTTOP", "SCROLL_RIGHTBOTTOM", "SCROLL_HAND", "ZOOM_IN",
      "SELECTRECT",        "CR_MOVE",         "BASEPOINT",          "CR_ROTATE",   "CR_ANCHOR",
      "CR_ANCHORLINE",     "CR_AIM",          "CR_ADDPOINT",        "CR_DELPOINT", "HAND_CLOSED",
      "HAND_OPENED",       "CR_ANCHORCROSS"};
  return names;
}

const QStringList& GridCursorNames() {
  static const QStringList names = {"CR_HGRIDMOVE", "CR_HGRIDSIZE", "CR_NODEDEL",
                                    "CR_NODEMOVE",  "CR_VGRIDMOVE", "CR_VGRIDSIZE"};
  return names;
}

void RegisterProgramCursors(TCursorTable& table) {
  table.RegisterCursor(crCross, QStringLiteral("CR_CROSS"));
  table.RegisterCursors(ToolCursorNames());
  const int edit = table.RegisterCursors(EditCursorNames());
  const int grid = table.RegisterCursors(GridCursorNames());
  // The tools refer to their cursors by these numbers.
  CheckInternal(edit == EditCursorBase && grid == GridCursorBase,
                QStringLiteral("RegisterProgramCursors"),
                QStringLiteral("курсоры зарегистрированы не по порядку"));
}

QCursor LoadCursorResource(const QString& name) {
  InitDrawingResources();
  const QImage image(QStringLiteral(":/cursors/%1.png").arg(name));
  if (image.isNull()) return QCursor(Qt::ArrowCursor);
  return QCursor(QPixmap::fromImage(image), image.text(QStringLiteral("HotSpotX")).toInt(),
                 image.text(QStringLiteral("HotSpotY")).toInt());
}
