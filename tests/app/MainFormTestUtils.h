#pragma once

#include "MainForms.h"

#include <QMessageBox>
#include <QTemporaryDir>

#include <functional>

// A scan on disk: grey, with a black line every 10 pixels.
QString WriteScan(const QString& name, int width, int height, int resolution = 3780,
                  int bitsPerPixel = 8);

// The main window, whose long work a test can watch, hold or stop: every work passes through
// RunWork, and Before runs first on the work's own thread.
class TWatchedForm : public TMainForm {
 public:
  void RunWork(const QString& name, const std::function<void()>& job) override;

  std::function<void()> Before;
  QStringList Works;  // the names of the works begun
};

// The main window, shown, with a scan open.
struct TForm {
  explicit TForm(int resolution = 3780, int width = 300, int height = 200, int bitsPerPixel = 8);
  // Whatever a test left changed is given up: the grid's work is let go, the raster not saved.
  ~TForm();

  QTemporaryDir Dir;
  QString Scan;
  TWatchedForm Form;
};

// Answers the next message box with the button, after reading its text and doing then.
void Answer(QMessageBox::StandardButton button, QString* text = nullptr,
            std::function<void()> then = nullptr);
// Chooses a file name in the save dialog, or cancels it for an empty name.
void AnswerSaveDialog(const QString& name);
// Changes the raster's resolution through its dialog: the raster is modified.
void MarkModified(TForm& f);

bool Enabled(const TMainForm& form, const char* name);
bool Checked(const TMainForm& form, const char* name);
