#pragma once

#include <QString>
#include <QStringList>

class QWidget;

// The file dialogs of the raster files, in their own library because they need widgets; the
// engine only knows a TFileDialogRunner.

// A filter of "Text|mask|" pairs as the filter list of a Qt file dialog: "Text (masks)" with the
// masks separated by blanks, "*.*" meaning every file.
QStringList QtFileDialogFilters(const QString& filter);

// The standard open dialog for an existing file, opened in the proposal's folder with its name
// filled in and the filter's first entry chosen. When confirmed, fileName receives the choice.
bool RunOpenFileDialog(const QString& filter, QString& fileName, QWidget* parent = nullptr,
                       const QString& title = {});
// The standard save dialog: in an existing folder, asking before a file is overwritten, adding the
// default suffix to a name typed without one. The kind whose masks hold the proposal's extension
// is chosen; the kind the user chooses then gives the suffix (its first mask's).
bool RunSaveFileDialog(const QString& filter, const QString& defaultSuffix, QString& fileName,
                       QWidget* parent = nullptr, const QString& title = {});
