#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>

// What a program run printed and how it ended; Status is -1 when it crashed or was killed.
struct TRun {
  int Status = -1;
  QString Out;
  QString Err;
};

// How a program is run besides its arguments.
struct TRunSetup {
  int TimeoutMs = 120000;         // then the program is killed
  QStringList Environment;        // NAME=value settings added to this process's environment
  std::function<void()> InChild;  // runs in the child before the program starts
};

TRun RunProgram(const QString& program, const QStringList& args, const TRunSetup& setup = {});

// Runs velmora-cli as the user runs it.
TRun RunCli(const QStringList& args, const TRunSetup& setup = {});

// Runs velmora-cli and reports the most memory it held at once (its peak resident set), in bytes.
int64_t PeakMemoryOfCli(const QStringList& args, TRun& run);

// Whether the program under test runs under AddressSanitizer, whose shadow memory makes its
// resident set no measure of what the program itself needs.
bool Sanitized();
