// What velmora-cli writes: never over a file it reads, never in the place of a device or a pipe,
// never through another save to the same target, and with a Russian message naming the output
// when it cannot write.
#include "CliTestUtils.h"
#include "QtPrinters.h"
#include "RasterTestUtils.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <csignal>

namespace {

class CliOutputs : public testing::Test {
 protected:
  CliOutputs() {
    WriteFile(Path("grid.json"), R"({"cells": [1, 1], "origin": [5, 5], "step": [30, 20]})");
  }
  QString Path(const QString& name) { return FDir.filePath(name); }
  QStringList Files() {
    QStringList files = QDir(FDir.path()).entryList(QDir::Files | QDir::System);
    files.sort();
    return files;
  }
  // A small 24-bit raster written to the folder.
  QString Raster(const QString& name = "in.bmp") {
    TBmpLayout layout{40, 30, 24, {}};
    layout.Pixel = [](int x, int y) { return static_cast<uint32_t>(x * 6 + (y << 8)); };
    WriteFile(Path(name), BmpBytes(layout));
    return Path(name);
  }
  QTemporaryDir FDir;
};

bool IsCharDevice(const QString& name) {
  struct stat st;
  return ::stat(QFile::encodeName(name).constData(), &st) == 0 && S_ISCHR(st.st_mode);
}

// The child gives up root for the user nobody before the program starts.
const TRunSetup kAsNobody{120000, {}, [] {
                            ::setgroups(0, nullptr);
                            if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(125);
                          }};

}  // namespace

// Run as root, the rename would have put a regular file in the place of the device (it turned the
// system's /dev/null into a 77-byte file); a link to a device is followed for the check.
TEST_F(CliOutputs, ADeviceOrAPipeInTheOutputsPlaceIsRefusedAndStaysAsItWas) {
  const QString in = Raster();
  ASSERT_EQ(::mknod(QFile::encodeName(Path("null.bmp")).constData(), S_IFCHR | 0666, makedev(1, 3)),
            0)
      << "the tests make device nodes as root";
  ASSERT_EQ(::mkfifo(QFile::encodeName(Path("pipe.json")).constData(), 0600), 0);
  ASSERT_EQ(::symlink("null.bmp", QFile::encodeName(Path("null.png")).constData()), 0);
  const QString grid = Path("grid.json");
  const TRunSetup quick{20000, {}, {}};
  for (const QStringList& args :
       {QStringList{"convert", in, Path("null.bmp")},
        QStringList{"calibrate", in, Path("null.bmp"), "--grid", grid},
        QStringList{"render", in, Path("null.png")},
        QStringList{"find-nodes", in, "--grid", grid, Path("pipe.json")}}) {
    const TRun run = RunCli(args, quick);
    const QString output = args[0] == "find-nodes" ? args[4] : args[2];
    EXPECT_EQ(run.Status, 1) << args.join(' ').toStdString();
    EXPECT_EQ(run.Err, "velmora-cli " + args[0] + ": Не удаётся создать файл " + output +
                           ": это не обычный файл, а канал, устройство или сокет\n")
        << args.join(' ').toStdString();
  }
  EXPECT_TRUE(IsCharDevice(Path("null.bmp")));
  EXPECT_TRUE(IsCharDevice(Path("null.png")));
  EXPECT_EQ(Files(), QStringList({"grid.json", "in.bmp", "null.bmp", "null.png", "pipe.json"}));
}

// find-nodes once wrote its grid over the scan it had read, through its name or a link, and
// calibrate its raster over the grid file. A result of the input's own kind may replace it, as the
// program's Save does.
TEST_F(CliOutputs, NoCommandWritesOverAnInputOfAnotherKind) {
  const QString in = Raster();
  const QByteArray scan = ReadFile(in);
  const QString grid = Path("grid.json");
  const QByteArray gridText = ReadFile(grid);
  ASSERT_EQ(::symlink("in.bmp", QFile::encodeName(Path("link.json")).constData()), 0);
  ASSERT_EQ(
      ::link(QFile::encodeName(grid).constData(), QFile::encodeName(Path("hard.bmp")).constData()),
      0);
  struct TCase {
    QStringList Args;
    QString Output;
    QString Role;  // of the file the output would replace
    QString Input;
  };
  for (const TCase& c : {
           TCase{{"find-nodes", in, "--grid", grid, in}, in, "растр", in},
           TCase{{"find-nodes", in, "--grid", grid, Path("link.json")},
                 Path("link.json"),
                 "растр",
                 in},
           TCase{{"calibrate", in, grid, "--grid", grid}, grid, "файл сетки", grid},
           TCase{{"calibrate", in, Path("hard.bmp"), "--grid", grid, "--find-nodes"},
                 Path("hard.bmp"),
                 "файл сетки",
                 grid},
       }) {
    const TRun run = RunCli(c.Args);
    EXPECT_EQ(run.Status, 2) << c.Args.join(' ').toStdString();
    EXPECT_TRUE(run.Err.startsWith("velmora-cli " + c.Args[0] + ": результат не может заменить " +
                                   c.Role + ": " + c.Output + " - это тот же файл, что и " +
                                   c.Input + "\n"))
        << run.Err.toStdString();
  }
  EXPECT_EQ(ReadFile(in), scan);
  EXPECT_EQ(ReadFile(grid), gridText);
  EXPECT_EQ(Files(), QStringList({"grid.json", "hard.bmp", "in.bmp", "link.json"}));

  TRun run = RunCli({"convert", in, in, "--ppm", "1234", "1234"});
  EXPECT_EQ(run.Status, 0) << run.Err.toStdString();
  EXPECT_EQ(FileLe32(ReadFile(in), 38), 1234u);
  run = RunCli({"find-nodes", in, "--grid", grid, grid, "--quiet"});
  EXPECT_EQ(run.Status, 0) << run.Err.toStdString();
}

// Two saves to one target shared one temporary name: the one that renamed last found its file gone
// and failed, or reported success for the other's bytes. Here the first save is held in the middle
// of writing while a second one runs whole; then the first goes on and its rename wins.
TEST_F(CliOutputs, TwoSavesToOneTargetAtOnceEachEndTrueAndTheLastRenameWinsWhole) {
  const QString in = Path("large.bmp");
  WriteSparseBmp(in, TBmpLayout{8000, 8000, 24, {}});
  const QString out = Path("out.bmp");
  QProcess first;
  first.setReadChannel(QProcess::StandardError);
  first.start(VELMORA_CLI_FILE, {"convert", in, out, "--ppm", "1111", "1111", "--progress"});
  ASSERT_TRUE(first.waitForStarted());
  QByteArray err;
  while (!err.contains("Сохранение растра") && first.waitForReadyRead(60000))
    err += first.readAllStandardError();
  ASSERT_TRUE(err.contains("Сохранение растра")) << err.toStdString();
  ::kill(static_cast<pid_t>(first.processId()), SIGSTOP);
  EXPECT_EQ(Files().filter(".~bm").size(), 1) << Files().join(' ').toStdString();

  const TRun second = RunCli({"convert", in, out, "--ppm", "2222", "2222"});
  EXPECT_EQ(second.Status, 0) << second.Err.toStdString();
  EXPECT_EQ(FileLe32(ReadFile(out).left(54), 38), 2222u);

  ::kill(static_cast<pid_t>(first.processId()), SIGCONT);
  ASSERT_TRUE(first.waitForFinished(120000));
  EXPECT_EQ(first.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(first.exitCode(), 0) << first.readAllStandardError().toStdString();
  QFile result(out);
  ASSERT_TRUE(result.open(QIODevice::ReadOnly));
  EXPECT_EQ(result.size(), QFileInfo(in).size());
  EXPECT_EQ(FileLe32(result.read(54), 38), 1111u);
  EXPECT_EQ(Files(), QStringList({"grid.json", "large.bmp", "out.bmp"}));
}

// Grid files were written by another route than rasters, whose errors came in English
// ("No such file or directory", "Existing file ... is not writable").
TEST_F(CliOutputs, WriteErrorsOfEveryOutputNameItAndTheCauseInRussian) {
  const QString in = Raster();
  const QString grid = Path("grid.json");
  TRun run = RunCli({"find-nodes", in, "--grid", grid, Path("no/folder/found.json")});
  EXPECT_EQ(run.Status, 1);
  EXPECT_EQ(run.Err, "velmora-cli find-nodes: Не удаётся создать файл " +
                         Path("no/folder/found.json") + ": нет такого файла или папки\n");

  const TRunSetup limited{120000, {}, [] {
                            std::signal(SIGXFSZ, SIG_IGN);
                            const rlimit limit{20, 20};
                            setrlimit(RLIMIT_FSIZE, &limit);
                          }};
  run = RunCli({"find-nodes", in, "--grid", grid, Path("found.json"), "--quiet"}, limited);
  EXPECT_EQ(run.Status, 1);
  EXPECT_EQ(run.Err, "velmora-cli find-nodes: Ошибка при записи файла " + Path("found.json") +
                         ": файл слишком велик\n");

  // A file that its owner made read-only is not replaced by another user, whatever the folder
  // allows. Root may write anything: the commands run as the user nobody.
  ASSERT_EQ(::chmod(QFile::encodeName(FDir.path()).constData(), 0777), 0);
  WriteFile(Path("kept.json"), "kept");
  WriteFile(Path("kept.bmp"), "kept");
  for (const char* name : {"kept.json", "kept.bmp", "in.bmp", "grid.json"})
    ASSERT_EQ(::chmod(QFile::encodeName(Path(name)).constData(), 0444), 0);
  for (const QStringList& args : {QStringList{"find-nodes", in, "--grid", grid, Path("kept.json")},
                                  QStringList{"convert", in, Path("kept.bmp")}}) {
    run = RunCli(args, kAsNobody);
    EXPECT_EQ(run.Status, 1);
    EXPECT_EQ(run.Err, "velmora-cli " + args[0] + ": Не удаётся создать файл " + args.last() +
                           ": нет прав доступа\n");
  }
  EXPECT_EQ(ReadFile(Path("kept.json")), "kept");
  EXPECT_EQ(ReadFile(Path("kept.bmp")), "kept");
  run = RunCli({"find-nodes", in, "--grid", grid, Path("found.json"), "--quiet"}, kAsNobody);
  EXPECT_EQ(run.Status, 0) << run.Err.toStdString();
  EXPECT_EQ(Files(), QStringList({"found.json", "grid.json", "in.bmp", "kept.bmp", "kept.json"}));
}

// The rename keeps the permissions of the file it replaces, but not the old owner's set-user-ID
// and set-group-ID: root replacing a user's 6777 file made a set-user-ID-root file anybody writes.
TEST_F(CliOutputs, AReplacedFileLosesSetUserIdAndSetGroupId) {
  const QString in = Raster();
  const QString out = Path("out.bmp");
  WriteFile(out, "a user's file");
  ASSERT_EQ(::chown(QFile::encodeName(out).constData(), 65534, 65534), 0);
  ASSERT_EQ(::chmod(QFile::encodeName(out).constData(), 06777), 0);
  const TRun run = RunCli({"convert", in, out});
  ASSERT_EQ(run.Status, 0) << run.Err.toStdString();
  struct stat st;
  ASSERT_EQ(::stat(QFile::encodeName(out).constData(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0777u);
  EXPECT_EQ(ReadFile(out), ReadFile(in));
}

// On a read-only file system the output cannot be created; the message once blamed a temporary
// file that did not exist.
TEST_F(CliOutputs, AReadOnlyFileSystemIsNamedAsTheCause) {
  const QString in = Raster();
  const QString folder = Path("readonly");
  ASSERT_TRUE(QDir().mkpath(folder));
  // The folder is covered by an empty read-only file system in a mount namespace of the command's
  // own, which ends with it.
  const auto runThere = [&](const QStringList& args) {
    return RunProgram("unshare", QStringList{"--mount", "--propagation", "private", "sh", "-c",
                                             "mount -t tmpfs -o ro,size=64k none \"$0\" && "
                                             "exec \"$@\"",
                                             folder, VELMORA_CLI_FILE} +
                                     args);
  };
  if (runThere({"--help"}).Status != 0)
    GTEST_SKIP() << "no mount namespace to be had: " << runThere({"--help"}).Err.toStdString();
  for (const QStringList& args :
       {QStringList{"convert", in, folder + "/out.bmp"},
        QStringList{"render", in, folder + "/out.png"},
        QStringList{"find-nodes", in, "--grid", Path("grid.json"), folder + "/out.json"}}) {
    const TRun run = runThere(args);
    EXPECT_EQ(run.Status, 1);
    EXPECT_EQ(run.Err, "velmora-cli " + args[0] + ": Не удаётся создать файл " + args.last() +
                           ": файловая система доступна только для чтения\n");
  }
}

// Calibration and the search need pixel access by colour, which 16- and 32-bit rasters lack.
TEST_F(CliOutputs, ARasterWithoutColourAccessIsRefusedByName) {
  for (const int bits : {16, 32}) {
    TBmpLayout layout{40, 30, bits, {}};
    const QString in = Path(QStringLiteral("deep%1.bmp").arg(bits));
    WriteFile(in, BmpBytes(layout));
    for (const QStringList& args :
         {QStringList{"calibrate", in, Path("out.bmp"), "--grid", Path("grid.json")},
          QStringList{"find-nodes", in, "--grid", Path("grid.json"), Path("out.json")}}) {
      const TRun run = RunCli(args);
      EXPECT_EQ(run.Status, 1);
      EXPECT_EQ(run.Err,
                QStringLiteral("velmora-cli %1: Растр %2: при %3 битах на пиксель калибровка и "
                               "поиск узлов невозможны, нужен растр 1, 4, 8 или 24 битов на "
                               "пиксель\n")
                    .arg(args[0], in)
                    .arg(bits));
    }
  }
  EXPECT_EQ(Files(), QStringList({"deep16.bmp", "deep32.bmp", "grid.json"}));
}
