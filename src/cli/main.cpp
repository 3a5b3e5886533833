#include "CliCommands.h"

#include <QCoreApplication>

int main(int argc, char* argv[]) {
  QCoreApplication app(argc, argv);
  return RunCli(QCoreApplication::arguments().mid(1));
}
