#include "Canvases.h"

#include "RecArrays.h"

#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace {

// The dashes and gaps of the styled pens, in pixels.
const QList<qreal>& DashPattern(TPenStyle style) {
  static const QList<qreal> patterns[] = {{18, 6}, {3, 3}, {9, 6, 3, 6}, {9, 3, 3, 3, 3, 3}};
  return patterns[style - psDash];
}

// The lines of the hatch brushes: set bits are painted in the brush colour.
constexpr TPattern kHatches[] = {
    {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFF, 0x00},  // horizontal
    {0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08},  // vertical
    {0x80, 0x40, 0x20, 0x10, 0x08, 0x04, 0x02, 0x01},  // forward diagonal
    {0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80},  // backward diagonal
    {0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0xFF, 0x08},  // cross
    {0x81, 0x42, 0x24, 0x18, 0x18, 0x24, 0x42, 0x81},  // diagonal cross
};

QImage PatternImage(const TPattern& pattern, QRgb zero, QRgb one, QImage::Format format) {
  QImage image(8, 8, format);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) image.setPixel(x, y, (pattern[y] >> (7 - x)) & 1 ? one : zero);
  return image;
}

QPainter::CompositionMode MixMode(TPenMode mode) {
  switch (mode) {
    case pmBlack:
      return QPainter::RasterOp_ClearDestination;
    case pmWhite:
      return QPainter::RasterOp_SetDestination;
    case pmNot:
      return QPainter::RasterOp_NotDestination;
    case pmNotCopy:
      return QPainter::RasterOp_NotSource;
    case pmMergePenNot:
      return QPainter::RasterOp_SourceOrNotDestination;
    case pmMaskPenNot:
      return QPainter::RasterOp_SourceAndNotDestination;
    case pmMergeNotPen:
      return QPainter::RasterOp_NotSourceOrDestination;
    case pmMaskNotPen:
      return QPainter::RasterOp_NotSourceAndDestination;
    case pmMerge:
      return QPainter::RasterOp_SourceOrDestination;
    case pmNotMerge:
      return QPainter::RasterOp_NotSourceAndNotDestination;
    case pmMask:
      return QPainter::RasterOp_SourceAndDestination;
    case pmNotMask:
      return QPainter::RasterOp_NotSourceOrNotDestination;
    case pmXor:
      return QPainter::RasterOp_SourceXorDestination;
    case pmNotXor:
      return QPainter::RasterOp_NotSourceXorDestination;
    default:
      return QPainter::CompositionMode_SourceOver;
  }
}

QPainter::CompositionMode PictureMode(TCopyMode mode) {
  switch (mode) {
    case cmSrcAnd:
      return QPainter::RasterOp_SourceAndDestination;
    case cmSrcPaint:
      return QPainter::RasterOp_SourceOrDestination;
    case cmSrcInvert:
      return QPainter::RasterOp_SourceXorDestination;
    default:
      return QPainter::CompositionMode_Source;
  }
}

// A thin pen leaves out the last pixel of a line, as the platform's lines do.
QPen ThinPen(const QColor& color) {
  QPen pen(color, 0);
  pen.setCapStyle(Qt::FlatCap);
  return pen;
}

}  // namespace

TCanvas::TCanvas(QImage& image) : FImage(image) {
  CheckInternal(image.format() == QImage::Format_RGB32, QStringLiteral("TCanvas"),
                QStringLiteral("поверхность рисования не в формате RGB32"));
  FPainter.begin(&FImage);
  FPainter.setRenderHint(QPainter::Antialiasing, false);
}

TCanvas::~TCanvas() {
  FPainter.end();
}

void TCanvas::SetClipRect(const TRect& r) {
  FClip = r;
  FPainter.setClipRect(QRect(r.Left, r.Top, r.Width(), r.Height()));
}

void TCanvas::ResetClip() {
  FClip.reset();
  FPainter.setClipping(false);
}

void TCanvas::Touch(QRect r) {
  const int reach = std::max(1, Pen.Width);
  FTouched |= r.adjusted(-reach, -reach, reach, reach) & FImage.rect();
}

void TCanvas::TouchPoints(const TPoint* points, int32_t count) {
  if (count <= 0) return;
  int left = points[0].X, top = points[0].Y, right = left, bottom = top;
  for (int32_t i = 1; i < count; ++i) {
    left = std::min(left, points[i].X);
    right = std::max(right, points[i].X);
    top = std::min(top, points[i].Y);
    bottom = std::max(bottom, points[i].Y);
  }
  Touch(QRect(QPoint(left, top), QPoint(right, bottom)));
}

TRect TCanvas::Touched() const {
  return FTouched.isEmpty()
             ? TRect{}
             : TRect{FTouched.left(), FTouched.top(), FTouched.right() + 1, FTouched.bottom() + 1};
}

TRect TCanvas::ClipBox() const {
  const TRect whole{0, 0, FImage.width(), FImage.height()};
  if (!FClip) return whole;
  TRect r{std::max(FClip->Left, 0), std::max(FClip->Top, 0), std::min(FClip->Right, whole.Right),
          std::min(FClip->Bottom, whole.Bottom)};
  if (r.Left >= r.Right || r.Top >= r.Bottom) r = TRect{};
  return r;
}

bool TCanvas::ApplyMode() {
  if (Pen.Mode == pmNop) return false;
  FPainter.setCompositionMode(MixMode(Pen.Mode));
  return true;
}

QBrush TCanvas::MakeBrush() const {
  if (Brush.Pattern)
    return QBrush(PatternImage(*Brush.Pattern, ColorToQColor(TextColor).rgb(),
                               ColorToQColor(BackgroundColor).rgb(), QImage::Format_RGB32));
  if (Brush.Style == bsClear) return Qt::NoBrush;
  const QColor color = ColorToQColor(Brush.Color);
  if (Brush.Style == bsSolid || Brush.Style > bsDiagCross) return QBrush(color);
  const bool opaque = BackgroundMode == bkOpaque;
  return QBrush(PatternImage(kHatches[Brush.Style - bsHorizontal],
                             opaque ? ColorToQColor(BackgroundColor).rgb() : 0, color.rgb(),
                             opaque ? QImage::Format_RGB32 : QImage::Format_ARGB32));
}

template <typename Stroke>
void TCanvas::StrokePasses(Stroke stroke) {
  if (Pen.Style == psClear) return;
  FPainter.setBrush(Qt::NoBrush);
  const QColor color = ColorToQColor(Pen.Color);
  if (Pen.Width > 1) {
    // Wide lines are solid whatever their style, with round ends and joins.
    FPainter.setPen(QPen(color, Pen.Width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    stroke();
    return;
  }
  if (Pen.Style < psDash || Pen.Style > psDashDotDot) {
    FPainter.setPen(ThinPen(color));
    stroke();
    return;
  }
  const QList<qreal>& dashes = DashPattern(Pen.Style);
  if (BackgroundMode == bkOpaque) {
    // The gaps are the dashes of the pattern shifted by its first dash.
    QList<qreal> gaps(dashes.begin() + 1, dashes.end());
    gaps.append(dashes.front());
    qreal period = 0;
    for (qreal d : dashes) period += d;
    QPen pen = ThinPen(ColorToQColor(BackgroundColor));
    pen.setDashPattern(gaps);
    pen.setDashOffset(period - dashes.front());
    FPainter.setPen(pen);
    stroke();
  }
  QPen pen = ThinPen(color);
  pen.setDashPattern(dashes);
  FPainter.setPen(pen);
  stroke();
}

void TCanvas::StoreFigure(const TPoint* points, int32_t count) {
  FFigure.resize(static_cast<size_t>(count));
  for (int32_t i = 0; i < count; ++i) FFigure[i] = QPoint(points[i].X, points[i].Y);
}

void TCanvas::PolyPolygon(const TPoint* points, const int32_t* counts, int32_t figures) {
  if (!ApplyMode()) return;
  int32_t total = 0;
  for (int32_t f = 0; f < figures; ++f) total += std::max(0, counts[f]);
  TouchPoints(points, total);
  QPainterPath path;
  path.setFillRule(Qt::OddEvenFill);
  for (int32_t f = 0; f < figures; points += counts[f], ++f) {
    if (counts[f] <= 0) continue;
    path.moveTo(points[0].X, points[0].Y);
    for (int32_t i = 1; i < counts[f]; ++i) path.lineTo(points[i].X, points[i].Y);
    path.closeSubpath();
  }
  const QBrush brush = MakeBrush();
  if (brush.style() != Qt::NoBrush) {
    FPainter.setPen(Qt::NoPen);
    FPainter.setBrush(brush);
    FPainter.drawPath(path);
  }
  StrokePasses([&] { FPainter.drawPath(path); });
}

void TCanvas::PolyPolyline(const TPoint* points, const int32_t* counts, int32_t figures) {
  if (!ApplyMode()) return;
  int32_t total = 0;
  for (int32_t f = 0; f < figures; ++f) total += std::max(0, counts[f]);
  TouchPoints(points, total);
  for (int32_t f = 0; f < figures; points += counts[f], ++f) {
    if (counts[f] <= 0) continue;
    StoreFigure(points, counts[f]);
    StrokePasses([&] { FPainter.drawPolyline(FFigure.data(), static_cast<int>(FFigure.size())); });
  }
}

void TCanvas::FillRect(const TRect& r) {
  Touch(QRect(r.Left, r.Top, r.Width(), r.Height()));
  FPainter.setCompositionMode(QPainter::CompositionMode_SourceOver);
  FPainter.fillRect(QRect(r.Left, r.Top, r.Width(), r.Height()), MakeBrush());
}

void TCanvas::DrawFocusRect(const TRect& r) {
  if (r.Width() <= 0 || r.Height() <= 0) return;
  Touch(QRect(r.Left, r.Top, r.Width(), r.Height()));
  FFigure.clear();
  const auto dot = [&](int32_t x, int32_t y) {
    if (((x + y) & 1) == 0) FFigure.emplace_back(x, y);
  };
  const int32_t right = r.Right - 1;
  const int32_t bottom = r.Bottom - 1;
  // Every pixel of the edge once, so that each call inverts the same pixels.
  for (int32_t x = r.Left; x <= right; ++x) {
    dot(x, r.Top);
    if (bottom != r.Top) dot(x, bottom);
  }
  for (int32_t y = r.Top + 1; y < bottom; ++y) {
    dot(r.Left, y);
    if (right != r.Left) dot(right, y);
  }
  FPainter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
  FPainter.setPen(QPen(Qt::white, 0));
  FPainter.drawPoints(FFigure.data(), static_cast<int>(FFigure.size()));
}

void TCanvas::Draw(int32_t x, int32_t y, const QImage& picture) {
  Touch(QRect(QPoint(x, y), picture.size()));
  FPainter.setCompositionMode(PictureMode(CopyMode));
  FPainter.drawImage(QPoint(x, y), picture);
}

void TCanvas::StretchDib(const QTransform& toDevice, const QRectF& target, const QImage& picture,
                         const QRectF& source) {
  Touch(toDevice.mapRect(target).toAlignedRect());
  const double scale = std::sqrt(std::fabs(toDevice.determinant())) * target.width() /
                       std::max(source.width(), 1e-300);
  FPainter.setCompositionMode(QPainter::CompositionMode_Source);
  FPainter.setRenderHint(QPainter::SmoothPixmapTransform, scale < 1 - 1e-9);
  FPainter.setTransform(toDevice);
  FPainter.drawImage(target, picture, source);
  FPainter.resetTransform();
}
