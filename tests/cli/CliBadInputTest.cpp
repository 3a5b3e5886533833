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

#include <fcntl.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <chrono>
#include <cmath>
#include <csignal>
#include <thread>
#include <vector>

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

// velmora-cli with its standard error going into a pipe that has room for the first progress line
// only: the program stops at its second line, with the first row of parts of its raster read,
// until the pipe is read. Meanwhile the test changes the raster as another program would.
class THeldCli {
 public:
  THeldCli(const QStringList& args, bool asNobody) {
    std::vector<QByteArray> words = {QByteArrayLiteral(VELMORA_CLI_FILE)};
    for (const QString& arg : args) words.push_back(QFile::encodeName(arg));
    std::vector<char*> argv;
    for (QByteArray& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC) != 0) return;
    FErr = pipe[0];
    ::fcntl(pipe[1], F_SETPIPE_SZ, 4096);
    const QByteArray first = QStringLiteral("Считывание растра... 0%\n").toUtf8();
    FFiller = QByteArray(::fcntl(pipe[1], F_GETPIPE_SZ) - first.size(), '#');
    if (::write(pipe[1], FFiller.constData(), FFiller.size()) != FFiller.size()) return;
    FPid = ::fork();
    if (FPid == 0) {
      ::dup2(pipe[1], 2);
      if (asNobody) {
        ::setgroups(0, nullptr);
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(125);
      }
      ::execv(argv[0], argv.data());
      ::_exit(126);
    }
    ::close(pipe[1]);
  }
  ~THeldCli() {
    if (FPid > 0) {
      ::kill(FPid, SIGKILL);
      ::waitpid(FPid, nullptr, 0);
    }
    if (FErr >= 0) ::close(FErr);
  }

  // Whether the program has come to its second line and waits there to write it.
  bool WaitHeld() {
    for (int i = 0; i < 6000 && FPid > 0; ++i) {
      QFile syscall(QStringLiteral("/proc/%1/syscall").arg(FPid));
      // A write (call 1) to standard error (2).
      if (syscall.open(QIODevice::ReadOnly) && syscall.readAll().startsWith("1 0x2 ")) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

  // Lets the program go on, and waits for its end.
  TRun Finish() {
    QByteArray err;
    char buffer[4096];
    for (ssize_t n; (n = ::read(FErr, buffer, sizeof buffer)) != 0;)
      if (n > 0) err.append(buffer, n);
    int status = 0;
    ::waitpid(FPid, &status, 0);
    FPid = -1;
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, QString(),
            QString::fromUtf8(err.mid(FFiller.size()))};
  }

 private:
  pid_t FPid = -1;
  int FErr = -1;
  QByteArray FFiller;
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

// Under a process limit the system starts no thread: every command does its work on its own thread
// and writes what it writes with threads, where it once aborted with an English line (status 134)
// and left its temporary file behind.
TEST_F(CliBadInput, WithoutAThreadToBeHadEveryCommandWorksOnItsOwnThread) {
  TBmpLayout layout{600, 500, 24, {}};
  layout.Pixel = [](int x, int y) {
    return (x % 40 < 2 || y % 40 < 2) ? 0u : static_cast<uint32_t>(0xF0F0F0 - x - (y << 8));
  };
  const QString in = Path("in.bmp");
  WriteFile(in, BmpBytes(layout));
  const QString grid = Path("grid.json");
  WriteFile(grid, R"({"cells": [10, 8], "origin": [80, 80], "step": [40, 40]})");
  const QByteArray sanitizer = qgetenv("ASAN_OPTIONS");
  const TRunSetup noThreads{
      120000,
      {QStringLiteral("LD_PRELOAD=" VELMORA_NO_THREADS_FILE),
       // The sanitizer's runtime would have to come first among the libraries.
       "ASAN_OPTIONS=" + QString::fromLocal8Bit(sanitizer) + ":verify_asan_link_order=0"},
      {}};
  for (const QString kind : {"bmp", "json", "png"}) {
    const auto args = [&](const QString& out) {
      if (kind == "json") return QStringList{"find-nodes", in, "--grid", grid, out, "--quiet"};
      if (kind == "png") return QStringList{"render", in, out, "--zoom", "0.3", "--cache", "1"};
      return QStringList{"calibrate",    in,        out,       "--grid", grid,
                         "--find-nodes", "--quiet", "--cache", "1"};
    };
    const QString threaded = Path("threaded." + kind);
    const QString alone = Path("alone." + kind);
    TRun run = RunCli(args(threaded));
    ASSERT_EQ(run.Status, 0) << run.Err.toStdString();
    run = RunCli(args(alone), noThreads);
    EXPECT_EQ(run.Status, 0) << kind.toStdString() << ": " << run.Err.toStdString();
    EXPECT_EQ(ReadFile(alone), ReadFile(threaded)) << kind.toStdString();
  }
  const TRun run = RunCli({"convert", in, Path("alone.bmp"), "--cache", "1"}, noThreads);
  EXPECT_EQ(run.Status, 0) << run.Err.toStdString();
  EXPECT_EQ(ReadFile(Path("alone.bmp")), ReadFile(in));
  EXPECT_EQ(Files(), QStringList({"alone.bmp", "alone.json", "alone.png", "grid.json", "in.bmp",
                                  "threaded.bmp", "threaded.json", "threaded.png"}));
}

// When the raster cannot be protected by a lease (a writer has it open already; the user does not
// own it, as on a shared folder) and another program rewrites it while it is read, the result once
// mixed rows of the old and the new file, with status 0. Now it is one version whole, or the
// command fails saying why.
TEST_F(CliBadInput, ARasterRewrittenWhileItIsReadGivesOneVersionOrAClearFailure) {
  // Ten rows of parts; the two versions differ in every row.
  TBmpLayout layout{600, 2640, 24, {}};
  layout.Pixel = [](int x, int y) { return static_cast<uint32_t>(x * 7 + y * 13); };
  const QByteArray before = BmpBytes(layout);
  layout.Pixel = [](int x, int y) { return static_cast<uint32_t>(0xFFFFFF - x * 5 - y * 3); };
  const QByteArray after = BmpBytes(layout);
  WriteFile(Path("before.bmp"), before);
  WriteFile(Path("after.bmp"), after);
  ASSERT_EQ(RunCli({"convert", Path("before.bmp"), Path("expected-before.bmp")}).Status, 0);
  ASSERT_EQ(RunCli({"convert", Path("after.bmp"), Path("expected-after.bmp")}).Status, 0);
  ASSERT_EQ(::chmod(QFile::encodeName(FDir.path()).constData(), 0777), 0);

  enum TWriter { HasItOpen, OtherOwnerInPlace, OtherOwnerRenamed };
  for (const TWriter writer : {HasItOpen, OtherOwnerInPlace, OtherOwnerRenamed}) {
    SCOPED_TRACE(writer);
    const QString in = Path("scan.bmp");
    const QString out = Path("out.bmp");
    QFile::remove(out);
    WriteFile(in, before);
    // A program that already has the file open for writing keeps any lease away.
    QFile open(in);
    if (writer == HasItOpen) {
      ASSERT_TRUE(open.open(QIODevice::ReadWrite));
    }
    THeldCli cli({"convert", in, out, "--progress"}, writer != HasItOpen);
    ASSERT_TRUE(cli.WaitHeld());
    if (writer == OtherOwnerRenamed) {
      WriteFile(Path("scan.new"), after);
      ASSERT_EQ(::rename(QFile::encodeName(Path("scan.new")).constData(),
                         QFile::encodeName(in).constData()),
                0);
    } else {
      QFile rewrite(in);
      ASSERT_TRUE(rewrite.open(QIODevice::ReadWrite));
      ASSERT_EQ(rewrite.write(after), after.size());
    }
    const TRun run = cli.Finish();
    if (run.Status == 0) {
      const QByteArray result = ReadFile(out);
      EXPECT_TRUE(result == ReadFile(Path("expected-before.bmp")) ||
                  result == ReadFile(Path("expected-after.bmp")))
          << "the rows of both versions are mixed";
    } else {
      EXPECT_EQ(run.Status, 1);
      EXPECT_TRUE(run.Err.endsWith("velmora-cli convert: Файл " + in +
                                   " изменила другая программа, пока он читался: прочитанное "
                                   "может смешать прежнее и новое содержимое, поэтому чтение "
                                   "прервано. Откройте файл снова, когда его перестанут менять\n"))
          << run.Err.toStdString();
      EXPECT_FALSE(QFile::exists(out));
    }
    EXPECT_EQ(Files().filter("~"), QStringList());
  }
}
