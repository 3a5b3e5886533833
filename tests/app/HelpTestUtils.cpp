#include "HelpTestUtils.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

QTemporaryDir& ConfigDir() {
  static QTemporaryDir dir;
  return dir;
}

// Set before any test runs, so that QStandardPaths never sees the user's own folders.
class TUserConfigEnvironment : public testing::Environment {
 public:
  void SetUp() override {
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(ConfigDir().path()));
    qputenv("XDG_CACHE_HOME", QFile::encodeName(ConfigDir().filePath(QStringLiteral("cache"))));
  }
};

[[maybe_unused]] testing::Environment* const kEnvironment =
    testing::AddGlobalTestEnvironment(new TUserConfigEnvironment);

}  // namespace

void WriteTextFile(const QString& fileName, const QString& text) {
  QDir().mkpath(QFileInfo(fileName).absolutePath());
  QFile file(fileName);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << fileName.toStdString();
  file.write(text.toUtf8());
}

QString ReadTextFile(const QString& fileName) {
  QFile file(fileName);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return QString::fromUtf8(file.readAll());
}

QString UserConfigDir() {
  return ConfigDir().path();
}

void ClearUserConfig() {
  QDir(ConfigDir().path()).removeRecursively();
  QDir().mkpath(ConfigDir().path());
}
