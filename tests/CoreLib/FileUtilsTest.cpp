#include "FileUtils.h"
#include "MessageOf.h"
#include "OtherProgram.h"
#include "QtPrinters.h"

#include "RecArrays.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <future>

namespace {

// The message of the error an open raises, failing the test instead of hanging when the open
// blocks on a pipe: a writer is then opened to let it go.
QString OpenMessageWithoutBlocking(const QString& name, const std::function<void()>& open) {
  auto result = std::async(std::launch::async, [&] { return MessageOf(open); });
  if (result.wait_for(std::chrono::seconds(10)) == std::future_status::timeout) {
    const int writer = ::open(QFile::encodeName(name).constData(), O_WRONLY);
    if (writer >= 0) ::close(writer);
    ADD_FAILURE() << "opening " << name.toStdString() << " blocked";
  }
  return result.get();
}

}  // namespace

TEST(FileVersionInfo, ReadsTheFourStringsOfTheProgram) {
  TFileVersionInfo info(VELMORA_APP_FILE);
  EXPECT_EQ(info.GetTranslation(), QStringLiteral("041904e3"));
  EXPECT_EQ(info.ProductName(), QStringLiteral("Velmora"));
  EXPECT_EQ(info.FileDescription(), QStringLiteral("Velmora - калибровка растров"));
  EXPECT_EQ(info.FileVersion(), QStringLiteral("1.0.0.0"));
  EXPECT_TRUE(info.LegalCopyright().contains(QStringLiteral("Orvanta")));
}

TEST(FileVersionInfo, AFileWithoutARecordFailsAtConstruction) {
  QTemporaryDir dir;
  const QString plain = dir.filePath("plain.txt");
  QFile file(plain);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("not a program");
  file.close();
  for (const QString& name : {plain, QString("/bin/sh"), dir.filePath("missing")}) {
    EXPECT_EQ(MessageOf([&] { TFileVersionInfo info(name); }),
              QStringLiteral("Ошибка при получении версии файла ") + name);
  }
}

TEST(FileVersionInfo, AStringTableUnderAnotherTranslationFailsInGetValue) {
  TFileVersionInfo info(VELMORA_OTHER_RECORD_FILE);
  EXPECT_EQ(info.GetTranslation(), QStringLiteral("040904b0"));  // lower-case digits
  EXPECT_EQ(MessageOf([&] { info.ProductName(); }),
            QStringLiteral("Ошибка при получении информации (\\StringFileInfo\\040904b0\\"
                           "ProductName) о версии файла ") +
                VELMORA_OTHER_RECORD_FILE);
}

TEST(FileVersionInfo, TheRunningProgramHasNoRecordButTheErrorIsRetried) {
  // This test program carries no record: the error reaches the caller on every call.
  EXPECT_THROW(AppVersionInfo(), Exception);
  EXPECT_THROW(AppVersionInfo(), Exception);
}

TEST(TempFileStream, LeavesNoFileBehind) {
  QTemporaryDir dir;
  const QString name = dir.filePath("swap.tmp");
  {
    TTempFileStream stream(name);
    stream.WriteBuffer("abc", 3);
    stream.SetPosition(0);
    char buffer[3];
    stream.ReadBuffer(buffer, 3);
    EXPECT_EQ(std::string(buffer, 3), "abc");
    EXPECT_FALSE(QFile::exists(name));  // already unlinked while open
  }
  EXPECT_TRUE(QDir(dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());
}

TEST(TempFileStream, UniqueFilesLiveInTheTemporaryDirectoryAndVanish) {
  QTemporaryDir dir;
  qputenv("TMPDIR", QFile::encodeName(dir.path()));
  {
    std::unique_ptr<TTempFileStream> a(TTempFileStream::CreateUnique("VLM"));
    std::unique_ptr<TTempFileStream> b(TTempFileStream::CreateUnique("VLM"));
    a->WriteBuffer("x", 1);
    EXPECT_EQ(a->Size(), 1);
    EXPECT_EQ(b->Size(), 0);
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());
  }
  qunsetenv("TMPDIR");
}

TEST(TempFileStream, ACreationFailureIsTheSystemError) {
  EXPECT_EQ(MessageOf<EOSError>([] { TTempFileStream("/no/such/dir/file"); }),
            QStringLiteral("Не удаётся создать временный файл /no/such/dir/file: нет такого файла "
                           "или папки"));
}

TEST(TempFileStream, AMissingOrUnusableTemporaryFolderGivesWayToTmp) {
  QTemporaryDir dir;
  const QString file = dir.filePath("file");
  QFile(file).open(QIODevice::WriteOnly);
  for (const QString& tmpdir : {dir.filePath("missing"), file}) {
    qputenv("TMPDIR", QFile::encodeName(tmpdir));
    EXPECT_EQ(GetTempDir(), QStringLiteral("/tmp")) << tmpdir.toStdString();
    std::unique_ptr<TTempFileStream> stream(TTempFileStream::CreateUnique("VLM"));
    stream->WriteBuffer("x", 1);
    EXPECT_EQ(stream->Subject(), QStringLiteral("временного файла в папке /tmp"));
  }
  qputenv("TMPDIR", QFile::encodeName(dir.path() + "/./"));
  EXPECT_EQ(GetTempDir(), dir.path());
  qunsetenv("TMPDIR");
  EXPECT_EQ(GetTempDir(), QStringLiteral("/tmp"));
}

TEST(InsideStreamAllocator, HandsOutTheEndOfTheStream) {
  std::unique_ptr<TTempFileStream> stream(TTempFileStream::CreateUnique("VLM"));
  TInsideStreamAllocator allocator(stream.get());
  EXPECT_EQ(allocator.Allocate(100, false), 0);
  EXPECT_EQ(allocator.Allocate(100, false), 0);
  EXPECT_EQ(allocator.Allocate(100, true), 0);
  EXPECT_EQ(allocator.Allocate(50, true), 100);
  EXPECT_EQ(stream->Size(), 150);
  allocator.Reset();
  EXPECT_EQ(stream->Size(), 0);
  EXPECT_EQ(stream->Position(), 0);
}

TEST(InsideStreamAllocator, OffsetsBeyondFourGigabytesDoNotWrap) {
  std::unique_ptr<TTempFileStream> stream(TTempFileStream::CreateUnique("VLM"));
  TInsideStreamAllocator allocator(stream.get());
  const int64_t far = (int64_t{5} << 30) + 7;
  stream->SetSize(far);  // sparse: costs no disk
  EXPECT_EQ(allocator.Allocate(204800, false), far);
  stream->WriteBufferAt(far, "part", 4);
  char buffer[4];
  stream->ReadBufferAt(far, buffer, 4);
  EXPECT_EQ(std::string(buffer, 4), "part");
  EXPECT_EQ(allocator.Allocate(10, false), far + 4);
}

TEST(FileStream, OpenAndCreateErrorsNameTheFile) {
  EXPECT_EQ(
      MessageOf([] { TFileStream s("/no/such/file.bmp", TFileMode::fmOpenRead); }),
      QStringLiteral("Не удаётся открыть файл /no/such/file.bmp: нет такого файла или папки"));
  EXPECT_EQ(
      MessageOf([] { TFileStream s("/no/such/dir/x.bmp", TFileMode::fmCreate); }),
      QStringLiteral("Не удаётся создать файл /no/such/dir/x.bmp: нет такого файла или папки"));
  EXPECT_THROW(TFileStream(QDir::tempPath(), TFileMode::fmOpenRead), EFOpenError);
}

TEST(FileStream, OnlyRegularFilesOpenAndAPipeDoesNotBlock) {
  QTemporaryDir dir;
  const QString pipe = dir.filePath("pipe.bmp");
  ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
  const QString notRegular = QStringLiteral(": это не обычный файл, а канал, устройство или сокет");
  EXPECT_EQ(OpenMessageWithoutBlocking(pipe, [&] { TFileStream s(pipe, TFileMode::fmOpenRead); }),
            "Не удаётся открыть файл " + pipe + notRegular);
  EXPECT_EQ(OpenMessageWithoutBlocking(pipe, [&] { TStableFile::Open(pipe); }),
            "Не удаётся открыть файл " + pipe + notRegular);
  EXPECT_EQ(OpenMessageWithoutBlocking(pipe, [&] { TFileStream s(pipe, TFileMode::fmCreate); }),
            "Не удаётся создать файл " + pipe + notRegular);
  EXPECT_EQ(MessageOf([] { TFileStream s("/dev/zero", TFileMode::fmOpenRead); }),
            "Не удаётся открыть файл /dev/zero" + notRegular);
  EXPECT_EQ(MessageOf([&] { TFileStream s(dir.path(), TFileMode::fmOpenRead); }),
            "Не удаётся открыть файл " + dir.path() + ": это папка, а не файл");
  // A loop of links is named as such.
  const QString loop = dir.filePath("loop.bmp");
  ASSERT_EQ(::symlink(QFile::encodeName(loop).constData(), QFile::encodeName(loop).constData()), 0);
  EXPECT_EQ(MessageOf([&] { TFileStream s(loop, TFileMode::fmOpenRead); }),
            "Не удаётся открыть файл " + loop +
                ": слишком много символических ссылок (ссылки по кругу?)");
}

TEST(FileStream, ReadAndWriteErrorsNameTheStreamsSubject) {
  QTemporaryDir dir;
  const QString name = dir.filePath("short.bmp");
  QFile(name).open(QIODevice::WriteOnly);
  TFileStream file(name, TFileMode::fmOpenReadWrite, QStringLiteral("scan.bmp"));
  char buffer[4];
  EXPECT_EQ(MessageOf<EReadError>([&] { file.ReadBufferAt(0, buffer, 4); }),
            QStringLiteral("Ошибка при чтении файла scan.bmp: файл короче, чем ожидалось"));
  EXPECT_EQ(EWriteError(file.Subject(), ENOSPC).Message(),
            QStringLiteral("Ошибка при записи файла scan.bmp: на диске нет места"));
}

TEST(FileStream, ShortReadsRaise) {
  std::unique_ptr<TTempFileStream> stream(TTempFileStream::CreateUnique("VLM"));
  stream->WriteBuffer("ab", 2);
  stream->SetPosition(0);
  char buffer[4];
  EXPECT_THROW(stream->ReadBuffer(buffer, 4), EReadError);
  EXPECT_THROW(stream->ReadBufferAt(1, buffer, 2), EReadError);
}

namespace {

void WriteText(const QString& name, const QByteArray& text) {
  QFile file(name);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
  file.write(text);
}

QByteArray ReadAt(THandleStream& stream, int64_t offset, int64_t size) {
  QByteArray bytes(size, '\0');
  stream.ReadBufferAt(offset, bytes.data(), size);
  return bytes;
}

}  // namespace

TEST(StableFile, AnotherProgramWritingWaitsOnlyForThePrivateCopy) {
  QTemporaryDir dir;
  const QString name = dir.filePath("scan.bmp");
  WriteText(name, "the original bytes");
  std::unique_ptr<TStableFile> file = TStableFile::Open(name);
  ASSERT_NE(file, nullptr) << "no read lease on " << name.toStdString();
  EXPECT_FALSE(file->Copied());
  ASSERT_NE(file->Mapped(), nullptr);
  const auto mapped = [&] {
    return QByteArray(reinterpret_cast<const char*>(file->Mapped()), file->FileSize());
  };
  EXPECT_EQ(mapped(), QByteArray("the original bytes"));
  // The shell truncates and rewrites the file in place. Held back by the lease until the copy
  // is made, it would otherwise wait for the system's lease-break time (45 s by default).
  ASSERT_EQ(
      RunOtherProgram({"/bin/sh", "-c", "printf 'rewritten by another program' > \"$0\"", name}),
      0);
  EXPECT_TRUE(file->Copied());
  EXPECT_EQ(ReadAt(*file, 0, 18), QByteArray("the original bytes"));
  // The mapping shows the copy at the same address, also after its pages were let go.
  EXPECT_EQ(mapped(), QByteArray("the original bytes"));
  file->ReleaseMapped();
  EXPECT_EQ(mapped(), QByteArray("the original bytes"));
  EXPECT_NO_THROW(file->CheckIntact());
  QFile check(name);
  ASSERT_TRUE(check.open(QIODevice::ReadOnly));
  EXPECT_EQ(check.readAll(), QByteArray("rewritten by another program"));
}

TEST(StableFile, ANoticeTakenOnAnotherThreadFindsTheMapping) {
  QTemporaryDir dir;
  const QString name = dir.filePath("scan.bmp");
  WriteText(name, "the original bytes");
  std::unique_ptr<TStableFile> file = TStableFile::Open(name);
  ASSERT_NE(file, nullptr) << "no read lease on " << name.toStdString();
  // This thread refuses every signal, so the lease-break notice lands on another thread, which
  // has seen nothing of this one since the file was opened.
  sigset_t all;
  sigset_t before;
  sigfillset(&all);
  ASSERT_EQ(pthread_sigmask(SIG_BLOCK, &all, &before), 0);
  const int status =
      RunOtherProgram({"/bin/sh", "-c", "printf 'rewritten by another program' > \"$0\"", name});
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
  EXPECT_EQ(status, 0);
  EXPECT_TRUE(file->Copied());
  EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(file->Mapped()), file->FileSize()),
            QByteArray("the original bytes"));
}

TEST(StableFile, AFileOpenForWritingGetsNoPromise) {
  QTemporaryDir dir;
  const QString name = dir.filePath("busy.bmp");
  WriteText(name, "bytes");
  QFile writer(name);
  ASSERT_TRUE(writer.open(QIODevice::ReadWrite));
  EXPECT_EQ(TStableFile::Open(name), nullptr);
  writer.close();
  EXPECT_NE(TStableFile::Open(name), nullptr);
  EXPECT_THROW(TStableFile::Open(dir.filePath("missing.bmp")), EFOpenError);
}

// A change by another program, of the bytes or of the file's times, is noticed after the read that
// it may have spoiled; a file nobody touches reads as it is.
TEST(WatchedFile, AChangeByAnotherProgramIsNoticedAfterTheRead) {
  QTemporaryDir dir;
  const QString name = dir.filePath("scan.bmp");
  for (const char* change : {"printf 'the changed bytes.' > \"$0\"", "printf '!' >> \"$0\"",
                             "touch -d '2001-01-01' \"$0\""}) {
    WriteText(name, "the original bytes");
    TWatchedFile file(name);
    EXPECT_EQ(ReadAt(file, 4, 8), QByteArray("original"));
    EXPECT_NO_THROW(file.CheckIntact());
    ASSERT_EQ(RunOtherProgram({"/bin/sh", "-c", change, name}), 0);
    EXPECT_EQ(MessageOf([&] { file.CheckIntact(); }),
              "Файл " + name +
                  " изменила другая программа, пока он читался: прочитанное может смешать прежнее "
                  "и новое содержимое, поэтому чтение прервано. Откройте файл снова, когда его "
                  "перестанут менять")
        << change;
    // Once changed, always changed.
    EXPECT_THROW(file.CheckIntact(), Exception);
  }
  EXPECT_THROW(TWatchedFile(dir.filePath("missing.bmp")), EFOpenError);
}

namespace {

QByteArray ReadText(const QString& name) {
  QFile file(name);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
}

class ReplacementFile : public testing::Test {
 protected:
  QString Path(const QString& name) { return FDir.filePath(name); }
  QStringList Files() {
    QStringList files =
        QDir(FDir.path()).entryList(QDir::Files | QDir::System | QDir::NoDotAndDotDot);
    files.sort();
    return files;
  }
  QTemporaryDir FDir;
  const QString FTarget = FDir.filePath("out.bmp");
};

// A file made by the test with a last change long ago, as one left behind by a killed run.
void MakeOld(const QString& name, const QByteArray& text) {
  WriteText(name, text);
  const timespec times[2] = {{1000000000, 0}, {1000000000, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(name).constData(), times, 0), 0);
}

}  // namespace

TEST_F(ReplacementFile, TakesTheTargetsPlaceOnlyWhenCompleteAndKeepsItsPermissions) {
  WriteText(FTarget, "old");
  QFile::setPermissions(FTarget, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
  {
    TReplacementFile file(FTarget);
    EXPECT_TRUE(QFileInfo(file.TempName())
                    .fileName()
                    .contains(QRegularExpression("^out\\.[A-Za-z0-9]{6}\\.~bm$")))
        << file.TempName().toStdString();
    EXPECT_EQ(QFileInfo(file.TempName()).absolutePath(), QFileInfo(FTarget).absolutePath());
    file.Stream().WriteBuffer("new", 3);
    EXPECT_EQ(ReadText(FTarget), "old");
    EXPECT_EQ(ReadText(file.TempName()), "new");
    file.Commit("Ошибка");
  }
  EXPECT_EQ(ReadText(FTarget), "new");
  EXPECT_EQ(QFileInfo(FTarget).permissions() & 0x7077,
            QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
  {
    TReplacementFile file(FTarget);
    file.Stream().WriteBuffer("abandoned", 9);
  }
  EXPECT_EQ(ReadText(FTarget), "new");
  EXPECT_EQ(Files(), QStringList{"out.bmp"});
}

TEST_F(ReplacementFile, SavesToOneTargetAtOnceDoNotMeetAndTheLastRenameWinsWhole) {
  TReplacementFile first(FTarget);
  TReplacementFile second(FTarget);
  EXPECT_NE(first.TempName(), second.TempName());
  first.Stream().WriteBuffer("first, longer", 13);
  second.Stream().WriteBuffer("second", 6);
  second.Commit("Ошибка");
  EXPECT_EQ(ReadText(FTarget), "second");
  first.Commit("Ошибка");
  EXPECT_EQ(ReadText(FTarget), "first, longer");
  EXPECT_EQ(Files(), QStringList{"out.bmp"});
}

// Only this target's temporary files that nobody holds and that have not changed for a while are
// left over from a killed run; a link in their place is removed, never followed.
TEST_F(ReplacementFile, StaleTemporaryFilesOfTheTargetAreRemovedAndNothingElse) {
  const QString input = Path("in.bmp");
  WriteText(input, "the user's input");
  MakeOld(Path("out.a1B2c3.~bm"), "stale");
  ASSERT_EQ(::link(QFile::encodeName(input).constData(),
                   QFile::encodeName(Path("out.Linked.~bm")).constData()),
            0);
  MakeOld(input, "the user's input");
  ASSERT_EQ(::symlink(QFile::encodeName(input).constData(),
                      QFile::encodeName(Path("out.Symlnk.~bm")).constData()),
            0);
  MakeOld(Path("out.Locked.~bm"), "another save's");
  QFile locked(Path("out.Locked.~bm"));
  ASSERT_TRUE(locked.open(QIODevice::ReadWrite));
  ASSERT_EQ(::flock(locked.handle(), LOCK_EX), 0);
  WriteText(Path("out.Recent.~bm"), "just made, not yet locked");
  for (const char* other : {"out.~bm", "out.abc.~bm", "out.abcdefg.~bm", "other.abcdef.~bm",
                            "out.abcdef.~pn", "out.abcdef.bmp"})
    MakeOld(Path(other), "not ours");

  TReplacementFile file(FTarget);
  file.Stream().WriteBuffer("new", 3);
  file.Commit("Ошибка");
  EXPECT_EQ(ReadText(input), "the user's input");
  EXPECT_EQ(Files(), QStringList({"in.bmp", "other.abcdef.~bm", "out.Locked.~bm", "out.Recent.~bm",
                                  "out.Symlnk.~bm", "out.abc.~bm", "out.abcdef.bmp",
                                  "out.abcdef.~pn", "out.abcdefg.~bm", "out.bmp", "out.~bm"}));
}

TEST_F(ReplacementFile, TemporaryNamesKeepTheMarkOfTheTargetsExtension) {
  for (const auto& [target, pattern] :
       {std::pair{QStringLiteral("grid.json"), QStringLiteral("^grid\\.\\w{6}\\.~js$")},
        {QStringLiteral("picture.png"), QStringLiteral("^picture\\.\\w{6}\\.~pn$")},
        {QStringLiteral("noextension"), QStringLiteral("^noextension\\.\\w{6}\\.~$")},
        {QStringLiteral("two.dots.bmp"), QStringLiteral("^two\\.dots\\.\\w{6}\\.~bm$")}}) {
    TReplacementFile file(Path(target));
    EXPECT_TRUE(QFileInfo(file.TempName()).fileName().contains(QRegularExpression(pattern)))
        << file.TempName().toStdString();
  }
  EXPECT_EQ(Files(), QStringList());
}

TEST_F(ReplacementFile, AFolderAsTargetIsRefusedAndAFailedRenameNamesTargetAndCause) {
  QDir().mkpath(FTarget);
  EXPECT_EQ(MessageOf([&] { TReplacementFile file(FTarget); }),
            "Не удаётся создать файл " + FTarget + ": это папка, а не файл");
  const QString late = Path("late.bmp");
  TReplacementFile file(late);
  file.Stream().WriteBuffer("data", 4);
  QDir().mkpath(late + "/inside");  // made after the check: the rename fails
  EXPECT_EQ(MessageOf([&] { file.Commit("Ошибка при переименовании файла растра"); }),
            "Ошибка при переименовании файла растра в " + late + ": это папка, а не файл");
  EXPECT_FALSE(QFile::exists(file.TempName()));
  EXPECT_TRUE(QFileInfo(late + "/inside").isDir());
}

TEST_F(ReplacementFile, ATerminatingSignalRemovesTheTemporaryFile) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  for (const int signal : {SIGINT, SIGTERM}) {
    EXPECT_EXIT(
        {
          TReplacementFile file(FTarget);
          file.Stream().WriteBuffer("half", 4);
          std::raise(signal);
        },
        testing::KilledBySignal(signal), "")
        << signal;
    EXPECT_EQ(Files(), QStringList()) << signal;
  }
}
