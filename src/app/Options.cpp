#include "Options.h"

#include "RecArrays.h"
#include "SysUtils.h"

#include <QColorDialog>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTabWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <optional>

namespace {

const QString kGroup = QStringLiteral("Options");

// The stored text of a value, or nothing when it is not stored. A value that is not text (the
// settings file's own notations for lists, byte arrays and other types) cannot be read.
std::optional<QString> StoredText(const QSettings& settings, const QString& name) {
  if (!settings.contains(name)) return std::nullopt;
  const QVariant value = settings.value(name);
  if (value.typeId() != QMetaType::QString)
    throw Exception(QStringLiteral("Неверный тип значения параметра \"%1\" в файле настроек %2")
                        .arg(name, settings.fileName()));
  return value.toString();
}

// Reads one stored value with its conversion; a text that is not a number names the value.
template <typename T, typename Convert>
void ReadValue(const QSettings& settings, const QString& name, T& field, Convert convert) {
  const std::optional<QString> text = StoredText(settings, name);
  if (!text) return;
  try {
    field = convert(*text);
  } catch (const EConvertError& e) {
    throw Exception(QStringLiteral("Неверное значение параметра \"%1\" в файле настроек %2: %3")
                        .arg(name, settings.fileName(), e.Message()));
  }
}

// A stored number beyond what the option can take is refused as one that is no number.
template <typename T>
T InRange(T value, const QString& text, T min, T max) {
  if (!(value >= min && value <= max))
    throw EConvertError(QStringLiteral("'%1' вне допустимых пределов: от %2 до %3")
                            .arg(text, FloatToStr(min), FloatToStr(max)));
  return value;
}

int32_t CacheOf(const QString& text) {
  return InRange(StrToInt(text), text, TOptions::kMinRasterCache, TOptions::kMaxRasterCache);
}

double RadiusOf(const QString& text) {
  return InRange(StrToFloatAnySep(text), text, TOptions::kMinGridNodeRadius,
                 TOptions::kMaxGridNodeRadius);
}

// Colours keep only their three bytes, so that what was read is always written back readable.
TColor ColorOf(const QString& text) {
  return static_cast<TColor>(StrToInt(text)) & 0xFFFFFF;
}

QString ColorText(TColor color) {
  return QString::number(static_cast<int32_t>(color));
}

TColor SwatchColor(const QFrame* swatch) {
  return QColorToColor(swatch->palette().color(QPalette::Window));
}

void SetSwatchColor(QFrame* swatch, TColor color) {
  QPalette palette = swatch->palette();
  palette.setColor(QPalette::Window, ColorToQColor(color));
  swatch->setPalette(palette);
}

QPushButton* NewButton(const QString& caption, const char* name) {
  auto* button = new QPushButton(caption);
  button->setObjectName(QLatin1String(name));
  return button;
}

QLineEdit* NewEdit(const char* name) {
  auto* edit = new QLineEdit;
  edit->setObjectName(QLatin1String(name));
  return edit;
}

}  // namespace

std::unique_ptr<QSettings> UserSettings() {
  return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                     QStringLiteral("Orvanta"), QStringLiteral("Velmora"));
}

void TOptions::Load() {
  const std::unique_ptr<QSettings> settings = UserSettings();
  settings->beginGroup(kGroup);
  try {
    ReadValue(*settings, QStringLiteral("RasterCache"), RasterCache, CacheOf);
    ReadValue(*settings, QStringLiteral("GridNodeRadius"), GridNodeRadius, RadiusOf);
    ReadValue(*settings, QStringLiteral("RasterBorderColor"), RasterBorderColor, ColorOf);
    ReadValue(*settings, QStringLiteral("SrcGridColor"), SrcGridColor, ColorOf);
    ReadValue(*settings, QStringLiteral("DstGridColor"), DstGridColor, ColorOf);
    ReadValue(*settings, QStringLiteral("MissedNodeColor"), MissedNodeColor, ColorOf);
  } catch (const Exception& e) {
    HandleException(e);
  }
}

void TOptions::Save() {
  const std::unique_ptr<QSettings> settings = UserSettings();
  settings->beginGroup(kGroup);
  settings->setValue(QStringLiteral("RasterCache"), QString::number(RasterCache));
  settings->setValue(QStringLiteral("GridNodeRadius"), FloatToStr(GridNodeRadius));
  settings->setValue(QStringLiteral("RasterBorderColor"), ColorText(RasterBorderColor));
  settings->setValue(QStringLiteral("SrcGridColor"), ColorText(SrcGridColor));
  settings->setValue(QStringLiteral("DstGridColor"), ColorText(DstGridColor));
  settings->setValue(QStringLiteral("MissedNodeColor"), ColorText(MissedNodeColor));
  settings->endGroup();
  settings->sync();
  if (settings->status() != QSettings::NoError)
    throw Exception(QStringLiteral("Не удалось записать параметры в файл настроек %1")
                        .arg(settings->fileName()));
}

bool TOptions::Edit(QWidget* parent) {
  TOptionsForm form(*this, parent);
  if (form.exec() != QDialog::Accepted) return false;
  try {
    Save();
  } catch (const Exception& e) {
    HandleException(e);
  }
  return true;
}

TOptionsForm::TOptionsForm(TOptions& options, QWidget* parent)
    : QDialog(parent), FOptions(options) {
  setWindowTitle(QStringLiteral("Параметры"));
  setWindowFlag(Qt::WindowContextHelpButtonHint, true);

  CommonSheet = new QWidget;
  CommonSheet->setObjectName(QStringLiteral("CommonSheet"));
  RasterCacheEdit = NewEdit("RasterCacheEdit");
  auto* common = new QGridLayout(CommonSheet);
  auto* cacheLabel = new QLabel(QStringLiteral("Размер кэша (Кб)"));
  cacheLabel->setBuddy(RasterCacheEdit);
  common->addWidget(cacheLabel, 0, 0);
  common->addWidget(RasterCacheEdit, 0, 1);
  common->setRowStretch(1, 1);

  GridSheet = new QWidget;
  GridSheet->setObjectName(QStringLiteral("GridSheet"));
  GridNodeRadiusEdit = NewEdit("GridNodeRadiusEdit");
  auto* grid = new QGridLayout(GridSheet);
  auto* radiusLabel = new QLabel(QStringLiteral("Радиус узла сетки (мм)"));
  radiusLabel->setBuddy(GridNodeRadiusEdit);
  grid->addWidget(radiusLabel, 0, 0);
  grid->addWidget(GridNodeRadiusEdit, 0, 1, 1, 2);
  const auto addColor = [this, grid](int row, const QString& caption, const char* panelName,
                                     const char* buttonName, QPushButton*& button) {
    auto* swatch = new QFrame;
    swatch->setObjectName(QLatin1String(panelName));
    swatch->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    swatch->setAutoFillBackground(true);
    swatch->setFixedSize(fontMetrics().height() * 3, fontMetrics().height() + 6);
    button = NewButton(QStringLiteral("Изменить"), buttonName);
    connect(button, &QPushButton::clicked, this, [this, swatch] { ChangeColor(swatch); });
    auto* label = new QLabel(caption);
    label->setBuddy(button);
    grid->addWidget(label, row, 0);
    grid->addWidget(swatch, row, 1);
    grid->addWidget(button, row, 2);
    return swatch;
  };
  RasterBorderColorPanel =
      addColor(1, QStringLiteral("Цвет внешней границы"), "RasterBorderColorPanel",
               "RasterBorderColorBtn", RasterBorderColorBtn);
  SrcGridColorPanel = addColor(2, QStringLiteral("Цвет эталонной сетки"), "SrcGridColorPanel",
                               "SrcGridColorBtn", SrcGridColorBtn);
  DstGridColorPanel = addColor(3, QStringLiteral("Цвет измененной сетки"), "DstGridColorPanel",
                               "DstGridColorBtn", DstGridColorBtn);
  MissedNodeColorPanel = addColor(4, QStringLiteral("Цвет ненайденных узлов"),
                                  "MissedNodeColorPanel", "MissedNodeColorBtn", MissedNodeColorBtn);
  grid->setRowStretch(5, 1);

  Pages = new QTabWidget;
  Pages->setObjectName(QStringLiteral("Pages"));
  Pages->addTab(CommonSheet, QStringLiteral("Общие"));
  Pages->addTab(GridSheet, QStringLiteral("Сетка"));
  Pages->setCurrentWidget(GridSheet);

  DefaultBtn = NewButton(QStringLiteral("По-умолчанию"), "DefaultBtn");
  connect(DefaultBtn, &QPushButton::clicked, this, &TOptionsForm::DefaultBtnClick);
  OkBtn = NewButton(QStringLiteral("OK"), "OkBtn");
  OkBtn->setDefault(true);
  connect(OkBtn, &QPushButton::clicked, this, &TOptionsForm::accept);
  CancelBtn = NewButton(QStringLiteral("Отмена"), "CancelBtn");
  connect(CancelBtn, &QPushButton::clicked, this, &TOptionsForm::reject);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(DefaultBtn);
  buttons->addStretch();
  buttons->addWidget(OkBtn);
  buttons->addWidget(CancelBtn);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Pages);
  layout->addLayout(buttons);

  ShowValues(FOptions);
}

void TOptionsForm::ShowValues(const TOptions& values) {
  RasterCacheEdit->setText(QString::number(values.RasterCache / 1024));
  GridNodeRadiusEdit->setText(FloatToStr(values.GridNodeRadius * 1000));
  SetSwatchColor(RasterBorderColorPanel, values.RasterBorderColor);
  SetSwatchColor(SrcGridColorPanel, values.SrcGridColor);
  SetSwatchColor(DstGridColorPanel, values.DstGridColor);
  SetSwatchColor(MissedNodeColorPanel, values.MissedNodeColor);
}

TOptions TOptionsForm::ReadValues() {
  TOptions values;
  QLineEdit* field = RasterCacheEdit;
  try {
    const QString cache = RasterCacheEdit->text().trimmed();
    bool ok = false;
    const qlonglong kilobytes = cache.toLongLong(&ok);
    if (!ok) throw EConvertError::NotInteger(cache);
    if (kilobytes > kMaxRasterCacheKb)
      throw Exception(
          QStringLiteral("Размер кэша не может быть больше %1 Кб").arg(kMaxRasterCacheKb));
    values.RasterCache = static_cast<int32_t>(
        std::max<qlonglong>(kilobytes, TOptions::kMinRasterCache / 1024) * 1024);

    field = GridNodeRadiusEdit;
    const double millimetres = StrToFloatAnySep(GridNodeRadiusEdit->text().trimmed());
    if (millimetres > kMaxGridNodeRadiusMm)
      throw Exception(QStringLiteral("Радиус узла сетки не может быть больше %1 мм")
                          .arg(FloatToStr(kMaxGridNodeRadiusMm)));
    values.GridNodeRadius = std::max(millimetres / 1000, TOptions::kMinGridNodeRadius);
  } catch (const Exception&) {
    Pages->setCurrentWidget(field == RasterCacheEdit ? CommonSheet : GridSheet);
    field->setFocus();
    field->selectAll();
    throw;
  }
  values.RasterBorderColor = SwatchColor(RasterBorderColorPanel);
  values.SrcGridColor = SwatchColor(SrcGridColorPanel);
  values.DstGridColor = SwatchColor(DstGridColorPanel);
  values.MissedNodeColor = SwatchColor(MissedNodeColorPanel);
  return values;
}

void TOptionsForm::accept() {
  try {
    FOptions = ReadValues();
  } catch (const Exception& e) {
    HandleException(e);
    return;
  }
  QDialog::accept();
}

void TOptionsForm::DefaultBtnClick() {
  ShowValues(TOptions());
}

void TOptionsForm::ChangeColor(QFrame* swatch) {
  QColorDialog dialog(ColorToQColor(SwatchColor(swatch)), this);
  dialog.setObjectName(QStringLiteral("ColorDlg"));
  if (dialog.exec() == QDialog::Accepted)
    SetSwatchColor(swatch, QColorToColor(dialog.selectedColor()));
}
