#pragma once

#include <QDialog>

class QLineEdit;

// "Изменение ContextID": the topic of one control in the context-help profile, with the form's
// section and the control's key shown read-only.
class THelpCtxForm : public QDialog {
  Q_OBJECT

 public:
  THelpCtxForm(const QString& section, const QString& key, const QString& topic,
               QWidget* parent = nullptr);

  QString Topic() const;

 private:
  QLineEdit* FHelpCtx;
};

// Runs the dialog; on "ОК" the topic takes the text of "Код:" (which may be empty).
bool EditHelpContext(const QString& section, const QString& key, QString& topic,
                     QWidget* parent = nullptr);
