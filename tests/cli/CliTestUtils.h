#pragma once

#include <QString>
#include <QStringList>

// What a program run printed and how it ended; Status is -1 when it crashed.
struct TRun {
  int Status = -1;
  QString Out;
  QString Err;
};

TRun RunProgram(const QString& program, const QStringList& args);

// Runs velmora-cli as the user runs it.
TRun RunCli(const QStringList& args);
