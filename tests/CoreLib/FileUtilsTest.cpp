#include "FileUtils.h"
#include "MessageOf.h"
#include "QtPrinters.h"

#include "RecArrays.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>

namespace {}  // namespace

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
  EXPECT_THROW(TTempFileStream("/no/such/dir/file"), EOSError);
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
  EXPECT_TRUE(MessageOf([] {
                TFileStream s("/no/such/file.bmp", TFileMode::fmOpenRead);
              }).startsWith(QStringLiteral("Cannot open file /no/such/file.bmp")));
  EXPECT_TRUE(MessageOf([] {
                TFileStream s("/no/such/dir/x.bmp", TFileMode::fmCreate);
              }).startsWith(QStringLiteral("Cannot create file /no/such/dir/x.bmp")));
  EXPECT_THROW(TFileStream(QDir::tempPath(), TFileMode::fmOpenRead), EFOpenError);
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
  QProcess writer;
  writer.start("/bin/sh", {"-c", "printf 'rewritten by another program' > \"$0\"", name});
  ASSERT_TRUE(writer.waitForFinished(30000));
  EXPECT_EQ(writer.exitCode(), 0);
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
