#include "CalibrateRaster.h"
#include "CliBatchSheets.h"
#include "CliCommands.h"
#include "CliFindNodes.h"
#include "CliRasterOptions.h"
#include "FileUtils.h"
#include "FindNodes.h"
#include "MapOutputs.h"
#include "RasterManagers.h"
#include "Streams.h"
#include "WorldFiles.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QThread>

#include <algorithm>
#include <cmath>

namespace {

// Scans below this many bytes are small: several are done at once, one on each core. A larger
// scan keeps every core busy by itself, in its search and its calibration.
constexpr qint64 kSmallScan = 32 << 20;

struct TBatchOptions {
  TCliRasterOptions Raster;
  QString List;
  QString Summary;
  std::vector<int> Sheets;  // --sheet: these alone, counted from 1
  int Jobs = 0;             // 0: chosen by the scans' sizes
  double MinConfidence = 0.5;
};

TBatchOptions ParseBatchOptions(const QStringList& args) {
  TBatchOptions options;
  QStringList rest;
  for (qsizetype i = 0; i < args.size(); ++i) {
    const QString& arg = args[i];
    const bool valued = arg == QLatin1String("--sheet") || arg == QLatin1String("--jobs") ||
                        arg == QLatin1String("--min-confidence") ||
                        arg == QLatin1String("--summary");
    if (!valued) {
      rest << arg;
      continue;
    }
    if (i + 1 >= args.size())
      throw ECliUsage(QStringLiteral("после %1 не хватает значения").arg(arg));
    const QString value = args[++i];
    bool ok = true;
    if (arg == QLatin1String("--summary")) {
      options.Summary = value;
    } else if (arg == QLatin1String("--min-confidence")) {
      options.MinConfidence = value.toDouble(&ok);
      ok = ok && options.MinConfidence >= 0 && options.MinConfidence <= 1;
    } else if (arg == QLatin1String("--sheet")) {
      for (const QString& part : value.split(u',')) {
        const int number = part.toInt(&ok);
        if (!(ok = ok && number >= 1)) break;
        options.Sheets.push_back(number);
      }
    } else {
      options.Jobs = value.toInt(&ok);
      ok = ok && options.Jobs >= 1 && options.Jobs <= 100000;
    }
    if (!ok) throw ECliUsage(QStringLiteral("неверное значение %1: \"%2\"").arg(arg, value));
  }
  options.Raster = ParseRasterOptions(rest, TCliExtra::None);
  if (options.Raster.Positional.size() != 1)
    throw ECliUsage(QStringLiteral("нужен один список листов LIST.csv"));
  options.List = options.Raster.Positional[0];
  if (options.Summary.isEmpty()) {
    const QFileInfo list(options.List);
    options.Summary = list.path() + u'/' + list.completeBaseName() + QStringLiteral(".summary.csv");
  }
  return options;
}

// The largest distance of a node from its place on the lattice.
double LargestOffset(const TGridInfo& grid) {
  double largest = 0;
  for (int32_t j = 0; j < grid.NY; ++j)
    for (int32_t i = 0; i < grid.NX; ++i) {
      const TPoint offset = grid.NodeAt(i, j).Offset;
      largest = std::max(largest, std::hypot(double(offset.X), double(offset.Y)));
    }
  return largest;
}

// Finds the nodes, calibrates, clips to the grid's frame and writes the result (placed on the map
// when the grid has map coordinates); the report says how sure the search was.
TSheetReport CalibrateSheet(const TBatchSheet& sheet, const TBatchOptions& batch) {
  TCliRasterOptions options = batch.Raster;
  options.Positional = {sheet.Scan, sheet.Output};
  options.GridFile = sheet.Grid;
  CheckOutputIsNoInput(sheet.Output, QStringLiteral("результат"),
                       {{sheet.Grid, QStringLiteral("файл сетки")}});
  TCliRaster cli(options);
  const TSaveOptions save = cli.OutputFormat(sheet.Output);
  TRasterManager& raster = cli.Raster();
  TGridInfo grid = OpenRasterWithGrid(cli, options);
  if (sheet.MapX) {
    if (!grid.Map)
      throw Exception(QStringLiteral("В файле сетки %1 нет координат на карте (\"map\"), а "
                                     "список задаёт их листу")
                          .arg(sheet.Grid));
    grid.Map->X = *sheet.MapX;
    grid.Map->Y = *sheet.MapY;
  }
  const TNodeSearch search = FindGridNodes(raster, grid);
  const TAppliedNodes applied = ApplyFoundNodes(grid, search);
  TSheetReport report;
  report.Searched = search.SearchedCount();
  report.Found = applied.Found;
  for (const TPoint& node : applied.NotFound) report.Missed.emplace_back(node.X, node.Y);
  for (const TFoundNode& node : search.Nodes)
    if (node.Finding == TNodeFinding::Found)
      report.LeastConfidence = std::min(report.LeastConfidence.value_or(1.0), node.Confidence);
  report.LargestOffset = LargestOffset(grid);
  CheckGridCalibrates(grid);
  CalibrateRaster(raster, grid);
  ClipRasterToGridFrame(raster, grid);
  SaveOnTheMap(raster, sheet.Output, save, GridPlacement(grid));
  if (!report.Missed.empty()) {
    report.Status = TSheetStatus::Check;
    report.Message = QStringLiteral("не найдено узлов: %1").arg(report.Missed.size());
  } else if (report.LeastConfidence && *report.LeastConfidence < batch.MinConfidence) {
    report.Status = TSheetStatus::Check;
    report.Message = QStringLiteral("узел найден с уверенностью %1 < %2")
                         .arg(*report.LeastConfidence, 0, 'f', 2)
                         .arg(batch.MinConfidence, 0, 'f', 2);
  } else {
    report.Status = TSheetStatus::Done;
  }
  return report;
}

// Does one sheet whatever happens to it, and writes its report last.
TSheetReport RunSheet(const TBatchSheet& sheet, const TBatchOptions& batch) {
  QElapsedTimer timer;
  timer.start();
  TSheetReport report;
  try {
    report = CalibrateSheet(sheet, batch);
  } catch (const Exception& e) {
    report = TSheetReport{};
    report.Message = e.Message();
  } catch (const ECliUsage& e) {
    report = TSheetReport{};
    report.Message = e.Message();
  } catch (const std::bad_alloc&) {
    report = TSheetReport{};
    report.Message = QStringLiteral("недостаточно памяти");
  }
  report.Seconds = timer.elapsed() / 1000.0;
  report.Files = SheetFiles(sheet);
  WriteSheetReport(sheet, report);
  return report;
}

void PrintSheet(const TBatchOptions& batch, int index, int count, const TBatchSheet& sheet,
                const TSheetReport& report, bool skipped) {
  if (batch.Raster.Quiet) return;
  QString line = QStringLiteral("[%1/%2] %3: ").arg(index).arg(count).arg(sheet.Scan);
  if (skipped)
    line += QStringLiteral("уже сделан");
  else if (report.Status == TSheetStatus::Done)
    line += QStringLiteral("найдено %1 из %2 узлов").arg(report.Found).arg(report.Searched);
  else if (report.Status == TSheetStatus::Check)
    line += QStringLiteral("нужна проверка: %1").arg(report.Message);
  else
    line += QStringLiteral("ошибка: %1").arg(report.Message);
  CliPrint(stdout, line + u'\n');
  std::fflush(stdout);
}

QString CsvField(const QString& text) {
  if (!text.contains(u',') && !text.contains(u'"') && !text.contains(u'\n')) return text;
  return u'"' + QString(text).replace(u'"', QStringLiteral("\"\"")).replace(u'\n', u' ') + u'"';
}

void WriteSummary(const TBatchOptions& batch, const std::vector<TBatchSheet>& sheets,
                  const std::vector<TSheetReport>& reports) {
  QString text = QStringLiteral(
      "scan,output,status,searched,found,missed,least_confidence,largest_offset_px,seconds,"
      "message\n");
  for (size_t k = 0; k < sheets.size(); ++k) {
    const TSheetReport& report = reports[k];
    QStringList missed;
    for (const auto& [i, j] : report.Missed) missed << QStringLiteral("(%1 %2)").arg(i).arg(j);
    text += QStringList{CsvField(sheets[k].Scan),
                        CsvField(sheets[k].Output),
                        StatusName(report.Status),
                        QString::number(report.Searched),
                        QString::number(report.Found),
                        missed.join(u' '),
                        report.LeastConfidence ? QString::number(*report.LeastConfidence, 'f', 3)
                                               : QString(),
                        QString::number(report.LargestOffset, 'f', 1),
                        QString::number(report.Seconds, 'f', 2),
                        CsvField(report.Message)}
                .join(u',') +
            u'\n';
  }
  const QByteArray bytes = text.toUtf8();
  TReplacementFile file(batch.Summary);
  file.Stream().WriteBuffer(bytes.constData(), bytes.size());
  file.Commit(QStringLiteral("Ошибка при переименовании сводки"));
}

// The sheets still to do, by JOBS velmora-cli of their own at once, each taking every JOBS-th of
// them in turn: a process per core rather than per sheet, since starting one costs as much as a
// small sheet.
void RunChildren(const TBatchOptions& batch, const std::vector<int>& pending, int jobs) {
  std::vector<std::unique_ptr<QProcess>> running;
  for (int job = 0; job < jobs; ++job) {
    QStringList sheets;
    for (size_t k = size_t(job); k < pending.size(); k += size_t(jobs))
      sheets << QString::number(pending[k] + 1);
    auto child = std::make_unique<QProcess>();
    child->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child->setStandardOutputFile(QProcess::nullDevice());
    child->start(QCoreApplication::applicationFilePath(),
                 {QStringLiteral("batch"), batch.List, QStringLiteral("--cache"),
                  QString::number(batch.Raster.CacheSize / 1024),
                  QStringLiteral("--min-confidence"), QString::number(batch.MinConfidence),
                  QStringLiteral("--quiet"), QStringLiteral("--sheet"), sheets.join(u',')});
    running.push_back(std::move(child));
  }
  for (const std::unique_ptr<QProcess>& child : running) child->waitForFinished(-1);
}

// The sheets of --sheet alone, one after another; the exit code of the worst of them.
int RunChosenSheets(const TBatchOptions& batch, const std::vector<TBatchSheet>& sheets) {
  const int count = static_cast<int>(sheets.size());
  int code = 0;
  for (const int index : batch.Sheets) {
    if (index > count)
      throw ECliUsage(QStringLiteral("в списке %1 всего %2 листов").arg(batch.List).arg(count));
    const TBatchSheet& sheet = sheets[size_t(index - 1)];
    const std::optional<TSheetReport> old = ReadSheetReport(sheet);
    const bool skipped = old && SheetComplete(sheet, *old);
    const TSheetReport report = skipped ? *old : RunSheet(sheet, batch);
    PrintSheet(batch, index, count, sheet, report, skipped);
    if (report.Status == TSheetStatus::Error)
      code = 1;
    else if (report.Status == TSheetStatus::Check && code == 0)
      code = 3;
  }
  return code;
}

int RunBatch(const QStringList& args) {
  const TBatchOptions batch = ParseBatchOptions(args);
  const std::vector<TBatchSheet> sheets = ReadBatchList(batch.List);
  if (!batch.Sheets.empty()) return RunChosenSheets(batch, sheets);
  const int count = static_cast<int>(sheets.size());

  std::vector<int> pending;
  qint64 largest = 0;
  for (int k = 0; k < count; ++k) {
    const std::optional<TSheetReport> old = ReadSheetReport(sheets[size_t(k)]);
    if (old && SheetComplete(sheets[size_t(k)], *old)) continue;
    pending.push_back(k);
    largest = std::max(largest, QFileInfo(sheets[size_t(k)].Scan).size());
  }
  const int cores = std::max(1, QThread::idealThreadCount());
  const int jobs = std::min(batch.Jobs             ? batch.Jobs
                            : largest < kSmallScan ? cores
                                                   : 1,
                            static_cast<int>(pending.size()));
  if (jobs > 1) RunChildren(batch, pending, jobs);

  std::vector<TSheetReport> reports;
  int errors = 0, checks = 0;
  for (int k = 0; k < count; ++k) {
    const TBatchSheet& sheet = sheets[size_t(k)];
    const bool wasPending = std::find(pending.begin(), pending.end(), k) != pending.end();
    std::optional<TSheetReport> report = ReadSheetReport(sheet);
    const bool done = report && SheetComplete(sheet, *report);
    if (!done && !(jobs > 1 && report)) report = RunSheet(sheet, batch);
    PrintSheet(batch, k + 1, count, sheet, *report, !wasPending);
    errors += report->Status == TSheetStatus::Error;
    checks += report->Status == TSheetStatus::Check;
    reports.push_back(*report);
  }
  WriteSummary(batch, sheets, reports);
  if (!batch.Raster.Quiet)
    CliPrint(stdout, QStringLiteral("Листов: %1, готово: %2, нужна проверка: %3, ошибок: %4\n")
                         .arg(count)
                         .arg(count - checks - errors)
                         .arg(checks)
                         .arg(errors));
  return errors ? 1 : checks ? 3 : 0;
}

}  // namespace

TCliCommand CliBatchCommand() {
  return {QStringLiteral("batch"),
          QStringLiteral("batch LIST.csv [--jobs N] [--sheet K[,K...]] [--min-confidence C] "
                         "[--summary FILE] [--cache KB]"),
          QStringLiteral("выпрямить, обрезать по рамке и привязать к карте целый архив листов"),
          QStringLiteral(
              "Для каждого листа списка LIST.csv (строки \"скан,сетка,результат\" или\n"
              "\"скан,сетка,результат,x,y\", имена относительно папки списка) находит узлы\n"
              "сетки, калибрует, обрезает по рамке сетки и записывает результат, привязанный\n"
              "к карте, когда у сетки есть координаты на карте (\"map\"); x, y заменяют\n"
              "координаты первого узла, так что один файл сетки служит шаблоном для серии.\n"
              "Последним пишется отчёт о листе, РЕЗУЛЬТАТ.report.json; лист, чей отчёт\n"
              "говорит, что он записан, и чьи файлы с тех пор не менялись, пропускается,\n"
              "поэтому прерванный запуск продолжается с того места. В конце пишется сводка\n"
              "LIST.summary.csv: найденные и ненайденные узлы, наименьшая уверенность,\n"
              "наибольшее смещение узла, время.\n"
              "  --jobs N      сколько листов делать одновременно (по умолчанию: по листу на\n"
              "                ядро, если сканы небольшие, иначе по одному на всех ядрах)\n"
              "  --sheet K[,K...]  сделать только K-й лист списка (для GNU parallel, Slurm)\n"
              "                или перечисленные, один за другим\n"
              "  --min-confidence C  узел, найденный с меньшей уверенностью (0..1, по\n"
              "                умолчанию 0.5), требует проверки человеком\n"
              "  --summary FILE  куда писать сводку\n"
              "  --cache KB    память для частей растра каждого листа, Кб (по умолчанию 5120)\n"
              "  --quiet       ничего не печатать, кроме ошибок\n"
              "Код завершения: 0 - все листы готовы, 3 - есть листы, которые должен\n"
              "проверить человек, 1 - есть листы с ошибкой (например, испорченный файл)."),
          &RunBatch};
}
