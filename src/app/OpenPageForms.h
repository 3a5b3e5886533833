#pragma once

#include "RasterFiles.h"

#include <QDialog>

class QLabel;
class QPushButton;
class QSpinBox;

// The dialog "Страница документа": which page of a document of drawn pages (a PDF) opens as the
// raster, and the resolution it is drawn at, in dots per inch. The page is counted from 1; a page
// the document does not have is reported when the document opens.
class TOpenPageForm : public QDialog {
  Q_OBJECT

 public:
  explicit TOpenPageForm(const QString& fileName, QWidget* parent = nullptr);

  TRasterOpenOptions Options() const;
  void SetOptions(const TRasterOpenOptions& options);

  static constexpr int kMaxPage = 99999;
  static constexpr int kMinDpi = 10;
  static constexpr int kMaxDpi = 2400;

 private:
  QLabel* FileLbl;
  QLabel* PageLbl;
  QSpinBox* PageEdit;
  QLabel* DpiLbl;
  QSpinBox* DpiEdit;
  QPushButton* OkBtn;
  QPushButton* CancelBtn;
};

// Asks how a file of drawn pages opens, the options going in as the proposal; any other file opens
// as it is, without a question. False when the user cancelled.
bool AskOpenOptions(const TRasterFileProvider& provider, const QString& fileName,
                    TRasterOpenOptions& options, QWidget* parent = nullptr);
