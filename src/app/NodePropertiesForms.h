#pragma once

#include <QDialog>

#include <cstdint>

class QLabel;
class QSpinBox;
class TGridCalibrator;

// The dialog "Свойства узла": which node it is, its reference place, what became of it, and its
// place on the raster in pixels, which the user may type. Confirmed with another place, the node
// moves there as a step that can be undone.
class TNodePropertiesForm : public QDialog {
  Q_OBJECT

 public:
  TNodePropertiesForm(TGridCalibrator& calibrator, int32_t i, int32_t j, QWidget* parent = nullptr);

  void accept() override;

  QSpinBox* XEdit;
  QSpinBox* YEdit;

 private:
  TGridCalibrator& FCalibrator;
  int32_t FI;
  int32_t FJ;
};
