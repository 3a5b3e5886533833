#pragma once

#include <QObject>
#include <QStringList>

#include <functional>
#include <vector>

class QAction;
class QMenu;

// The rasters opened last, newest first, kept in the user's settings across runs, as numbered
// items of a menu placed before one of its items (under a separator of their own, none when the
// list is empty). Choosing an item opens its file through OnOpen.
class TRecentFiles : public QObject {
 public:
  static constexpr int kCount = 8;

  TRecentFiles(QMenu* menu, QAction* before, std::function<void(const QString& file)> onOpen);

  const QStringList& Files() const { return FFiles; }
  // A file opened or saved goes to the top; a file that cannot be opened leaves the list.
  void Add(const QString& fileName);
  void Remove(const QString& fileName);
  // While long work runs the items are greyed: no other raster may be opened then.
  void SetEnabled(bool enabled);

 private:
  void Save() const;
  void Rebuild();

  QMenu* FMenu;
  QAction* FBefore;
  std::function<void(const QString& file)> FOnOpen;
  QStringList FFiles;
  bool FEnabled = true;
  std::vector<QAction*> FItems;  // the separator, then the files' items
};

// The folder the file dialogs propose, remembered across runs: that of the last file the user
// opened or saved.
QString LastFolder();
void RememberFolder(const QString& fileName);
