#pragma once

#include "RasterFiles.h"

#include <QDialog>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

// The dialog "Свойства растра": the raster's resolution in dots per metre, the unit the raster
// keeps, shown also in dots per inch. The user types in either unit (the radio buttons choose
// which fields are editable) and the other unit follows while typing. Confirming reads the metre
// fields, which hold the converted values in the inch mode too. An editable field that is not a
// whole number, or a negative resolution, is reported and the dialog stays open. Zero is allowed:
// it means the resolution is unknown and the screen's is used. Below, the file the raster came from
// is described: its format, compression, layout and depth, and what reading it changed.
class TRasterPropertiesForm : public QDialog {
  Q_OBJECT

 public:
  explicit TRasterPropertiesForm(QWidget* parent = nullptr);

  int XResPerMeter() const { return FXResPerMeter; }
  int YResPerMeter() const { return FYResPerMeter; }
  // Sets the value and shows it in its metre field; the inch field follows.
  void SetXResPerMeter(int value);
  void SetYResPerMeter(int value);
  // Shows the file's description; a format without a name hides it.
  void SetFileFormat(const TRasterFileFormat& format);

  void accept() override;

 protected:
  // The dialog always opens in the metre mode.
  void showEvent(QShowEvent* event) override;

 private:
  void ResPerMeterRadioBtnClick();
  void ResPerInchRadioBtnClick();
  // Shows the value of one field converted in the other; the counter keeps the other field's own
  // change from converting back.
  void Convert(const QLineEdit* source, QLineEdit* target, bool toInches);
  // The confirmed value of one axis; raises when the field the user types in is not a whole
  // number or is negative.
  int ReadResolution(QLineEdit* metreEdit, QLineEdit* inchEdit) const;
  void FitSize();

  int FXResPerMeter = 0;
  int FYResPerMeter = 0;
  int FUpdating = 0;

  QGroupBox* ResolutionGbx;
  QRadioButton* ResPerMeterRadioBtn;
  QRadioButton* ResPerInchRadioBtn;
  QLineEdit* XResPerMeterEdit;
  QLineEdit* YResPerMeterEdit;
  QLineEdit* XResPerInchEdit;
  QLineEdit* YResPerInchEdit;
  QGroupBox* FileGbx;
  QLabel* FileInfoLbl;
  QPushButton* OkBtn;
  QPushButton* CancelBtn;
};

// Runs the dialog on a raster's resolution in dots per metre, showing the format of its file. When
// the user confirms, the arguments receive the new values and the result is true; otherwise they
// are left untouched.
bool EditRasterProperties(int& xPelsPerMeter, int& yPelsPerMeter,
                          const TRasterFileFormat& format = {}, QWidget* parent = nullptr);
