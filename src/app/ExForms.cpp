#include "ExForms.h"

#include "WhatsThis.h"

#include <QHBoxLayout>
#include <QPushButton>

TExForm::TExForm(QWidget* parent) : QDialog(parent) {
  InstallContextHelp(this);
}

QHBoxLayout* DialogButtons(QDialog* dialog, bool withCancel) {
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  auto* ok = new QPushButton(QStringLiteral("ОК"));
  ok->setObjectName(QStringLiteral("OkBtn"));
  ok->setDefault(true);
  QObject::connect(ok, &QPushButton::clicked, dialog, &QDialog::accept);
  buttons->addWidget(ok);
  if (withCancel) {
    auto* cancel = new QPushButton(QStringLiteral("Отмена"));
    cancel->setObjectName(QStringLiteral("CancelBtn"));
    QObject::connect(cancel, &QPushButton::clicked, dialog, &QDialog::reject);
    buttons->addWidget(cancel);
  } else {
    buttons->addStretch();
  }
  return buttons;
}
