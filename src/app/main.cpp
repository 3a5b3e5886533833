#include "Cursors.h"
#include "FormUtils.h"
#include "MainForms.h"

#include <QTimer>

int main(int argc, char* argv[]) {
  TApplication app(argc, argv);
  // Cursor pictures need the application; their numbers are fixed by this one registration.
  RegisterProgramCursors();
  TMainForm form;
  form.show();
  // "velmora FILE.bmp" opens the file once the window stands, through the same flow as the menu.
  const QStringList arguments = QCoreApplication::arguments();
  if (arguments.size() > 1)
    QTimer::singleShot(0, &form, [&form, name = arguments[1]] {
      try {
        form.OpenRaster(name);
      } catch (const Exception& e) {
        ShowException(e);
      }
    });
  return app.exec();
}
