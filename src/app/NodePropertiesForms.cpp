#include "NodePropertiesForms.h"

#include "GridCalibrator.h"
#include "GridNodesModels.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>

#include <climits>

TNodePropertiesForm::TNodePropertiesForm(TGridCalibrator& calibrator, int32_t i, int32_t j,
                                         QWidget* parent)
    : QDialog(parent), FCalibrator(calibrator), FI(i), FJ(j) {
  setObjectName(QStringLiteral("NodePropertiesForm"));
  setWindowTitle(QStringLiteral("Свойства узла"));
  const TGridInfo& grid = calibrator.Grid();
  const TPoint ref = grid.RefPos(i, j);
  const TPoint pos = grid.NodePos(i, j);
  auto* form = new QFormLayout(this);
  form->addRow(QStringLiteral("Узел:"), new QLabel(QStringLiteral("(%1, %2)").arg(i).arg(j)));
  form->addRow(QStringLiteral("Эталонное место:"),
               new QLabel(QStringLiteral("%1; %2 px").arg(ref.X).arg(ref.Y)));
  form->addRow(QStringLiteral("Состояние:"), new QLabel(NodeStateText(calibrator.NodeInfo(i, j))));
  const auto coordinate = [this](const char* name, int value) {
    auto* edit = new QSpinBox(this);
    edit->setObjectName(QLatin1String(name));
    edit->setRange(INT_MIN / 2, INT_MAX / 2);
    edit->setSuffix(QStringLiteral(" px"));
    edit->setValue(value);
    return edit;
  };
  XEdit = coordinate("NodeXEdit", pos.X);
  YEdit = coordinate("NodeYEdit", pos.Y);
  form->addRow(QStringLiteral("X:"), XEdit);
  form->addRow(QStringLiteral("Y:"), YEdit);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->setObjectName(QStringLiteral("Buttons"));
  buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("OkBtn"));
  buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("CancelBtn"));
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  form->addRow(buttons);
  XEdit->selectAll();
}

void TNodePropertiesForm::accept() {
  const TPoint place{XEdit->value(), YEdit->value()};
  if (!(place == FCalibrator.Grid().NodePos(FI, FJ))) FCalibrator.PlaceNode(FI, FJ, place);
  QDialog::accept();
}
