#include "GroundControlPoints.h"

#include "CoordinateSystems.h"
#include "FileUtils.h"
#include "Streams.h"

#include <QLocale>
#include <QStringList>

std::vector<TGroundControlPoint> GridControlPoints(const TGridInfo& grid) {
  const TGridMap& map = *grid.Map;
  std::vector<TGroundControlPoint> points;
  points.reserve(static_cast<size_t>(grid.NX) * static_cast<size_t>(grid.NY));
  for (int32_t j = 0; j < grid.NY; ++j)
    for (int32_t i = 0; i < grid.NX; ++i) {
      const TPoint at = grid.NodePos(i, j);
      points.push_back(TGroundControlPoint{at.X + 0.5, at.Y + 0.5, map.X + i * map.StepX,
                                           map.Y - j * map.StepY});
    }
  return points;
}

void WriteQgisPoints(const QString& fileName, const std::vector<TGroundControlPoint>& points,
                     const QString& crs) {
  const auto number = [](double value) {
    return QString::number(value, 'g', QLocale::FloatingPointShortest);
  };
  QString text = QStringLiteral("#CRS: %1\nmapX,mapY,sourceX,sourceY,enable,dX,dY,residual\n")
                     .arg(CoordinateSystemWkt(crs, TWktDialect::Standard));
  for (const TGroundControlPoint& point : points)
    text += QStringList{number(point.MapX), number(point.MapY), number(point.PixelX),
                        number(-point.PixelY), QStringLiteral("1,0,0,0")}
                .join(u',') +
            u'\n';
  const QByteArray bytes = text.toUtf8();
  TReplacementFile file(fileName);
  file.Stream().WriteBuffer(bytes.constData(), bytes.size());
  file.Commit(QStringLiteral("Ошибка при переименовании файла опорных точек"));
}
