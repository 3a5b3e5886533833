#pragma once

#include <QDialog>

class QHBoxLayout;

// A dialog whose caption button "?" starts the what's-this mode, with the dialog as the form whose
// controls the next click asks about.
class TExForm : public QDialog {
  Q_OBJECT

 public:
  explicit TExForm(QWidget* parent = nullptr);
};

// The closing buttons of a dialog, at the bottom right: "ОК" (OkBtn, the default button, accepts)
// and, when asked for, "Отмена" (CancelBtn, rejects). Esc rejects in either case.
QHBoxLayout* DialogButtons(QDialog* dialog, bool withCancel);
