#include "Cursors.h"
#include "FileUtils.h"
#include "FormUtils.h"

#include <QMainWindow>

int main(int argc, char* argv[]) {
  TApplication app(argc, argv);
  // Cursor pictures need the application; their numbers are fixed by this one registration.
  RegisterProgramCursors();
  QMainWindow window;
  try {
    const QString title = AppVersionInfo().FileDescription();
    SetApplicationTitle(title);
    window.setWindowTitle(title);
  } catch (const Exception& e) {
    ShowException(e);
  }
  window.resize(1024, 700);
  window.show();
  return app.exec();
}
