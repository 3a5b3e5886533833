#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

// A wrong command line: the message is printed with the command's usage and the exit status is 2.
class ECliUsage {
 public:
  explicit ECliUsage(QString message) : FMessage(std::move(message)) {}
  const QString& Message() const { return FMessage; }

 private:
  QString FMessage;
};

// One headless command of velmora-cli.
struct TCliCommand {
  QString Name;
  QString Synopsis;  // the usage line after the program's name
  QString Summary;   // one line for the command list
  QString Help;      // what COMMAND --help prints below the usage line
  // Runs with the arguments after the command's name; returns the exit status. Errors are
  // exceptions: Exception gives status 1, ECliUsage status 2.
  std::function<int(const QStringList& args)> Run;
};

// The raster commands, each in its own file.
TCliCommand CliInfoCommand();
TCliCommand CliConvertCommand();
TCliCommand CliCalibrateCommand();
TCliCommand CliFindNodesCommand();
TCliCommand CliGeorefCommand();
TCliCommand CliBatchCommand();
TCliCommand CliRenderCommand();

// The commands in the order --help lists them.
const std::vector<TCliCommand>& CliCommands();

// Runs the program with its arguments (without the program's name) and returns the exit status.
int RunCli(const QStringList& args);
