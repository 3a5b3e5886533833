#include "GridCalibratorParams.h"

#include "CoordinateSystems.h"
#include "RecArrays.h"
#include "SysUtils.h"

#include <QCompleter>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStringListModel>
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

// Map coordinates and steps in metres, to the millimetre, without trailing zeros.
QString MetresText(double metres) {
  return FloatToStr(std::nearbyint(metres * 1000) / 1000);
}

// A CRS as the list shows it: its code, then its name, so that either can be typed to find it.
QString CrsText(const TCoordinateSystem& system) {
  return system.Id + QStringLiteral(" ") + system.Name;
}

// The list of the CRS field: every projected CRS of PROJ's database, found by any part of its code
// or name, whatever the case.
QCompleter* CrsCompleter(QObject* parent) {
  QStringList texts;
  for (const TCoordinateSystem& system : ProjectedCoordinateSystems()) texts << CrsText(system);
  auto* completer = new QCompleter(new QStringListModel(texts, parent), parent);
  completer->setCaseSensitivity(Qt::CaseInsensitive);
  completer->setFilterMode(Qt::MatchContains);
  completer->setMaxVisibleItems(12);
  return completer;
}

// The CRS of the field's text: a code or name PROJ knows, or an entry of the list (a code and a
// name after it).
TCoordinateSystem CrsOfText(const QString& text) {
  try {
    return FindCoordinateSystem(text);
  } catch (const Exception&) {
    const QString code = text.trimmed().section(u' ', 0, 0);
    if (!code.contains(u':') || code == text.trimmed()) throw;
    return FindCoordinateSystem(code);
  }
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

  MapGroup = new QGroupBox(QStringLiteral("Координаты на карте"));
  MapGroup->setObjectName(QStringLiteral("MapGroup"));
  MapGroup->setCheckable(true);
  MapGroup->setChecked(false);
  auto* mapLayout = new QGridLayout(MapGroup);
  MapCrsEdit = AddField(mapLayout, 0, 0, QStringLiteral("Система координат"), "MapCrsEdit");
  MapCrsEdit->setMaximumWidth(QWIDGETSIZE_MAX);
  MapCrsEdit->setPlaceholderText(QStringLiteral("код EPSG или часть названия"));
  MapCrsEdit->setCompleter(CrsCompleter(MapCrsEdit));
  mapLayout->removeWidget(MapCrsEdit);
  mapLayout->addWidget(MapCrsEdit, 0, 1, 1, 3);
  MapXEdit = AddField(mapLayout, 1, 0, QStringLiteral("Восток (X), м"), "MapXEdit");
  MapYEdit = AddField(mapLayout, 1, 2, QStringLiteral("Север (Y), м"), "MapYEdit");
  MapStepXEdit = AddField(mapLayout, 2, 0, QStringLiteral("Шаг по горизонтали, м"), "MapStepXEdit");
  MapStepYEdit = AddField(mapLayout, 2, 2, QStringLiteral("Шаг по вертикали, м"), "MapStepYEdit");
  for (QLineEdit* edit : {MapXEdit, MapYEdit})
    edit->setMaximumWidth(edit->fontMetrics().horizontalAdvance(QStringLiteral("-00000000,000")) +
                          16);

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
  groups->addWidget(MapGroup);
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
  setTabOrder(CellYNEdit, MapGroup);
  setTabOrder(MapGroup, MapCrsEdit);
  setTabOrder(MapCrsEdit, MapXEdit);
  setTabOrder(MapXEdit, MapYEdit);
  setTabOrder(MapYEdit, MapStepXEdit);
  setTabOrder(MapStepXEdit, MapStepYEdit);
  setTabOrder(MapStepYEdit, OkBtn);
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

void TGridCalibratorParamsForm::SetMap(const std::optional<TGridMap>& map) {
  FMap = map;
  MapGroup->setChecked(map.has_value());
  if (!map) return;
  QString crs = map->Crs;
  try {
    crs = CrsText(FindCoordinateSystem(map->Crs));
  } catch (const Exception&) {
    // A CRS this PROJ does not know is shown as the grid names it, for the user to correct.
  }
  MapCrsEdit->setText(crs);
  MapXEdit->setText(MetresText(map->X));
  MapYEdit->setText(MetresText(map->Y));
  MapStepXEdit->setText(MetresText(map->StepX));
  MapStepYEdit->setText(MetresText(map->StepY));
}

void TGridCalibratorParamsForm::ReadMapFields() {
  if (!MapGroup->isChecked()) {
    FMap.reset();
    return;
  }
  QLineEdit* field = MapCrsEdit;
  try {
    TGridMap map;
    try {
      map.Crs = CrsOfText(MapCrsEdit->text()).Id;
    } catch (const Exception& e) {
      throw Exception(QStringLiteral("Система координат \"%1\" %2")
                          .arg(MapCrsEdit->text().trimmed(), e.Message()));
    }
    const auto metres = [&field](QLineEdit* edit) {
      field = edit;
      return StrToFloatAnySep(edit->text().trimmed());
    };
    map.X = metres(MapXEdit);
    map.Y = metres(MapYEdit);
    map.StepX = metres(MapStepXEdit);
    map.StepY = metres(MapStepYEdit);
    // Beyond these no CRS on Earth reaches; the grid file would not be read back.
    constexpr double kMaxCoordinate = 1e10, kMaxStep = 1e8;
    if (!(std::abs(map.X) <= kMaxCoordinate) || !(std::abs(map.Y) <= kMaxCoordinate)) {
      field = std::abs(map.X) <= kMaxCoordinate ? MapYEdit : MapXEdit;
      throw Exception(QStringLiteral("Координаты на карте слишком велики по модулю"));
    }
    if (!(map.StepX > 0) || !(map.StepY > 0)) {
      field = map.StepX > 0 ? MapStepYEdit : MapStepXEdit;
      throw Exception(QStringLiteral("Шаг сетки на местности должен быть больше нуля"));
    }
    if (map.StepX > kMaxStep || map.StepY > kMaxStep) {
      field = map.StepX > kMaxStep ? MapStepXEdit : MapStepYEdit;
      throw Exception(QStringLiteral("Шаг сетки на местности слишком велик"));
    }
    FMap = map;
  } catch (const Exception&) {
    field->setFocus();
    field->selectAll();
    throw;
  }
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
    ReadMapFields();
  } catch (const Exception& e) {
    HandleException(e);
    return;
  }
  QDialog::accept();
}

bool ShowGridParamsDialog(double& left, double& top, double& width, double& height, int& cellsX,
                          int& cellsY, std::optional<TGridMap>& map, QWidget* parent) {
  TGridCalibratorParamsForm form(parent);
  form.SetValues(
      TGridPaperParams{left * 100, top * 100, width * 100, height * 100, cellsX, cellsY});
  form.SetMap(map);
  if (form.exec() != QDialog::Accepted) return false;
  const TGridPaperParams& values = form.Values();
  left = values.Left / 100;
  top = values.Top / 100;
  width = values.Width / 100;
  height = values.Height / 100;
  cellsX = values.CellsX;
  cellsY = values.CellsY;
  map = form.Map();
  return true;
}
