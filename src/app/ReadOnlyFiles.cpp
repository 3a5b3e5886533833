#include "ReadOnlyFiles.h"

#include "FormUtils.h"

#include <QAbstractButton>
#include <QDir>
#include <QFile>
#include <QMessageBox>

#include <sys/stat.h>
#include <unistd.h>

bool MayReplace(const QString& fileName, QWidget* parent) {
  const QByteArray path = QFile::encodeName(fileName);
  struct stat st;
  if (::stat(path.constData(), &st) != 0 || !S_ISREG(st.st_mode)) return true;
  // The superuser may write any file: its mode says whether it was meant to be kept.
  if ((st.st_mode & S_IWUSR) && ::access(path.constData(), W_OK) == 0) return true;
  QMessageBox box(QMessageBox::Question, ApplicationTitle(),
                  QStringLiteral("Файл %1 доступен только для чтения. Заменить его?")
                      .arg(QDir::toNativeSeparators(fileName)),
                  QMessageBox::Yes | QMessageBox::No, parent);
  // The file was made read-only for a reason.
  box.setDefaultButton(QMessageBox::No);
  box.setEscapeButton(QMessageBox::No);
  box.exec();
  return box.clickedButton() && box.standardButton(box.clickedButton()) == QMessageBox::Yes;
}

TReplaceableFile::TReplaceableFile(QString fileName) : FFileName(std::move(fileName)) {
  const QByteArray path = QFile::encodeName(FFileName);
  struct stat st;
  if (::stat(path.constData(), &st) != 0 || (st.st_mode & S_IWUSR)) return;
  FMode = st.st_mode & 07777;
  FChanged = ::chmod(path.constData(), FMode | S_IWUSR) == 0;
}

TReplaceableFile::~TReplaceableFile() {
  if (FChanged) ::chmod(QFile::encodeName(FFileName).constData(), FMode);
}
