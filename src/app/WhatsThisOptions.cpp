#include "WhatsThisOptions.h"

#include "ExForms.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QLineEdit>

TWhatsThisOptionsForm::TWhatsThisOptionsForm(const QString& profile, bool designMode,
                                             QWidget* parent)
    : QDialog(parent) {
  setWindowTitle(QStringLiteral("Параметры контекстной справки"));
  FProfile = new QLineEdit(profile);
  FProfile->setObjectName(QStringLiteral("Profile"));
  FProfile->setMinimumWidth(360);
  FDesignMode = new QCheckBox(QStringLiteral("Режим разработчика"));
  FDesignMode->setObjectName(QStringLiteral("DesignMode"));
  FDesignMode->setChecked(designMode);

  auto* fields = new QFormLayout;
  fields->addRow(QStringLiteral("INI файл:"), FProfile);
  fields->addRow(FDesignMode);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(fields);
  layout->addLayout(DialogButtons(this, true));
}

QString TWhatsThisOptionsForm::Profile() const {
  return FProfile->text().trimmed();
}

bool TWhatsThisOptionsForm::DesignMode() const {
  return FDesignMode->isChecked();
}

bool EditWhatsThisOptions(QString& profile, bool& designMode, QWidget* parent) {
  TWhatsThisOptionsForm form(profile, designMode, parent);
  if (form.exec() != QDialog::Accepted) return false;
  profile = form.Profile();
  designMode = form.DesignMode();
  return true;
}
