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

// The masks of a Qt filter line: "*.tif", "*.tiff" of "Растры TIFF (*.tif *.tiff)".
QStringList FilterMasks(const QString& qtFilter) {
  const qsizetype open = qtFilter.lastIndexOf(u'(');
  const qsizetype close = qtFilter.lastIndexOf(u')');
  if (open < 0 || close < open) return {};
  return qtFilter.mid(open + 1, close - open - 1).split(u' ', Qt::SkipEmptyParts);
}

// The extension of the line's first mask: what a name typed without one gets; "" for every file.
QString FilterSuffix(const QString& qtFilter) {
  const QStringList masks = FilterMasks(qtFilter);
  if (masks.isEmpty() || !masks.front().startsWith(QStringLiteral("*."))) return {};
  return masks.front().mid(2);
}

// Runs the dialog, its filters set, in the proposal's folder with its name filled in.
bool RunFileDialog(QFileDialog& dialog, QString& fileName) {
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
  dialog.setNameFilters(QtFileDialogFilters(filter));
  return RunFileDialog(dialog, fileName);
}

bool RunSaveFileDialog(const QString& filter, const QString& defaultSuffix, QString& fileName,
                       QWidget* parent, const QString& title) {
  QFileDialog dialog(parent, title);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setDefaultSuffix(defaultSuffix);
  // The kind of the proposed name is chosen, and a name typed without an extension gets that of
  // the kind the user chooses.
  const QStringList lines = QtFileDialogFilters(filter);
  dialog.setNameFilters(lines);
  const QString proposed = QFileInfo(fileName).suffix();
  for (const QString& line : lines) {
    if (proposed.isEmpty() ||
        !FilterMasks(line).contains(QStringLiteral("*.") + proposed, Qt::CaseInsensitive))
      continue;
    dialog.selectNameFilter(line);
    dialog.setDefaultSuffix(FilterSuffix(line));
    break;
  }
  QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString& line) {
    const QString suffix = FilterSuffix(line);
    if (!suffix.isEmpty()) dialog.setDefaultSuffix(suffix);
  });
  return RunFileDialog(dialog, fileName);
}
