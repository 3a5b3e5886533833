#pragma once

#include "ExForms.h"

// "О программе": the program's icon and the four strings of its version record, read when the box
// is made (a failure of the record raises), closed with "ОК" or Esc.
class TAboutForm : public TExForm {
  Q_OBJECT

 public:
  explicit TAboutForm(QWidget* parent = nullptr);
};

// "&О программе...": shows the box modally. Errors of the version record reach the caller.
void ShowAboutBox(QWidget* parent = nullptr);
