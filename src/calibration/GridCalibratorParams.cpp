#include "GridCalibratorParams.h"

#include "RecArrays.h"
#include "SysUtils.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <cmath>

namespace {

// The dialog's size on a screen of 96 dots per inch; larger fonts make it larger.
constexpr int kDesignWidth = 366;
constexpr int kDesignHeight = 172;

QLineEdit* AddField(QGridLayout* layout, int row, int column, const QString& caption,
                    const char* name) {
  auto* label = new QLabel(caption);
  auto* edit = new QLineEdit;
  edit->setObjectName(QLatin1String(name));
  // Room for lengths such as -1000,25 rather than a line of text.
  edit->setMaximumWidth(edit->fontMetrics().horizontalAdvance(QStringLiteral("-00000,00")) + 16);
  label->setBuddy(edit);
  layout->addWidget(label, row, column);
  layout->addWidget(edit, row, column + 1);
  return edit;
}

// Lengths are shown to the hundredth of a centimetre, without trailing zeros.
QString LengthText(double centimetres) {
  return FloatToStr(std::nearbyint(centimetres * 100) / 100);
}

}  // namespace

TGridCalibratorParamsForm::TGridCalibratorParamsForm(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Параметры эталонной сетки"));
  setWindowFlag(Qt::WindowContextHelpButtonHint, true);

  SizeGroup = new QGroupBox(QStringLiteral("Габариты сетки (см бумажной основы)"));
  SizeGroup->setObjectName(QStringLiteral("SizeGroup"));
  auto* sizeLayout = new QGridLayout(SizeGroup);
  GridLeftEdit = AddField(sizeLayout, 0, 0, QStringLiteral("Левая граница"), "GridLeftEdit");
  GridTopEdit = AddField(sizeLayout, 0, 2, QStringLiteral("Верхняя граница"), "GridTopEdit");
  GridWidthEdit = AddField(sizeLayout, 1, 0, QStringLiteral("Ширина"), "GridWidthEdit");
  GridHeightEdit = AddField(sizeLayout, 1, 2, QStringLiteral("Высота"), "GridHeightEdit");

  CellGroup = new QGroupBox(QStringLiteral("Количество ячеек"));
  CellGroup->setObjectName(QStringLiteral("CellGroup"));
  auto* cellLayout = new QGridLayout(CellGroup);
  CellXNEdit = AddField(cellLayout, 0, 0, QStringLiteral("По горизонтали"), "CellXNEdit");
  CellYNEdit = AddField(cellLayout, 0, 2, QStringLiteral("По вертикали"), "CellYNEdit");

  OkBtn = new QPushButton(QStringLiteral("OK"));
  OkBtn->setObjectName(QStringLiteral("OkBtn"));
  OkBtn->setDefault(true);
  connect(OkBtn, &QPushButton::clicked, this, &TGridCalibratorParamsForm::accept);
  CancelBtn = new QPushButton(QStringLiteral("Отмена"));
  CancelBtn->setObjectName(QStringLiteral("CancelBtn"));
  connect(CancelBtn, &QPushButton::clicked, this, &TGridCalibratorParamsForm::reject);

  auto* groups = new QVBoxLayout;
  groups->addWidget(SizeGroup);
  groups->addWidget(CellGroup);
  groups->addStretch();
  auto* buttons = new QVBoxLayout;
  buttons->addWidget(OkBtn);
  buttons->addWidget(CancelBtn);
  buttons->addStretch();
  auto* layout = new QHBoxLayout(this);
  layout->addLayout(groups, 1);
  layout->addLayout(buttons);

  setTabOrder(GridLeftEdit, GridTopEdit);
  setTabOrder(GridTopEdit, GridWidthEdit);
  setTabOrder(GridWidthEdit, GridHeightEdit);
  setTabOrder(GridHeightEdit, CellXNEdit);
  setTabOrder(CellXNEdit, CellYNEdit);
  setTabOrder(CellYNEdit, OkBtn);
  setTabOrder(OkBtn, CancelBtn);

  const double scale = logicalDpiX() / 96.0;
  const QSize design(std::lround(kDesignWidth * scale), std::lround(kDesignHeight * scale));
  setFixedSize(design.expandedTo(sizeHint()));
}

void TGridCalibratorParamsForm::SetValues(const TGridPaperParams& centimetres) {
  FValues = centimetres;
  GridLeftEdit->setText(LengthText(FValues.Left));
  GridTopEdit->setText(LengthText(FValues.Top));
  GridWidthEdit->setText(LengthText(FValues.Width));
  GridHeightEdit->setText(LengthText(FValues.Height));
  CellXNEdit->setText(QString::number(FValues.CellsX));
  CellYNEdit->setText(QString::number(FValues.CellsY));
}

void TGridCalibratorParamsForm::ReadFields() {
  QLineEdit* field = nullptr;
  try {
    const auto length = [&field](QLineEdit* edit) {
      field = edit;
      return StrToFloatAnySep(edit->text().trimmed());
    };
    const auto count = [&field](QLineEdit* edit) {
      field = edit;
      return StrToInt(edit->text().trimmed());
    };
    FValues.Left = length(GridLeftEdit);
    FValues.Top = length(GridTopEdit);
    FValues.Width = length(GridWidthEdit);
    FValues.Height = length(GridHeightEdit);
    FValues.CellsX = count(CellXNEdit);
    FValues.CellsY = count(CellYNEdit);
    const QString problem = PaperParamsProblem(FValues);
    if (!problem.isEmpty()) {
      field = !(FValues.Width > 0)    ? GridWidthEdit
              : !(FValues.Height > 0) ? GridHeightEdit
              : FValues.CellsX < 1    ? CellXNEdit
                                      : CellYNEdit;
      throw Exception(problem);
    }
  } catch (const Exception&) {
    // The user corrects the field at fault: it has the focus when the message is closed.
    field->setFocus();
    field->selectAll();
    throw;
  }
}

void TGridCalibratorParamsForm::accept() {
  try {
    ReadFields();
  } catch (const Exception& e) {
    HandleException(e);
    return;
  }
  QDialog::accept();
}

bool ShowGridParamsDialog(double& left, double& top, double& width, double& height, int& cellsX,
                          int& cellsY, QWidget* parent) {
  TGridCalibratorParamsForm form(parent);
  form.SetValues(
      TGridPaperParams{left * 100, top * 100, width * 100, height * 100, cellsX, cellsY});
  if (form.exec() != QDialog::Accepted) return false;
  const TGridPaperParams& values = form.Values();
  left = values.Left / 100;
  top = values.Top / 100;
  width = values.Width / 100;
  height = values.Height / 100;
  cellsX = values.CellsX;
  cellsY = values.CellsY;
  return true;
}
