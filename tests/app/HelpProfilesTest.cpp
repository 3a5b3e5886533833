#include "HelpProfiles.h"
#include "HelpTestUtils.h"
#include "MessageOf.h"
#include "QtPrinters.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

class HelpProfileTest : public testing::Test {
 protected:
  void SetUp() override { ClearUserConfig(); }

  QString UserCopy() const {
    return UserConfigDir() + QStringLiteral("/Orvanta/Velmora/velmora.ini");
  }

  QTemporaryDir Dir;
  QString Original = Dir.filePath(QStringLiteral("velmora.ini"));
};

}  // namespace

TEST_F(HelpProfileTest, ReadsTheTopicOfAFormsControl) {
  WriteTextFile(Original, QStringLiteral("[TAboutForm]\nOkBtn=#3 popups.txt\nForm=help.html#about\n"
                                         "[Forms]\nForm%282%29=help.html\n"));
  THelpProfile profile(Original);
  EXPECT_EQ(profile.UserCopyFileName(), UserCopy());
  EXPECT_EQ(profile.Read(QStringLiteral("TAboutForm"), QStringLiteral("OkBtn")), "#3 popups.txt");
  EXPECT_EQ(profile.Read(QStringLiteral("Forms"), QStringLiteral("Form(2)")), "help.html");
  EXPECT_EQ(profile.Read(QStringLiteral("TAboutForm"), QStringLiteral("Panel1")), "");
  EXPECT_EQ(profile.Read(QStringLiteral("TMainForm"), QStringLiteral("OkBtn")), "");
  EXPECT_EQ(THelpProfile(Dir.filePath(QStringLiteral("none.ini")))
                .Read(QStringLiteral("TAboutForm"), QStringLiteral("OkBtn")),
            "");
}

TEST_F(HelpProfileTest, AWritableProfileIsWrittenInPlace) {
  WriteTextFile(Original, QStringLiteral("[TAboutForm]\nOkBtn=old.html\n"));
  THelpProfile profile(Original);
  profile.Write(QStringLiteral("TAboutForm"), QStringLiteral("OkBtn"), QStringLiteral("new.html"));
  profile.Write(QStringLiteral("Forms"), QStringLiteral("Form(2)"), QStringLiteral("caption.html"));
  EXPECT_EQ(profile.Read(QStringLiteral("TAboutForm"), QStringLiteral("OkBtn")), "new.html");
  EXPECT_EQ(profile.Read(QStringLiteral("Forms"), QStringLiteral("Form(2)")), "caption.html");
  EXPECT_FALSE(QFileInfo::exists(UserCopy()));
  EXPECT_TRUE(ReadTextFile(Original).contains("Form%282%29=caption.html"));
}

TEST_F(HelpProfileTest, AProfileThatCannotBeWrittenGetsAUserCopyWhichIsReadFirst) {
  // A folder that cannot be made: the profile of a program installed where its user cannot write.
  WriteTextFile(Dir.filePath(QStringLiteral("file")), QStringLiteral("x"));
  THelpProfile profile(Dir.filePath(QStringLiteral("file/velmora.ini")));
  profile.Write(QStringLiteral("TAboutForm"), QStringLiteral("OkBtn"), QStringLiteral("a.html"));
  EXPECT_TRUE(QFileInfo::exists(UserCopy()));
  EXPECT_EQ(profile.Read(QStringLiteral("TAboutForm"), QStringLiteral("OkBtn")), "a.html");
}

TEST_F(HelpProfileTest, OnceAUserCopyExistsItTakesEveryWriteAndItsKeysWin) {
  WriteTextFile(Original, QStringLiteral("[TAboutForm]\nOkBtn=original.html\nForm=about.html\n"));
  WriteTextFile(UserCopy(), QStringLiteral("[TAboutForm]\nOkBtn=\n"));
  THelpProfile profile(Original);
  // An empty value of the copy is the user's own choice, not a missing key.
  EXPECT_EQ(profile.Read(QStringLiteral("TAboutForm"), QStringLiteral("OkBtn")), "");
  EXPECT_EQ(profile.Read(QStringLiteral("TAboutForm"), QStringLiteral("Form")), "about.html");
  profile.Write(QStringLiteral("TAboutForm"), QStringLiteral("Form"), QStringLiteral("mine.html"));
  EXPECT_EQ(profile.Read(QStringLiteral("TAboutForm"), QStringLiteral("Form")), "mine.html");
  EXPECT_TRUE(ReadTextFile(Original).contains("Form=about.html"));
  EXPECT_TRUE(ReadTextFile(UserCopy()).contains("Form=mine.html"));
}

TEST_F(HelpProfileTest, AReadOnlyProfileIsCopiedWholeBeforeTheFirstWrite) {
  if (::geteuid() == 0) GTEST_SKIP() << "the superuser writes read-only files";
  WriteTextFile(Original, QStringLiteral("[TAboutForm]\nForm=about.html\nOkBtn=#3 popups.txt\n"));
  QFile::setPermissions(Original, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
  QFile::setPermissions(Dir.path(), QFile::ReadOwner | QFile::ExeOwner);
  THelpProfile profile(Original);
  profile.Write(QStringLiteral("TAboutForm"), QStringLiteral("OkBtn"), QStringLiteral("ok.html"));
  QFile::setPermissions(Dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  EXPECT_EQ(profile.Read(QStringLiteral("TAboutForm"), QStringLiteral("OkBtn")), "ok.html");
  EXPECT_EQ(profile.Read(QStringLiteral("TAboutForm"), QStringLiteral("Form")), "about.html");
  EXPECT_TRUE(ReadTextFile(UserCopy()).contains("Form=about.html"));
  EXPECT_TRUE(ReadTextFile(Original).contains("OkBtn=#3 popups.txt"));
  EXPECT_TRUE(QFileInfo(UserCopy()).isWritable());
}

TEST_F(HelpProfileTest, NoWritableFileAtAllIsAClearError) {
  // The configuration folder is a file: neither the profile nor a copy can be written.
  WriteTextFile(Dir.filePath(QStringLiteral("file")), QStringLiteral("x"));
  QDir(UserConfigDir()).removeRecursively();
  WriteTextFile(UserConfigDir(), QStringLiteral("x"));
  THelpProfile profile(Dir.filePath(QStringLiteral("file/velmora.ini")));
  const QString message = MessageOf([&] {
    profile.Write(QStringLiteral("TAboutForm"), QStringLiteral("OkBtn"), QStringLiteral("a.html"));
  });
  QFile::remove(UserConfigDir());
  ClearUserConfig();
  EXPECT_EQ(message, "Не удалось записать файл контекстной справки " + UserCopy());
}
