// velmora-cli given hostile input and surroundings: pipes, folders, links, missing temporary
// folders, huge headers and grid files, signals. Every failure says in Russian what went wrong
// with which of the user's files, and leaves nothing behind.
#include "CliTestUtils.h"
#include "QtPrinters.h"
#include "RasterTestUtils.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cmath>
#include <csignal>

namespace {

const QString kData = QStringLiteral(VELMORA_TESTDATA) + u'/';

// What velmora-cli may hold at once: the default cache of 5120 KB and 64 MB more.
constexpr int64_t kMemoryBound = (int64_t{5120} << 10) + (int64_t{64} << 20);

class CliBadInput : public testing::Test {
 protected:
  QString Path(const QString& name) { return FDir.filePath(name); }
  QStringList Files() { return QDir(FDir.path()).entryList(QDir::Files | QDir::System); }
  // A small 24-bit raster written to the folder.
  QString Raster(const QString& name = "in.bmp") {
    TBmpLayout layout{40, 30, 24, {}};
    layout.Pixel = [](int x, int y) { return static_cast<uint32_t>(x * 6 + (y << 8)); };
    WriteFile(Path(name), BmpBytes(layout));
    return Path(name);
  }
  void ExpectWithinMemoryBound(int64_t peak) {
    if (Sanitized()) return;  // the sanitizer's shadow memory is no measure of ours
    EXPECT_GT(peak, 0);
    EXPECT_LT(peak, kMemoryBound) << peak / (1 << 20) << " MB";
  }
  QTemporaryDir FDir;
};

}  // namespace

TEST_F(CliBadInput, APipeOrADeviceIsRefusedAtOnceWhereverAFileIsRead) {
  const QString pipe = Path("pipe.bmp");
  ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
  const QString in = Raster();
  const TRunSetup quick{10000, {}, {}};
  const QString notRegular =
      QStringLiteral(": это не обычный файл, а канал, устройство или сокет\n");
  for (const QStringList& args :
       {QStringList{"info", pipe}, QStringList{"convert", pipe, Path("out.bmp")},
        QStringList{"render", pipe, Path("out.png")},
        QStringList{"calibrate", in, Path("out.bmp"), "--grid", pipe}}) {
    const TRun run = RunCli(args, quick);
    EXPECT_EQ(run.Status, 1) << args.join(' ').toStdString() << run.Err.toStdString();
    EXPECT_EQ(run.Err, "velmora-cli " + args[0] + ": Не удаётся открыть файл " + pipe + notRegular);
  }
  const QString device = Path("zero.bmp");
  ASSERT_EQ(::symlink("/dev/zero", QFile::encodeName(device).constData()), 0);
  const TRun run = RunCli({"info", device}, quick);
  EXPECT_EQ(run.Err, "velmora-cli info: Не удаётся открыть файл " + device + notRegular);
  EXPECT_EQ(Files(), QStringList({"in.bmp", "pipe.bmp", "zero.bmp"}));
}

TEST_F(CliBadInput, MessagesNameTheUsersFileAndTheCauseInRussian) {
  const QString in = Raster();
  const QString loop = Path("loop.bmp");
  ASSERT_EQ(::symlink(QFile::encodeName(loop).constData(), QFile::encodeName(loop).constData()), 0);
  QDir().mkpath(Path("folder.bmp"));
  struct TCase {
    QStringList Args;
    QString Err;
  };
  const std::vector<TCase> cases = {
      {{"info", Path("missing.bmp")},
       "Не удаётся открыть файл " + Path("missing.bmp") + ": нет такого файла или папки"},
      {{"info", Path("folder.bmp")},
       "Не удаётся открыть файл " + Path("folder.bmp") + ": это папка, а не файл"},
      {{"info", loop},
       "Не удаётся открыть файл " + loop +
           ": слишком много символических ссылок (ссылки по кругу?)"},
      {{"convert", in, Path("no/folder/out.bmp")},
       "Не удаётся создать файл " + Path("no/folder/out.bmp") + ": нет такого файла или папки"},
      // A folder in the output's place is refused before anything is written.
      {{"convert", in, Path("folder.bmp")},
       "Не удаётся создать файл " + Path("folder.bmp") + ": это папка, а не файл"},
      {{"render", Path("missing.bmp"), Path("out.png")},
       "Не удаётся открыть файл " + Path("missing.bmp") + ": нет такого файла или папки"},
  };
  for (const TCase& c : cases) {
    const TRun run = RunCli(c.Args);
    EXPECT_EQ(run.Status, 1) << c.Args.join(' ').toStdString();
    EXPECT_EQ(run.Err, "velmora-cli " + c.Args[0] + ": " + c.Err + "\n");
  }
  EXPECT_EQ(Files(), QStringList({"in.bmp", "loop.bmp"}));
  EXPECT_EQ(QDir(Path("folder.bmp")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
            QStringList());

  // Writing beyond what the system allows fails as a full disk does, naming the output.
  const TRunSetup limited{120000, {}, [] {
                            std::signal(SIGXFSZ, SIG_IGN);
                            const rlimit limit{100, 100};
                            setrlimit(RLIMIT_FSIZE, &limit);
                          }};
  TRun run = RunCli({"convert", in, Path("out.bmp")}, limited);
  EXPECT_EQ(run.Err, "velmora-cli convert: Ошибка при записи файла " + Path("out.bmp") +
                         ": файл слишком велик\n");
  run = RunCli({"render", in, Path("out.png"), "--zoom", "8"}, limited);
  EXPECT_EQ(run.Err, "velmora-cli render: Ошибка при записи файла " + Path("out.png") +
                         ": файл слишком велик\n");
  EXPECT_EQ(Files(), QStringList({"in.bmp", "loop.bmp"}));
}

TEST_F(CliBadInput, AMissingTemporaryFolderGivesWayToTmp) {
  const QString in = Raster();
  const TRun run = RunCli({"convert", in, Path("out.bmp"), "--cache", "1"},
                          {120000, {"TMPDIR=" + Path("missing/folder")}, {}});
  EXPECT_EQ(run.Status, 0) << run.Err.toStdString();
  EXPECT_EQ(ReadFile(Path("out.bmp")), ReadFile(in));
}

TEST_F(CliBadInput, AnExistingTemporaryFileLinkedToTheInputIsNotWrittenThrough) {
  const QString in = Raster();
  const QByteArray original = ReadFile(in);
  for (const char* name : {"out.~bm", "out.Abc123.~bm"})
    ASSERT_EQ(::link(QFile::encodeName(in).constData(), QFile::encodeName(Path(name)).constData()),
              0);
  const TRun run = RunCli({"convert", in, Path("out.bmp"), "--ppm", "1000", "1000"});
  ASSERT_EQ(run.Status, 0) << run.Err.toStdString();
  EXPECT_EQ(ReadFile(in), original);
  EXPECT_EQ(FileLe32(ReadFile(Path("out.bmp")), 38), 1000u);
  EXPECT_EQ(Files(), QStringList({"in.bmp", "out.Abc123.~bm", "out.bmp", "out.~bm"}));
}

TEST_F(CliBadInput, RenderWritesOnlyPngAndNeverOverItsInput) {
  const QString in = Raster();
  const QByteArray original = ReadFile(in);
  ASSERT_EQ(
      ::link(QFile::encodeName(in).constData(), QFile::encodeName(Path("same.png")).constData()),
      0);
  TRun run = RunCli({"render", in, in});
  EXPECT_EQ(run.Status, 2);
  EXPECT_TRUE(run.Err.contains("картинка записывается только в PNG")) << run.Err.toStdString();
  EXPECT_EQ(RunCli({"render", in, Path("out.bmp")}).Status, 2);
  run = RunCli({"render", in, Path("same.png")});
  EXPECT_EQ(run.Status, 2);
  EXPECT_TRUE(run.Err.contains("картинка не может заменить растр: " + Path("same.png") +
                               " - это тот же файл, что и " + in))
      << run.Err.toStdString();
  EXPECT_EQ(ReadFile(in), original);
  EXPECT_EQ(Files(), QStringList({"in.bmp", "same.png"}));
  ASSERT_EQ(RunCli({"render", in, Path("OUT.PNG")}).Status, 0);
  EXPECT_EQ(QImage(Path("OUT.PNG"), "png").size(), QSize(40, 30));
}

TEST_F(CliBadInput, ATerminatingSignalDuringASaveLeavesNoTemporaryFile) {
  // Large enough that writing it takes far longer than the signal needs to arrive.
  const QString in = Path("large.bmp");
  WriteSparseBmp(in, TBmpLayout{16000, 16000, 24, {}});
  QProcess process;
  process.setReadChannel(QProcess::StandardError);
  process.start(VELMORA_CLI_FILE, {"convert", in, Path("out.bmp"), "--progress"});
  ASSERT_TRUE(process.waitForStarted());
  QByteArray err;
  while (!err.contains("Сохранение растра") && process.waitForReadyRead(60000))
    err += process.readAllStandardError();
  ASSERT_TRUE(err.contains("Сохранение растра")) << err.toStdString();
  ::kill(static_cast<pid_t>(process.processId()), SIGINT);
  ASSERT_TRUE(process.waitForFinished(60000));
  EXPECT_EQ(process.exitStatus(), QProcess::CrashExit);
  EXPECT_EQ(Files(), QStringList({"large.bmp"}));
}

TEST_F(CliBadInput, AHugePictureIsDrawnInBandsWithinTheMemoryBound) {
  if (Sanitized()) GTEST_SKIP() << "memory is not measured under the sanitizers";
  const QString in = Raster();
  TRun run;
  const int64_t peak = PeakMemoryOfCli(
      {"render", in, Path("out.png"), "--size", "8192", "8192", "--zoom", "50"}, run);
  ASSERT_EQ(run.Status, 0) << run.Err.toStdString();
  ExpectWithinMemoryBound(peak);
  QImageReader reader(Path("out.png"));
  reader.setAllocationLimit(0);
  const QImage image = reader.read().convertToFormat(QImage::Format_RGB32);
  ASSERT_EQ(image.size(), QSize(8192, 8192));
  // Raster pixel (x, y) covers 50 × 50 picture pixels; (20, 15) begins at the middle, (4096, 4096).
  // The points are in the middle of their pixels.
  for (const auto& [px, py] : {std::pair{4121, 4121}, {4071, 4071}, {3121, 3621}, {5071, 4571}}) {
    const int x = 20 + static_cast<int>(std::floor((px - 4096) / 50.0));
    const int y = 15 + static_cast<int>(std::floor((py - 4096) / 50.0));
    EXPECT_EQ(image.pixel(px, py), qRgb(x * 6, y, 0)) << px << ", " << py;
  }
  EXPECT_EQ(image.pixel(0, 0), qRgb(255, 255, 255));
  EXPECT_EQ(image.pixel(8191, 8191), qRgb(255, 255, 255));
}

TEST_F(CliBadInput, HugeRastersAndGridFilesAreRefusedWithinTheMemoryBound) {
  const QString wide = Path("wide.bmp");
  WriteSparseBmp(wide, TBmpLayout{2147483647, 1, 1, {0x000000, 0xFFFFFF}});
  TRun run;
  int64_t peak = PeakMemoryOfCli({"render", wide, Path("out.png"), "--size", "300", "200"}, run);
  EXPECT_EQ(run.Status, 1);
  EXPECT_EQ(run.Err, "velmora-cli render: Растр " + wide +
                         " слишком велик: 2147483647 × 1 пикселей при 1 бите на пиксель делятся "
                         "на 1667301 часть, а их может быть не больше 32768\n");
  ExpectWithinMemoryBound(peak);

  const QString in = Raster();
  const QString grid = Path("grid.json");
  QByteArray nodes = R"({"cells": [200, 200], "origin": [0, 0], "step": [1, 1], "nodes": [)";
  for (int k = 0; k < 25000; ++k)
    nodes += QByteArray(k ? "," : "") + R"({"i": 1, "j": 1, "x": 1, "y": 1})";
  WriteFile(grid, nodes + "]}");
  peak = PeakMemoryOfCli({"calibrate", in, Path("out.bmp"), "--grid", grid}, run);
  EXPECT_EQ(run.Err, "velmora-cli calibrate: Файл сетки " + grid +
                         ": слишком много узлов: не больше 20000\n");
  ExpectWithinMemoryBound(peak);

  QFile file(grid);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
  ASSERT_TRUE(file.resize(45 << 20));
  file.close();
  peak = PeakMemoryOfCli({"calibrate", in, Path("out.bmp"), "--grid", grid}, run);
  EXPECT_EQ(run.Err, "velmora-cli calibrate: Файл сетки " + grid +
                         " слишком велик: 47185920 байт, а можно не больше 4194304\n");
  ExpectWithinMemoryBound(peak);

  // Input quoted in a message is cut short.
  WriteFile(grid, R"({"cells": [1, 1], ")" + QByteArray(3 << 20, 'k') + R"(": 1})");
  run = RunCli({"calibrate", in, Path("out.bmp"), "--grid", grid});
  EXPECT_EQ(run.Err, "velmora-cli calibrate: Файл сетки " + grid + ": неизвестное поле \"" +
                         QString(40, u'k') + "…\"\n");
  EXPECT_EQ(Files(), QStringList({"grid.json", "in.bmp", "wide.bmp"}));
}
