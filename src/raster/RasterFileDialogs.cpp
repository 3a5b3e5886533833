#include "RasterFileDialogs.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QRegularExpression>

QStringList QtFileDialogFilters(const QString& filter) {
  const QStringList parts = filter.split(u'|');
  QStringList filters;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QString text = parts[i];
    text.remove(QRegularExpression(QStringLiteral("\\s*\\([^()]*\\)\\s*$")));
    QStringList masks = parts[i + 1].split(u';', Qt::SkipEmptyParts);
    for (QString& mask : masks) {
      mask = mask.trimmed();
      if (mask == QStringLiteral("*.*")) mask = QStringLiteral("*");
    }
    filters << QStringLiteral("%1 (%2)").arg(text, masks.join(u' '));
  }
  return filters;
}

namespace {

bool RunFileDialog(QFileDialog& dialog, const QString& filter, QString& fileName) {
  dialog.setNameFilters(QtFileDialogFilters(filter));
  if (!fileName.isEmpty()) {
    const QFileInfo proposal(fileName);
    dialog.setDirectory(proposal.absolutePath());
    dialog.selectFile(proposal.fileName());
  }
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
  fileName = dialog.selectedFiles().front();
  return true;
}

}  // namespace

bool RunOpenFileDialog(const QString& filter, QString& fileName, QWidget* parent,
                       const QString& title) {
  QFileDialog dialog(parent, title);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFile);
  return RunFileDialog(dialog, filter, fileName);
}

bool RunSaveFileDialog(const QString& filter, const QString& defaultSuffix, QString& fileName,
                       QWidget* parent, const QString& title) {
  QFileDialog dialog(parent, title);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setDefaultSuffix(defaultSuffix);
  return RunFileDialog(dialog, filter, fileName);
}
