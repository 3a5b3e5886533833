#include "CliTestUtils.h"

#include <QProcess>

TRun RunProgram(const QString& program, const QStringList& args) {
  QProcess process;
  process.start(program, args);
  process.waitForFinished(120000);
  return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
          QString::fromUtf8(process.readAllStandardOutput()),
          QString::fromUtf8(process.readAllStandardError())};
}

TRun RunCli(const QStringList& args) {
  return RunProgram(VELMORA_CLI_FILE, args);
}
