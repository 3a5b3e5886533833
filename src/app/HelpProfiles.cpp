#include "HelpProfiles.h"

#include "SysUtils.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

#include <unistd.h>

namespace {

bool ReadValue(const QString& fileName, const QString& section, const QString& key,
               QString& value) {
  if (!QFileInfo(fileName).isFile()) return false;
  QSettings profile(fileName, QSettings::IniFormat);
  profile.beginGroup(section);
  if (!profile.contains(key)) return false;
  value = profile.value(key).toString();
  return true;
}

bool WriteValue(const QString& fileName, const QString& section, const QString& key,
                const QString& value) {
  QSettings profile(fileName, QSettings::IniFormat);
  profile.beginGroup(section);
  profile.setValue(key, value);
  profile.endGroup();
  profile.sync();
  return profile.status() == QSettings::NoError;
}

[[noreturn]] void RaiseCannotWrite(const QString& fileName) {
  throw Exception(QStringLiteral("Не удалось записать файл контекстной справки %1").arg(fileName));
}

}  // namespace

THelpProfile::THelpProfile(QString fileName) : FFileName(std::move(fileName)) {}

QString THelpProfile::UserCopyFileName() const {
  return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
         QStringLiteral("/Orvanta/Velmora/") + QFileInfo(FFileName).fileName();
}

QString THelpProfile::Read(const QString& section, const QString& key) const {
  QString value;
  if (ReadValue(UserCopyFileName(), section, key, value)) return value;
  ReadValue(FFileName, section, key, value);
  return value;
}

void THelpProfile::Write(const QString& section, const QString& key, const QString& value) {
  const QString copy = UserCopyFileName();
  // Once the user's copy exists it is read first, so a write to the profile would be hidden.
  if (!QFileInfo::exists(copy) && CanWriteOriginal()) {
    if (WriteValue(FFileName, section, key, value)) return;
  }
  MakeUserCopy(copy);
  if (!WriteValue(copy, section, key, value)) RaiseCannotWrite(copy);
}

bool THelpProfile::CanWriteOriginal() const {
  const QFileInfo info(FFileName);
  // QSettings replaces the file through a new one beside it, so the folder must take files too.
  const QByteArray folder = QFile::encodeName(info.absolutePath());
  if (::access(folder.constData(), W_OK | X_OK) != 0) return false;
  return !info.exists() || ::access(QFile::encodeName(FFileName).constData(), W_OK) == 0;
}

void THelpProfile::MakeUserCopy(const QString& copy) const {
  if (QFileInfo::exists(copy)) return;
  if (!QDir().mkpath(QFileInfo(copy).absolutePath())) RaiseCannotWrite(copy);
  if (QFileInfo(FFileName).isFile()) {
    if (!QFile::copy(FFileName, copy)) RaiseCannotWrite(copy);
    // An installed profile is read-only, and the copy keeps the permissions of its original.
    QFile::setPermissions(copy, QFile::permissions(copy) | QFile::ReadOwner | QFile::WriteOwner);
  }
}
