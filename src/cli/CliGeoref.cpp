#include "CliCommands.h"
#include "CliFindNodes.h"
#include "CliRasterOptions.h"
#include "GroundControlPoints.h"
#include "RasterManagers.h"

#include <QFileInfo>

namespace {

int RunGeoref(const QStringList& args) {
  const TCliRasterOptions options = ParseRasterOptions(args, TCliExtra::Grid);
  if (options.Positional.size() != 2)
    throw ECliUsage(QStringLiteral("нужны два файла: исходный растр и файл опорных точек"));
  if (options.Clip || options.ClipFrame)
    throw ECliUsage(QStringLiteral("опорные точки пишутся для растра как он есть, без обрезки"));
  const QString& output = options.Positional[1];
  if (QFileInfo(output).suffix().compare(QStringLiteral("points"), Qt::CaseInsensitive) != 0)
    throw ECliUsage(QStringLiteral("файл опорных точек должен называться *.points"));
  CheckOutputIsNoInput(output, QStringLiteral("файл опорных точек"),
                       {{options.Positional[0], QStringLiteral("растр")},
                        {options.GridFile, QStringLiteral("файл сетки")}});
  TCliRaster cli(options);
  TGridInfo grid = OpenRasterWithGrid(cli, options);
  if (!grid.Map)
    throw Exception(QStringLiteral("В файле сетки %1 нет координат на карте (\"map\"): узлам "
                                   "нечего сопоставить")
                        .arg(options.GridFile));
  if (options.FindNodes) FindAndPlaceNodes(cli.Raster(), grid, options);
  WriteQgisPoints(output, GridControlPoints(grid), grid.Map->Crs);
  return 0;
}

}  // namespace

TCliCommand CliGeorefCommand() {
  return {QStringLiteral("georef"),
          QStringLiteral("georef IN OUT.points --grid GRID.json [--find-nodes] [--cache KB]"),
          QStringLiteral("записать узлы сетки как опорные точки для привязки растра в ГИС"),
          QStringLiteral(
              "Для растра, который не калибруется здесь, а трансформируется в ГИС: читает растр\n"
              "и сетку с координатами на карте (\"map\") из GRID.json и записывает каждый узел\n"
              "как опорную точку: центр пикселя, на котором стоит узел, и его координаты на\n"
              "карте. OUT.points - файл опорных точек модуля привязки QGIS (в первой строке\n"
              "система координат). Файл записывается через временный файл.\n"
              "  --grid FILE   файл сетки (JSON), как у calibrate, с полем \"map\"\n"
              "  --find-nodes  сначала найти пересечения линий сетки у узлов, как find-nodes\n"
              "  --cache KB    память для частей растра, Кб (по умолчанию 5120)\n"
              "  --progress    показывать ход работы, даже когда stderr не терминал\n"
              "  --quiet       не показывать ход работы и ненайденные узлы"),
          &RunGeoref};
}
