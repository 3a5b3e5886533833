// The main of the desktop program's tests: the program's own application object, and a settings
// folder of its own so that no test touches the user's settings.
#include "FormUtils.h"
#include "Options.h"

#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdio>

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  QTemporaryDir config;
  if (!config.isValid()) return 1;
  qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
  // Test discovery runs the program outside CTest's environment: never look for a display.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  TApplication app(argc, argv);
  if (!UserSettings()->fileName().startsWith(config.path())) {
    std::fprintf(stderr, "The settings file is not in the test's own folder\n");
    return 1;
  }
  return RUN_ALL_TESTS();
}
