#include "RasterPropertiesForms.h"

#include "SysUtils.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <cmath>

namespace {

constexpr double kMetresPerInch = 0.0254;
// The dialog's size on a screen of 96 dots per inch; larger fonts make it larger.
constexpr int kDesignWidth = 252;
constexpr int kDesignHeight = 164;

QLineEdit* NewEdit(const char* name, const QString& hint) {
  auto* edit = new QLineEdit;
  edit->setObjectName(QLatin1String(name));
  edit->setToolTip(hint);
  return edit;
}

QPushButton* NewButton(const QString& caption, const char* name) {
  auto* button = new QPushButton(caption);
  button->setObjectName(QLatin1String(name));
  return button;
}

}  // namespace

TRasterPropertiesForm::TRasterPropertiesForm(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Свойства растра"));
  setWindowFlag(Qt::WindowContextHelpButtonHint, true);

  ResolutionGbx = new QGroupBox(QStringLiteral("Разрешение"));
  ResolutionGbx->setObjectName(QStringLiteral("ResolutionGbx"));
  ResPerMeterRadioBtn = new QRadioButton(QStringLiteral("Точек/метр"));
  ResPerMeterRadioBtn->setObjectName(QStringLiteral("ResPerMeterRadioBtn"));
  ResPerMeterRadioBtn->setChecked(true);
  ResPerInchRadioBtn = new QRadioButton(QStringLiteral("Точек/дюйм"));
  ResPerInchRadioBtn->setObjectName(QStringLiteral("ResPerInchRadioBtn"));
  const QString across = QStringLiteral("По горизонтали");
  const QString down = QStringLiteral("По вертикали");
  XResPerMeterEdit = NewEdit("XResPerMeterEdit", across);
  YResPerMeterEdit = NewEdit("YResPerMeterEdit", down);
  XResPerInchEdit = NewEdit("XResPerInchEdit", across);
  YResPerInchEdit = NewEdit("YResPerInchEdit", down);
  auto* resolution = new QGridLayout(ResolutionGbx);
  resolution->addWidget(ResPerMeterRadioBtn, 0, 0);
  resolution->addWidget(ResPerInchRadioBtn, 0, 1);
  resolution->addWidget(XResPerMeterEdit, 1, 0);
  resolution->addWidget(XResPerInchEdit, 1, 1);
  resolution->addWidget(YResPerMeterEdit, 2, 0);
  resolution->addWidget(YResPerInchEdit, 2, 1);

  connect(ResPerMeterRadioBtn, &QRadioButton::toggled, this, [this](bool checked) {
    if (checked) ResPerMeterRadioBtnClick();
  });
  connect(ResPerInchRadioBtn, &QRadioButton::toggled, this, [this](bool checked) {
    if (checked) ResPerInchRadioBtnClick();
  });
  connect(XResPerMeterEdit, &QLineEdit::textChanged, this,
          [this] { Convert(XResPerMeterEdit, XResPerInchEdit, true); });
  connect(YResPerMeterEdit, &QLineEdit::textChanged, this,
          [this] { Convert(YResPerMeterEdit, YResPerInchEdit, true); });
  connect(XResPerInchEdit, &QLineEdit::textChanged, this,
          [this] { Convert(XResPerInchEdit, XResPerMeterEdit, false); });
  connect(YResPerInchEdit, &QLineEdit::textChanged, this,
          [this] { Convert(YResPerInchEdit, YResPerMeterEdit, false); });

  OkBtn = NewButton(QStringLiteral("ОК"), "OkBtn");
  OkBtn->setDefault(true);
  connect(OkBtn, &QPushButton::clicked, this, &TRasterPropertiesForm::accept);
  CancelBtn = NewButton(QStringLiteral("Отмена"), "CancelBtn");
  connect(CancelBtn, &QPushButton::clicked, this, &TRasterPropertiesForm::reject);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(OkBtn);
  buttons->addWidget(CancelBtn);

  FileGbx = new QGroupBox(QStringLiteral("Файл"));
  FileGbx->setObjectName(QStringLiteral("FileGbx"));
  FileInfoLbl = new QLabel;
  FileInfoLbl->setObjectName(QStringLiteral("FileInfoLbl"));
  FileInfoLbl->setTextInteractionFlags(Qt::TextSelectableByMouse);
  (new QVBoxLayout(FileGbx))->addWidget(FileInfoLbl);
  FileGbx->hide();

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(ResolutionGbx);
  layout->addWidget(FileGbx);
  layout->addStretch();
  layout->addLayout(buttons);

  ResPerMeterRadioBtnClick();
  FitSize();
}

void TRasterPropertiesForm::FitSize() {
  const double scale = logicalDpiX() / 96.0;
  const QSize design(std::lround(kDesignWidth * scale), std::lround(kDesignHeight * scale));
  layout()->activate();
  setFixedSize(design.expandedTo(sizeHint()));
}

void TRasterPropertiesForm::SetFileFormat(const TRasterFileFormat& format) {
  QStringList lines;
  if (!format.Name.isEmpty()) {
    lines << QStringLiteral("Формат: %1").arg(format.Name);
    if (!format.Compression.isEmpty())
      lines << QStringLiteral("Сжатие: %1").arg(format.Compression);
    if (!format.Layout.isEmpty()) lines << QStringLiteral("Хранение: %1").arg(format.Layout);
    if (!format.Depth.isEmpty()) lines << QStringLiteral("Глубина: %1").arg(format.Depth);
    for (const QString& note : format.Notes) lines << QStringLiteral("Замечание: %1").arg(note);
    if (!format.WrittenAs)
      lines << QStringLiteral("Только чтение: сохранение спросит имя файла BMP или TIFF");
  }
  FileInfoLbl->setText(lines.join(u'\n'));
  FileGbx->setVisible(!lines.isEmpty());
  FitSize();
}

void TRasterPropertiesForm::SetXResPerMeter(int value) {
  FXResPerMeter = value;
  XResPerMeterEdit->setText(QString::number(value));
  Convert(XResPerMeterEdit, XResPerInchEdit, true);
}

void TRasterPropertiesForm::SetYResPerMeter(int value) {
  FYResPerMeter = value;
  YResPerMeterEdit->setText(QString::number(value));
  Convert(YResPerMeterEdit, YResPerInchEdit, true);
}

void TRasterPropertiesForm::showEvent(QShowEvent* event) {
  ResPerMeterRadioBtn->setChecked(true);
  ResPerMeterRadioBtnClick();
  QDialog::showEvent(event);
}

void TRasterPropertiesForm::ResPerMeterRadioBtnClick() {
  XResPerMeterEdit->setEnabled(true);
  YResPerMeterEdit->setEnabled(true);
  XResPerInchEdit->setEnabled(false);
  YResPerInchEdit->setEnabled(false);
  Convert(XResPerMeterEdit, XResPerInchEdit, true);
  Convert(YResPerMeterEdit, YResPerInchEdit, true);
}

void TRasterPropertiesForm::ResPerInchRadioBtnClick() {
  XResPerInchEdit->setEnabled(true);
  YResPerInchEdit->setEnabled(true);
  XResPerMeterEdit->setEnabled(false);
  YResPerMeterEdit->setEnabled(false);
  Convert(XResPerInchEdit, XResPerMeterEdit, false);
  Convert(YResPerInchEdit, YResPerMeterEdit, false);
}

void TRasterPropertiesForm::Convert(const QLineEdit* source, QLineEdit* target, bool toInches) {
  if (FUpdating != 0) return;
  ++FUpdating;
  bool ok = false;
  const int value = source->text().trimmed().toInt(&ok);
  // Rounded to the nearest, halves to even; wide enough for any int in either direction.
  const double converted =
      std::nearbyint(ok ? (toInches ? value * kMetresPerInch : value / kMetresPerInch) : 0.0);
  target->setText(QString::number(static_cast<qlonglong>(converted)));
  --FUpdating;
}

int TRasterPropertiesForm::ReadResolution(QLineEdit* metreEdit, QLineEdit* inchEdit) const {
  QLineEdit* typed = ResPerInchRadioBtn->isChecked() ? inchEdit : metreEdit;
  try {
    // In the inch mode the metre field only follows: text typed there that is not a number must
    // not pass as a resolution of 0.
    if (StrToInt(typed->text().trimmed()) < 0)
      throw Exception(QStringLiteral("Разрешение растра не может быть отрицательным"));
    return StrToInt(metreEdit->text().trimmed());
  } catch (const Exception&) {
    typed->setFocus();
    typed->selectAll();
    throw;
  }
}

void TRasterPropertiesForm::accept() {
  try {
    const int x = ReadResolution(XResPerMeterEdit, XResPerInchEdit);
    const int y = ReadResolution(YResPerMeterEdit, YResPerInchEdit);
    FXResPerMeter = x;
    FYResPerMeter = y;
  } catch (const Exception& e) {
    HandleException(e);
    return;
  }
  QDialog::accept();
}

bool EditRasterProperties(int& xPelsPerMeter, int& yPelsPerMeter, const TRasterFileFormat& format,
                          QWidget* parent) {
  TRasterPropertiesForm form(parent);
  form.SetFileFormat(format);
  form.SetXResPerMeter(xPelsPerMeter);
  form.SetYResPerMeter(yPelsPerMeter);
  if (form.exec() != QDialog::Accepted) return false;
  xPelsPerMeter = form.XResPerMeter();
  yPelsPerMeter = form.YResPerMeter();
  return true;
}
