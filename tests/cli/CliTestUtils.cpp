#include "CliTestUtils.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryFile>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

TRun RunProgram(const QString& program, const QStringList& args, const TRunSetup& setup) {
  QProcess process;
  if (!setup.Environment.isEmpty()) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const QString& setting : setup.Environment)
      environment.insert(setting.section(u'=', 0, 0), setting.section(u'=', 1));
    process.setProcessEnvironment(environment);
  }
  if (setup.InChild) process.setChildProcessModifier(setup.InChild);
  process.start(program, args);
  if (!process.waitForFinished(setup.TimeoutMs)) {
    process.kill();
    process.waitForFinished();
    return {-1, QString(), QStringLiteral("(killed after %1 ms)").arg(setup.TimeoutMs)};
  }
  return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
          QString::fromUtf8(process.readAllStandardOutput()),
          QString::fromUtf8(process.readAllStandardError())};
}

TRun RunCli(const QStringList& args, const TRunSetup& setup) {
  return RunProgram(VELMORA_CLI_FILE, args, setup);
}

int64_t PeakMemoryOfCli(const QStringList& args, TRun& run) {
  // The child is waited for here, not by QProcess, to get its own resource usage.
  QTemporaryFile err;
  if (!err.open()) return -1;
  std::vector<QByteArray> words = {QByteArrayLiteral(VELMORA_CLI_FILE)};
  for (const QString& arg : args) words.push_back(QFile::encodeName(arg));
  std::vector<char*> argv;
  for (QByteArray& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, err.handle(), 2);
  pid_t pid;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return -1;
  int status = 0;
  rusage usage{};
  if (::wait4(pid, &status, 0, &usage) != pid) return -1;
  run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.Out.clear();
  err.seek(0);
  run.Err = QString::fromUtf8(err.readAll());
  return int64_t{usage.ru_maxrss} * 1024;
}

bool Sanitized() {
#if defined(__SANITIZE_ADDRESS__)
  return true;
#elif defined(__has_feature)
  return __has_feature(address_sanitizer);
#else
  return false;
#endif
}
