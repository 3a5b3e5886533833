#pragma once

#include "GridInfo.h"

#include <QDialog>

#include <optional>

class QLineEdit;
class QGroupBox;
class QPushButton;

// The dialog "Параметры эталонной сетки": where the reference grid lies on the paper sheet and how
// large it is, in centimetres of the paper base, how many cells it has across and down, and, for a
// map sheet, where the grid lies on the map.
// Closing it with OK reads every field and checks the grid; a failure is shown through the
// program's standard error handling and the dialog stays open with the user's texts.
class TGridCalibratorParamsForm : public QDialog {
  Q_OBJECT

 public:
  explicit TGridCalibratorParamsForm(QWidget* parent = nullptr);

  // The form's values, lengths in centimetres. Setting them fills the fields: lengths rounded to
  // hundredths, counts as integers.
  const TGridPaperParams& Values() const { return FValues; }
  void SetValues(const TGridPaperParams& centimetres);
  // The grid's map coordinates, none when the section "Координаты на карте" is off. Setting them
  // fills the section and turns it on or off.
  const std::optional<TGridMap>& Map() const { return FMap; }
  void SetMap(const std::optional<TGridMap>& map);

  void accept() override;

 private:
  // Reads every field into the form's values, in the order of the fields, then checks them;
  // raises the first failure.
  void ReadFields();
  // Reads the map section, when it is on; raises the first failure with its field focused.
  void ReadMapFields();

  TGridPaperParams FValues;
  std::optional<TGridMap> FMap;

  QGroupBox* SizeGroup;
  QLineEdit* GridLeftEdit;
  QLineEdit* GridTopEdit;
  QLineEdit* GridWidthEdit;
  QLineEdit* GridHeightEdit;
  QGroupBox* CellGroup;
  QLineEdit* CellXNEdit;
  QLineEdit* CellYNEdit;
  QGroupBox* MapGroup;
  QLineEdit* MapCrsEdit;
  QLineEdit* MapXEdit;
  QLineEdit* MapYEdit;
  QLineEdit* MapStepXEdit;
  QLineEdit* MapStepYEdit;
  QPushButton* OkBtn;
  QPushButton* CancelBtn;
};

// Runs the dialog on the grid's parameters, lengths in metres of the paper base, and its map
// coordinates. When the user confirms, the arguments receive the confirmed values and the result
// is true; otherwise they are left untouched.
bool ShowGridParamsDialog(double& left, double& top, double& width, double& height, int& cellsX,
                          int& cellsY, std::optional<TGridMap>& map, QWidget* parent = nullptr);
