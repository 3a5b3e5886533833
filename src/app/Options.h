#pragma once

#include "GridCalibrator.h"

#include <QDialog>

#include <cstdint>
#include <memory>

class QFrame;
class QSettings;
class QLineEdit;
class QPushButton;
class QTabWidget;

// The user's settings file of the program (~/.config/Orvanta/Velmora.conf): the options are its
// group "Options"; other state of the program belongs in groups of its own.
std::unique_ptr<QSettings> UserSettings();

// The user's settings, read once at start and written when the options dialog is confirmed. They
// are the group "Options" of the user's settings file: one text value per field under the field's
// name, numbers in decimal, the radius with the user's decimal separator (read back with either).
class TOptions : public TGridCalibratorOptions {
 public:
  // The values the options take, in their units. A smaller cache only slows every raster down,
  // and a larger one would not fit 32 bits; a node too small cannot be seen or reached with the
  // mouse, and one too large hides its neighbours and catches every click.
  static constexpr int32_t kMinRasterCache = 1024 * 1024;
  static constexpr int32_t kMaxRasterCache = INT32_MAX / 1024 * 1024;
  static constexpr double kMinGridNodeRadius = 0.00001;
  static constexpr double kMaxGridNodeRadius = 0.1;

  // The cache of raster parts given to each newly opened raster, in bytes.
  int32_t RasterCache = 5242880;
  // The pen colour of the raster's outer border.
  TColor RasterBorderColor = 0xFF0000;

  // Reads the stored values over the defaults. A value that cannot be read (not text, not a
  // number, a number beyond the limits above) stops the reading there: it is reported through the
  // standard error handling, the values read before it stay, the rest keep their defaults.
  void Load();
  // Writes the five values; a failure to write them is raised.
  void Save();
  // Runs the options dialog. When it is confirmed the options hold the new values, are saved
  // (a failure to save is reported, the new values stay in effect) and the result is true.
  bool Edit(QWidget* parent = nullptr);
};

// The options dialog "Параметры". Confirming it checks both numbers before anything changes: a
// field that is not a number, a cache or a radius too large, is reported, the dialog stays open
// and the options stay as they were; values below the floors are raised to them.
class TOptionsForm : public QDialog {
  Q_OBJECT

 public:
  // The cache is counted in kilobytes in the dialog, the radius in millimetres.
  static constexpr int32_t kMaxRasterCacheKb = TOptions::kMaxRasterCache / 1024;
  static constexpr double kMaxGridNodeRadiusMm = TOptions::kMaxGridNodeRadius * 1000;

  explicit TOptionsForm(TOptions& options, QWidget* parent = nullptr);

  // Shows values in the fields and swatches, as on opening and for "По-умолчанию".
  void ShowValues(const TOptions& values);

  void accept() override;

 private:
  // The options as the fields state them; raises when a field does not hold an allowed number.
  TOptions ReadValues();
  void DefaultBtnClick();
  void ChangeColor(QFrame* swatch);

  TOptions& FOptions;

  QTabWidget* Pages;
  QWidget* CommonSheet;
  QWidget* GridSheet;
  QLineEdit* RasterCacheEdit;
  QLineEdit* GridNodeRadiusEdit;
  QFrame* RasterBorderColorPanel;
  QFrame* SrcGridColorPanel;
  QFrame* DstGridColorPanel;
  QFrame* MissedNodeColorPanel;
  QPushButton* RasterBorderColorBtn;
  QPushButton* SrcGridColorBtn;
  QPushButton* DstGridColorBtn;
  QPushButton* MissedNodeColorBtn;
  QPushButton* DefaultBtn;
  QPushButton* OkBtn;
  QPushButton* CancelBtn;
};
