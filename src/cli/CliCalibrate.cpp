#include "BmpFiles.h"
#include "CalibrateRaster.h"
#include "CliCommands.h"
#include "CliFindNodes.h"
#include "CliRasterOptions.h"
#include "MapOutputs.h"
#include "RasterManagers.h"

namespace {

int RunCalibrate(const QStringList& args) {
  const TCliRasterOptions options = ParseRasterOptions(args, TCliExtra::Grid);
  if (options.Positional.size() != 2)
    throw ECliUsage(QStringLiteral("нужны два файла: исходный и результат"));
  CheckOutputIsNoInput(options.Positional[1], QStringLiteral("результат"),
                       {{options.GridFile, QStringLiteral("файл сетки")}});
  for (const QString& name : WorldFileNames(options.Positional[1]))
    CheckOutputIsNoInput(name, QStringLiteral("файл привязки"),
                         {{options.Positional[0], QStringLiteral("растр")},
                          {options.GridFile, QStringLiteral("файл сетки")}});
  TCliRaster cli(options);
  const TSaveOptions save = cli.OutputFormat(options.Positional[1]);
  TRasterManager& raster = cli.Raster();
  TGridInfo grid = OpenRasterWithGrid(cli, options);
  if (options.FindNodes) FindAndPlaceNodes(raster, grid, options);
  CheckGridCalibrates(grid);
  if (save.Format == TRasterFormat::Bmp) {
    // A BMP's rows are written as the calibration makes them, without a copy of the raster.
    std::optional<TGridClip> clip;
    if (options.Clip) clip = FirstCellClip(grid);
    if (options.ClipFrame) clip = FrameClip(grid);
    std::optional<TRect> rect;
    if (clip) rect = clip->Rect;
    // The grid moves with the picture only where the clip cut anything, as the steps move it.
    TRect kept;
    const TGridInfo output = clip && raster.ClipRect(clip->Rect, kept) ? clip->Grid : grid;
    // The picture is regular in the sheet's centimetres then: one affine transform places it.
    TWorldFiles world(options.Positional[1], GridPlacement(output));
    SaveCalibratedRaster(raster, grid, rect, options.Positional[1]);
    world.Commit();
  } else {
    CalibrateRaster(raster, grid);
    if (options.Clip) ClipRasterToGrid(raster, grid);
    if (options.ClipFrame) ClipRasterToGridFrame(raster, grid);
    SaveOnTheMap(raster, options.Positional[1], save, GridPlacement(grid));
  }
  return 0;
}

}  // namespace

TCliCommand CliCalibrateCommand() {
  return {
      QStringLiteral("calibrate"),
      QStringLiteral("calibrate IN OUT.bmp|OUT.tif --grid GRID.json [--find-nodes] "
                     "[--clip | --clip-frame] [--compress deflate|lzw|none] [--cache KB]"),
      QStringLiteral("выпрямить растр по сетке с перемещёнными узлами и сохранить"),
      QStringLiteral(
          "Читает растр (BMP, TIFF, PNG, JPEG или страницу PDF), накладывает эталонную\n"
          "сетку из файла GRID.json, калибрует растр так, что перемещённые узлы\n"
          "возвращаются на эталонную сетку, и сохраняет результат в BMP или TIFF, смотря\n"
          "по расширению, через временный файл рядом с ним (OUT.XXXXXX.~bm). При ошибке\n"
          "файл результата не создаётся и не меняется.\n"
          "  --grid FILE   файл сетки (JSON):\n"
          "                { \"cells\": [CX, CY],\n"
          "                  \"origin\": [X, Y], \"step\": [SX, SY],   (в пикселях растра)\n"
          "                  или \"paper\": {\"left\": L, \"top\": T, \"width\": W, \"height\": "
          "H},\n"
          "                                                       (в сантиметрах бумаги)\n"
          "                  \"nodes\": [{\"i\": I, \"j\": J, \"x\": X, \"y\": Y}, ...] }\n"
          "                узел (I, J) лежит на растре в точке (X, Y); остальные узлы на месте\n"
          "                \"map\": {\"crs\": \"EPSG:28407\", \"x\": E, \"y\": N, \"step\": [SX, "
          "SY]}\n"
          "                - координаты узла (0, 0) на карте и шаг сетки на местности, м;\n"
          "                тогда рядом с OUT.bmp пишутся OUT.bpw, OUT.wld, OUT.prj и\n"
          "                OUT.bmp.aux.xml, по которым ГИС помещают растр на карту\n"
          "  --find-nodes  сначала найти на растре пересечения линий сетки у узлов и\n"
          "                перенести туда узлы, как find-nodes; печатает ненайденные\n"
          "  --clip        после калибровки отсечь растр по первой ячейке сетки\n"
          "  --clip-frame  после калибровки отсечь растр по рамке всей сетки, от пикселя\n"
          "                первого узла до пикселя последнего включительно\n"
          "  --compress C  сжатие TIFF: deflate (по умолчанию), lzw или none\n") +
          CliPageHelp() +
          QStringLiteral("  --cache KB    память для частей растра, Кб (по умолчанию 5120)\n"
                         "  --progress    показывать ход работы, даже когда stderr не терминал\n"
                         "  --quiet       не показывать ход работы и ненайденные узлы"),
      &RunCalibrate};
}
