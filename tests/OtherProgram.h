#pragma once

#include <QByteArray>
#include <QFile>
#include <QStringList>

#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <vector>

// Runs another program to its end, as a user's other program would meddle with our files, and
// gives its exit status, or -1 when it could not run or did not exit normally.
//
// Not QProcess: Qt starts the child with clone(CLONE_VM | CLONE_VFORK), and the thread
// sanitizer's hook on clone does its after-fork bookkeeping inside that child, which shares our
// memory, on our calling thread's own state. From then on it ignores that thread's reads, writes
// and synchronisation for the rest of the process: the thread goes unchecked, and everything it
// hands to other threads afterwards shows up as false races. posix_spawn's child runs no hooked
// code before it executes the program, so the sanitizer keeps its full view.
//
// The end is awaited in poll, not in waitpid: the sanitizer runs a signal's handler at once only
// while the thread sits in a call that it knows to block, and waitpid is not one of them. A
// lease-break notice that the program waits for would otherwise wait for the program.
inline int RunOtherProgram(const QStringList& command) {
  extern char** environ;
  std::vector<QByteArray> bytes;
  for (const QString& word : command) bytes.push_back(QFile::encodeName(word));
  std::vector<char*> argv;
  for (QByteArray& word : bytes) argv.push_back(word.data());
  argv.push_back(nullptr);
  pid_t pid;
  if (argv.size() < 2 || posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
    return -1;
  const int exited = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  if (exited >= 0) {
    pollfd end = {exited, POLLIN, 0};
    while (poll(&end, 1, -1) < 0 && errno == EINTR) continue;
    close(exited);
  }
  int status;
  while (waitpid(pid, &status, 0) < 0)
    if (errno != EINTR) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
