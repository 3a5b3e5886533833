#include "CliFindNodes.h"

#include "CliCommands.h"
#include "CliRasterOptions.h"
#include "FindNodes.h"
#include "GridFiles.h"
#include "NodeReports.h"
#include "RasterManagers.h"

namespace {

// Each list of the report names this many nodes and counts the rest: a fine grid that does not fit
// a large scan would list hundreds of thousands.
constexpr int kReportedNodes = 20;

}  // namespace

TGridInfo OpenRasterWithGrid(TCliRaster& cli, const TCliRasterOptions& options) {
  if (options.GridFile.isEmpty())
    throw ECliUsage(QStringLiteral("нужен файл сетки: --grid GRID.json"));
  const TGridFile gridFile = ReadGridFile(options.GridFile);
  TRasterManager& raster = cli.Raster();
  cli.Open(options.Positional[0]);
  // The calibration and the search read and write pixels by colour, which these depths have.
  const int bits = raster.BitsPerPixel();
  if (bits != 1 && bits != 4 && bits != 8 && bits != 24)
    throw Exception(QStringLiteral("Растр %1: при %2 %3 на пиксель калибровка и поиск узлов "
                                   "невозможны, нужен растр 1, 4, 8 или 24 битов на пиксель")
                        .arg(options.Positional[0])
                        .arg(bits)
                        .arg(PluralForm(bits, QStringLiteral("бите"), QStringLiteral("битах"),
                                        QStringLiteral("битах"))));
  return MakeGrid(gridFile, raster);
}

void FindAndPlaceNodes(TRasterManager& raster, TGridInfo& grid, const TCliRasterOptions& options) {
  const TNodeSearch search = FindGridNodes(raster, grid);
  ApplyFoundNodes(grid, search);
  if (options.Quiet) return;
  CliPrint(stdout, NodeSearchReport(search, kReportedNodes).join('\n') + '\n');
}

namespace {

int RunFindNodes(const QStringList& args) {
  const TCliRasterOptions options = ParseRasterOptions(args, TCliExtra::NodeSearch);
  if (options.Positional.size() != 2)
    throw ECliUsage(QStringLiteral("нужны два файла: растр и файл сетки для результата"));
  CheckOutputIsNoInput(options.Positional[1], QStringLiteral("результат"),
                       {{options.Positional[0], QStringLiteral("растр")}});
  TCliRaster cli(options);
  TGridInfo grid = OpenRasterWithGrid(cli, options);
  FindAndPlaceNodes(cli.Raster(), grid, options);
  WriteGridFile(options.Positional[1], grid);
  return 0;
}

}  // namespace

TCliCommand CliFindNodesCommand() {
  return {
      QStringLiteral("find-nodes"),
      QStringLiteral("find-nodes IN --grid GRID.json OUT.json [--cache KB]"),
      QStringLiteral("найти на растре пересечения линий сетки и записать сетку с узлами на них"),
      QStringLiteral("Читает растр и эталонную сетку из файла GRID.json, находит у каждого узла\n"
                     "пересечение линий сетки, которое показывает растр (сплошные линии или\n"
                     "крестики, тёмные на светлом), и переносит туда узел. Узлы, перемещённые в\n"
                     "GRID.json, остаются на месте и помогают найти соседние. Узел, пересечение\n"
                     "которого не найдено уверенно, остаётся на месте. Печатает, сколько узлов\n"
                     "найдено, и каждый ненайденный узел (I, J). Записывает сетку в OUT.json:\n"
                     "\"origin\" и \"step\" в пикселях растра и все перемещённые узлы; этот файл\n"
                     "принимает calibrate. Файл OUT.json записывается через временный файл.\n"
                     "  --grid FILE   файл сетки (JSON), как у calibrate\n") +
          CliPageHelp() +
          QStringLiteral("  --cache KB    память для частей растра, Кб (по умолчанию 5120)\n"
                         "  --progress    показывать ход работы, даже когда stderr не терминал\n"
                         "  --quiet       ничего не печатать, кроме ошибок"),
      &RunFindNodes};
}
