#pragma once

#include <QString>

#include <sys/types.h>

class QWidget;

// Whether a save may replace the file: yes when there is none, or it is not read-only (by its
// mode, or for the user); for a read-only one the user is told so and asked, No the default.
bool MayReplace(const QString& fileName, QWidget* parent = nullptr);

// A file that the user agreed to replace: when its mode makes it read-only, its owner may write it
// while this lives, so that a save may replace it, and it is read-only again afterwards, the file
// that replaced it as well as the one left in place. Where the user does not own the file nothing
// changes, and the save reports that it may not write it.
class TReplaceableFile {
 public:
  explicit TReplaceableFile(QString fileName);
  ~TReplaceableFile();
  TReplaceableFile(const TReplaceableFile&) = delete;
  TReplaceableFile& operator=(const TReplaceableFile&) = delete;

 private:
  QString FFileName;
  mode_t FMode = 0;
  bool FChanged = false;
};
