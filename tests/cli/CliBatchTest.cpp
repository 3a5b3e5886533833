// velmora-cli batch over an archive of sheets: stopped and started again, with sheets that need a
// person and a file that is no scan.
#include "CliTestUtils.h"
#include "GridScans.h"
#include "QtPrinters.h"
#include "RasterTestUtils.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <set>

namespace {

constexpr int kSheets = 20;
// Sheets whose crossing (1, 1) is lost under a white patch, and a sheet whose file is no scan.
const std::set<int> kHidden = {5, 12};
constexpr int kCorrupt = 17;
// The sheet done before the batch starts.
constexpr int kDone = 3;

constexpr double kEasting = 7400000, kNorthing = 6200000;

TGridSheet Sheet(int k) {
  TGridSheet sheet;
  sheet.Width = 480;
  sheet.Height = 380;
  sheet.CellsX = 3;
  sheet.CellsY = 2;
  sheet.OriginX = 70;
  sheet.OriginY = 70;
  sheet.StepX = 110;
  sheet.StepY = 110;
  sheet.Turn = 0.3 * (k % 5) - 0.6;
  sheet.ShiftX = k % 7 - 3;
  sheet.ShiftY = 2 - k % 4;
  sheet.Bend = 3;
  sheet.Noise = 4;
  sheet.Seed = static_cast<uint32_t>(k);
  return sheet;
}

QString Name(int k, const QString& suffix) {
  return QStringLiteral("sheet%1%2").arg(k, 2, 10, QChar(u'0')).arg(suffix);
}

class CliBatch : public testing::Test {
 protected:
  QString Path(const QString& name) { return FDir.filePath(name); }

  // Twenty scans of a series sharing one grid file, each with its own place on the map.
  void WriteArchive() {
    const TGridSheet first = Sheet(1);
    WriteFile(Path("grid.json"),
              QJsonDocument(QJsonObject{{"cells", QJsonArray{first.CellsX, first.CellsY}},
                                        {"origin", QJsonArray{first.OriginX, first.OriginY}},
                                        {"step", QJsonArray{first.StepX, first.StepY}},
                                        {"map", QJsonObject{{"crs", "EPSG:28407"},
                                                            {"x", 0},
                                                            {"y", 0},
                                                            {"step", QJsonArray{1000, 1000}}}}})
                  .toJson());
    QString list = QStringLiteral("scan,grid,output,x,y\n");
    for (int k = 1; k <= kSheets; ++k) {
      if (k == kCorrupt) {
        WriteFile(Path(Name(k, ".bmp")), QByteArray("BM") + QByteArray(300, '\x7f'));
      } else {
        TGridScan scan = MakeGridScan(Sheet(k));
        if (kHidden.count(k)) {
          const int nx = Sheet(k).CellsX + 1;
          const double hiddenX = scan.X[1 + nx], hiddenY = scan.Y[1 + nx];
          const auto pixel = scan.Layout.Pixel;
          scan.Layout.Pixel = [=](int x, int y) {
            return std::hypot(x - hiddenX, y - hiddenY) < 25 ? 255u : pixel(x, y);
          };
        }
        WriteFile(Path(Name(k, ".bmp")), BmpBytes(scan.Layout));
      }
      list += QStringLiteral("%1,grid.json,out/%2,%3,%4\n")
                  .arg(Name(k, ".bmp"), Name(k, ".bmp"))
                  .arg(kEasting + k * 3000, 0, 'f', 0)
                  .arg(kNorthing, 0, 'f', 0);
    }
    QDir(FDir.path()).mkdir("out");
    WriteFile(Path("list.csv"), list.toUtf8());
  }

  QString Report(int k) { return Path("out/" + Name(k, ".bmp.report.json")); }

  // When each sheet's report was written, for the sheets that have one.
  std::map<int, QDateTime> ReportTimes() {
    std::map<int, QDateTime> times;
    for (int k = 1; k <= kSheets; ++k)
      if (QFileInfo::exists(Report(k))) times[k] = QFileInfo(Report(k)).lastModified();
    return times;
  }

  QTemporaryDir FDir;
};

}  // namespace

TEST_F(CliBatch, ResumesAfterBeingKilledAndReportsTheSheetsThatNeedAPerson) {
  WriteArchive();
  TRun run = RunCli({"batch", Path("list.csv"), "--sheet", QString::number(kDone)});
  ASSERT_EQ(run.Status, 0) << run.Err.toStdString();
  const QDateTime doneAt = QFileInfo(Report(kDone)).lastModified();

  // One sheet at a time, killed once a few more sheets are done.
  QProcess first;
  first.start(VELMORA_CLI_FILE, {"batch", Path("list.csv"), "--jobs", "1", "--quiet"});
  ASSERT_TRUE(first.waitForStarted());
  while (ReportTimes().size() < 7 && first.state() == QProcess::Running) QThread::msleep(10);
  first.kill();
  first.waitForFinished();
  const std::map<int, QDateTime> before = ReportTimes();
  ASSERT_GE(before.size(), 7u);
  ASSERT_LT(before.size(), size_t(kSheets)) << "the batch ended before it was killed";

  run = RunCli({"batch", Path("list.csv")});
  // The corrupt scan makes it fail, after every other sheet is done.
  EXPECT_EQ(run.Status, 1) << run.Err.toStdString();
  EXPECT_TRUE(
      run.Out.contains(QStringLiteral("Листов: 20, готово: 17, нужна проверка: 2, "
                                      "ошибок: 1")))
      << run.Out.toStdString();
  // Nothing finished before is done again.
  for (const auto& [k, time] : before) EXPECT_EQ(QFileInfo(Report(k)).lastModified(), time) << k;
  EXPECT_EQ(QFileInfo(Report(kDone)).lastModified(), doneAt);

  const QStringList summary =
      QString::fromUtf8(ReadFile(Path("list.summary.csv"))).split(u'\n', Qt::SkipEmptyParts);
  ASSERT_EQ(summary.size(), kSheets + 1);
  EXPECT_EQ(summary[0],
            "scan,output,status,searched,found,missed,least_confidence,largest_offset_px,"
            "seconds,message");
  for (int k = 1; k <= kSheets; ++k) {
    const QStringList fields = summary[k].split(u',');
    ASSERT_GE(fields.size(), 10) << summary[k].toStdString();
    EXPECT_EQ(fields[0], Path(Name(k, ".bmp")));
    const QString status = k == kCorrupt ? "error" : kHidden.count(k) ? "check" : "done";
    EXPECT_EQ(fields[2], status) << k << " " << summary[k].toStdString();
    if (kHidden.count(k)) {
      EXPECT_EQ(fields[5], "(1 1)");
    }
    if (k == kCorrupt) {
      EXPECT_FALSE(QFileInfo::exists(Path("out/" + Name(k, ".bmp"))));
      continue;
    }
    EXPECT_EQ(fields[3], "12");
    // Each sheet lies on the map where the list puts it: its first node at the picture's corner.
    const QStringList world =
        QString::fromUtf8(ReadFile(Path("out/" + Name(k, ".bpw")))).split('\n');
    ASSERT_GE(world.size(), 6);
    EXPECT_DOUBLE_EQ(world[4].toDouble(), kEasting + k * 3000) << k;
    EXPECT_DOUBLE_EQ(world[5].toDouble(), kNorthing) << k;
  }
  const QJsonObject corrupt = QJsonDocument::fromJson(ReadFile(Report(kCorrupt))).object();
  EXPECT_EQ(corrupt["status"].toString(), "error");
  EXPECT_TRUE(corrupt["message"].toString().contains(Name(kCorrupt, ".bmp")))
      << corrupt["message"].toString().toStdString();

  // Once more: only the corrupt sheet is tried again.
  const std::map<int, QDateTime> after = ReportTimes();
  run = RunCli({"batch", Path("list.csv"), "--quiet"});
  EXPECT_EQ(run.Status, 1);
  for (const auto& [k, time] : after)
    if (k != kCorrupt) {
      EXPECT_EQ(QFileInfo(Report(k)).lastModified(), time) << k;
    }
}

// A list that cannot be meant as it reads is refused whole before any sheet is touched, by line.
TEST_F(CliBatch, AListThatCannotBeReadIsRefusedByLine) {
  const auto problem = [&](const QByteArray& list) {
    WriteFile(Path("list.csv"), list);
    const TRun run = RunCli({"batch", Path("list.csv")});
    EXPECT_EQ(run.Status, 1);
    return run.Err;
  };
  const QString prefix = "velmora-cli batch: Список " + Path("list.csv");
  EXPECT_EQ(problem("# archive\na.bmp,g.json\n"),
            prefix +
                ", строка 2: нужны поля \"скан, сетка, результат\" и, по желанию, "
                "координаты первого узла на карте \"x, y\", а их 2\n");
  EXPECT_EQ(problem("a.bmp,g.json,\"out.bmp\n"), prefix + ", строка 1: кавычка не закрыта\n");
  EXPECT_EQ(problem("a.bmp,g.json,out.bmp,1,north\n"),
            prefix + ", строка 1: координаты на карте \"1, north\" - не числа\n");
  // Two sheets written to one result would each take the other's place, and the report of one
  // would speak for the other.
  EXPECT_EQ(problem("a.bmp,g.json,out.bmp\nb.bmp,g.json,./out.bmp\n"),
            prefix + ", строка 2: результат " + Path("out.bmp") + " уже назван в строке 1\n");
  EXPECT_EQ(QDir(FDir.path()).entryList(QDir::Files), QStringList{"list.csv"});
}

// A list of sheets for one process (what the batch hands each of its processes, and what a job
// runner may hand a task): those sheets alone, one after another, with the exit code of the worst.
TEST_F(CliBatch, AListOfSheetsDoesThoseAloneAndEndsWithTheWorst) {
  WriteArchive();
  TRun run = RunCli({"batch", Path("list.csv"), "--sheet", "1,5", "--quiet"});
  EXPECT_EQ(run.Status, 3) << run.Err.toStdString();
  EXPECT_EQ(ReportTimes().size(), 2u);
  EXPECT_TRUE(QFileInfo::exists(Report(1)) && QFileInfo::exists(Report(5)));

  run = RunCli({"batch", Path("list.csv"), "--sheet", QStringLiteral("%1,2").arg(kCorrupt)});
  EXPECT_EQ(run.Status, 1);
  EXPECT_TRUE(QFileInfo::exists(Report(2))) << "a failed sheet stops none after it";

  for (const char* wrong : {"2,", "0", "2;3"}) {
    run = RunCli({"batch", Path("list.csv"), "--sheet", wrong});
    EXPECT_EQ(run.Status, 2) << wrong;
    EXPECT_TRUE(run.Err.contains(QStringLiteral("неверное значение --sheet"))) << wrong;
  }
  EXPECT_EQ(ReportTimes().size(), 4u) << "sheets 1, 5, 2 and the corrupt one";
}
