#include "CliCommands.h"

#include "SysUtils.h"

#include <QTextStream>

#include <cstdio>

const std::vector<TCliCommand>& CliCommands() {
  static const std::vector<TCliCommand> commands = {
      CliInfoCommand(),   CliConvertCommand(), CliCalibrateCommand(), CliFindNodesCommand(),
      CliGeorefCommand(), CliBatchCommand(),   CliRenderCommand()};
  return commands;
}

namespace {

void Print(FILE* stream, const QString& text) {
  const QByteArray bytes = text.toUtf8();
  std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stream);
}

QString ProgramHelp() {
  QString text = QStringLiteral(
      "Использование: velmora-cli КОМАНДА [АРГУМЕНТЫ]\n"
      "Выполняет работу Velmora без окна: читает растры BMP, TIFF, PNG, JPEG и страницы\n"
      "PDF, пишет BMP и TIFF.\n\n"
      "Команды:\n");
  for (const TCliCommand& command : CliCommands())
    text += QStringLiteral("  %1\n      %2\n").arg(command.Synopsis, command.Summary);
  text += QStringLiteral(
      "  --help | КОМАНДА --help\n      эта справка или справка по команде\n\n"
      "Код завершения: 0 - успех, 1 - ошибка, 2 - неверная командная строка.\n");
  return text;
}

}  // namespace

int RunCli(const QStringList& args) {
  if (args.isEmpty()) {
    Print(stderr, ProgramHelp());
    return 2;
  }
  const QString& name = args.first();
  if (name == QStringLiteral("--help") || name == QStringLiteral("-h") ||
      name == QStringLiteral("help")) {
    Print(stdout, ProgramHelp());
    return 0;
  }
  for (const TCliCommand& command : CliCommands()) {
    if (command.Name != name) continue;
    const QStringList rest = args.mid(1);
    if (rest.contains(QStringLiteral("--help"))) {
      Print(stdout, QStringLiteral("Использование: velmora-cli %1\n%2\n")
                        .arg(command.Synopsis, command.Help));
      return 0;
    }
    try {
      return command.Run(rest);
    } catch (const ECliUsage& e) {
      Print(stderr, QStringLiteral("velmora-cli %1: %2\nИспользование: velmora-cli %3\n")
                        .arg(name, e.Message(), command.Synopsis));
      return 2;
    } catch (const Exception& e) {
      Print(stderr, QStringLiteral("velmora-cli %1: %2\n").arg(name, e.Message()));
      return 1;
    } catch (const std::bad_alloc&) {
      Print(stderr, QStringLiteral("velmora-cli %1: недостаточно памяти\n").arg(name));
      return 1;
    }
  }
  Print(stderr,
        QStringLiteral("velmora-cli: неизвестная команда \"%1\"\n\n").arg(name) + ProgramHelp());
  return 2;
}
