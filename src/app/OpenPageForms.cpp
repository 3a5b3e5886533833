#include "OpenPageForms.h"

#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {

QSpinBox* NewSpinBox(const char* name, int minimum, int maximum, const QString& hint) {
  auto* edit = new QSpinBox;
  edit->setObjectName(QLatin1String(name));
  edit->setRange(minimum, maximum);
  edit->setToolTip(hint);
  return edit;
}

QLabel* NewLabel(const char* name, const QString& text, QWidget* buddy = nullptr) {
  auto* label = new QLabel(text);
  label->setObjectName(QLatin1String(name));
  if (buddy) label->setBuddy(buddy);
  return label;
}

QPushButton* NewButton(const QString& caption, const char* name) {
  auto* button = new QPushButton(caption);
  button->setObjectName(QLatin1String(name));
  return button;
}

}  // namespace

TOpenPageForm::TOpenPageForm(const QString& fileName, QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Страница документа"));
  setWindowFlag(Qt::WindowContextHelpButtonHint, true);

  FileLbl = NewLabel("FileLbl", QStringLiteral("Документ %1 открывается как растр одной своей "
                                               "страницы, нарисованной с выбранным разрешением.")
                                    .arg(QFileInfo(fileName).fileName()));
  FileLbl->setWordWrap(true);
  PageEdit = NewSpinBox("PageEdit", 1, kMaxPage, QStringLiteral("Номер страницы, с 1"));
  DpiEdit = NewSpinBox("DpiEdit", kMinDpi, kMaxDpi,
                       QStringLiteral("Точек на дюйм: 300 - обычное разрешение скана"));
  PageLbl = NewLabel("PageLbl", QStringLiteral("&Страница:"), PageEdit);
  DpiLbl = NewLabel("DpiLbl", QStringLiteral("&Разрешение, точек на дюйм:"), DpiEdit);
  auto* fields = new QFormLayout;
  fields->addRow(PageLbl, PageEdit);
  fields->addRow(DpiLbl, DpiEdit);

  OkBtn = NewButton(QStringLiteral("ОК"), "OkBtn");
  OkBtn->setDefault(true);
  connect(OkBtn, &QPushButton::clicked, this, &TOpenPageForm::accept);
  CancelBtn = NewButton(QStringLiteral("Отмена"), "CancelBtn");
  connect(CancelBtn, &QPushButton::clicked, this, &TOpenPageForm::reject);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(OkBtn);
  buttons->addWidget(CancelBtn);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(FileLbl);
  layout->addLayout(fields);
  layout->addStretch();
  layout->addLayout(buttons);

  SetOptions({});
  FileLbl->setMinimumWidth(fontMetrics().averageCharWidth() * 48);
  setFixedSize(sizeHint());
}

TRasterOpenOptions TOpenPageForm::Options() const {
  TRasterOpenOptions options;
  options.Page = PageEdit->value();
  options.Dpi = DpiEdit->value();
  return options;
}

void TOpenPageForm::SetOptions(const TRasterOpenOptions& options) {
  PageEdit->setValue(std::clamp(options.Page, 1, kMaxPage));
  const double dpi =
      std::isfinite(options.Dpi) ? std::round(options.Dpi) : TRasterOpenOptions{}.Dpi;
  DpiEdit->setValue(static_cast<int>(std::clamp<double>(dpi, kMinDpi, kMaxDpi)));
}

bool AskOpenOptions(const TRasterFileProvider& provider, const QString& fileName,
                    TRasterOpenOptions& options, QWidget* parent) {
  if (!provider.PagedByExt(fileName)) return true;
  TOpenPageForm form(fileName, parent);
  form.SetOptions(options);
  if (form.exec() != QDialog::Accepted) return false;
  options = form.Options();
  return true;
}
