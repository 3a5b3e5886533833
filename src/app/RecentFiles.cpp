#include "RecentFiles.h"

#include "Options.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QSettings>

namespace {

const QString kGroup = QStringLiteral("Files");
const QString kRecent = QStringLiteral("Recent");
const QString kFolder = QStringLiteral("LastFolder");

}  // namespace

TRecentFiles::TRecentFiles(QMenu* menu, QAction* before,
                           std::function<void(const QString& file)> onOpen)
    : QObject(menu), FMenu(menu), FBefore(before), FOnOpen(std::move(onOpen)) {
  const std::unique_ptr<QSettings> settings = UserSettings();
  // A value of another kind (a hand-edited file) counts as no list.
  const QVariant stored = settings->value(kGroup + QLatin1Char('/') + kRecent);
  if (stored.typeId() == QMetaType::QStringList || stored.typeId() == QMetaType::QString)
    for (const QString& file : stored.toStringList())
      if (!file.isEmpty() && !FFiles.contains(file) && FFiles.size() < kCount) FFiles << file;
  Rebuild();
}

void TRecentFiles::Add(const QString& fileName) {
  const QString file = QFileInfo(fileName).absoluteFilePath();
  FFiles.removeAll(file);
  FFiles.prepend(file);
  while (FFiles.size() > kCount) FFiles.removeLast();
  Save();
  Rebuild();
}

void TRecentFiles::Remove(const QString& fileName) {
  if (FFiles.removeAll(QFileInfo(fileName).absoluteFilePath()) == 0) return;
  Save();
  Rebuild();
}

void TRecentFiles::SetEnabled(bool enabled) {
  FEnabled = enabled;
  for (QAction* item : FItems) item->setEnabled(enabled);
}

void TRecentFiles::Save() const {
  UserSettings()->setValue(kGroup + QLatin1Char('/') + kRecent, FFiles);
}

void TRecentFiles::Rebuild() {
  for (QAction* item : FItems) {
    FMenu->removeAction(item);
    delete item;
  }
  FItems.clear();
  if (FFiles.isEmpty()) return;
  for (int k = 0; k < FFiles.size(); ++k) {
    const QString file = FFiles[k];
    // The name in the menu, the whole path in the hint; & would mark an access key.
    QString name = QFileInfo(file).fileName();
    name.replace(QLatin1Char('&'), QStringLiteral("&&"));
    auto* item = new QAction(QStringLiteral("&%1 %2").arg(k + 1).arg(name), FMenu);
    item->setObjectName(QStringLiteral("RecentFileMenu"));
    item->setStatusTip(QDir::toNativeSeparators(file));
    item->setToolTip(QDir::toNativeSeparators(file));
    item->setEnabled(FEnabled);
    connect(item, &QAction::triggered, this, [this, file] { FOnOpen(file); });
    FMenu->insertAction(FBefore, item);
    FItems.push_back(item);
  }
  FItems.insert(FItems.begin(), FMenu->insertSeparator(FBefore));
}

QString LastFolder() {
  const QVariant stored = UserSettings()->value(kGroup + QLatin1Char('/') + kFolder);
  const QString folder = stored.typeId() == QMetaType::QString ? stored.toString() : QString();
  return !folder.isEmpty() && QFileInfo(folder).isDir() ? folder : QString();
}

void RememberFolder(const QString& fileName) {
  UserSettings()->setValue(kGroup + QLatin1Char('/') + kFolder, QFileInfo(fileName).absolutePath());
}
