#include "HelpCtxForms.h"

#include "ExForms.h"

#include <QFormLayout>
#include <QLineEdit>

namespace {

QLineEdit* ReadOnlyEdit(const QString& name, const QString& text) {
  auto* edit = new QLineEdit(text);
  edit->setObjectName(name);
  edit->setReadOnly(true);
  return edit;
}

}  // namespace

THelpCtxForm::THelpCtxForm(const QString& section, const QString& key, const QString& topic,
                           QWidget* parent)
    : QDialog(parent) {
  setWindowTitle(QStringLiteral("Изменение ContextID"));
  FHelpCtx = new QLineEdit(topic);
  FHelpCtx->setObjectName(QStringLiteral("HelpCtx"));
  FHelpCtx->setMaxLength(256);
  FHelpCtx->setMinimumWidth(280);

  auto* fields = new QFormLayout;
  fields->addRow(QStringLiteral("Форма:"), ReadOnlyEdit(QStringLiteral("FormName"), section));
  fields->addRow(QStringLiteral("Элемент:"), ReadOnlyEdit(QStringLiteral("ControlName"), key));
  fields->addRow(QStringLiteral("Код:"), FHelpCtx);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(fields);
  layout->addLayout(DialogButtons(this, true));
  FHelpCtx->setFocus();
}

QString THelpCtxForm::Topic() const {
  return FHelpCtx->text();
}

bool EditHelpContext(const QString& section, const QString& key, QString& topic, QWidget* parent) {
  THelpCtxForm form(section, key, topic, parent);
  if (form.exec() != QDialog::Accepted) return false;
  topic = form.Topic();
  return true;
}
