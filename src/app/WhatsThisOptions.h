#pragma once

#include <QDialog>

class QCheckBox;
class QLineEdit;

// The options of the what's-this mode: the profile file ("INI файл:") and the design mode
// ("Режим разработчика"), in which clicks edit the controls' topics.
class TWhatsThisOptionsForm : public QDialog {
  Q_OBJECT

 public:
  TWhatsThisOptionsForm(const QString& profile, bool designMode, QWidget* parent = nullptr);

  QString Profile() const;
  bool DesignMode() const;

 private:
  QLineEdit* FProfile;
  QCheckBox* FDesignMode;
};

// Runs the dialog; "ОК" stores both values, "Отмена" leaves them.
bool EditWhatsThisOptions(QString& profile, bool& designMode, QWidget* parent = nullptr);
