#pragma once

#include <QJsonObject>
#include <QString>

#include <optional>
#include <vector>

// One sheet of a batch list: the scan, its grid file (a grid of its own, or a template shared by a
// series whose sheets differ in the map coordinates of the first node), and the result.
struct TBatchSheet {
  int Line = 0;  // in the list, counted from 1, for messages
  QString Scan;
  QString Grid;
  QString Output;
  // The map coordinates of the grid's first node on this sheet, replacing the template's.
  std::optional<double> MapX;
  std::optional<double> MapY;
};

// Reads a batch list: CSV of "scan,grid,output" or "scan,grid,output,x,y" a line, fields in double
// quotes where they hold a comma or a quote (written twice). Empty lines, lines starting with "#"
// and a first line that names the columns ("scan,...") are skipped. Relative names are taken from
// the list's folder. A list that cannot be read raises an error naming the line.
std::vector<TBatchSheet> ReadBatchList(const QString& fileName);

// How a sheet ended.
enum class TSheetStatus {
  Done,   // calibrated, clipped and written, every node found surely
  Check,  // written, but a node was missed or found with too little confidence: a person looks
  Error,  // not written: the scan or the grid could not be used
};

// What a sheet's report says (the report is JSON, beside the result, NAME.report.json).
struct TSheetReport {
  TSheetStatus Status = TSheetStatus::Error;
  QString Message;  // the error, or why the sheet needs a person
  int Searched = 0;
  int Found = 0;
  std::vector<std::pair<int, int>> Missed;  // (i, j) of the nodes not found
  std::optional<double> LeastConfidence;    // of the nodes found
  double LargestOffset = 0;                 // of a node from the lattice, pixels
  double Seconds = 0;
  // The files as the sheet found and left them, so that a later run knows whether it is done.
  QJsonObject Files;
};

QString ReportFileName(const TBatchSheet& sheet);

// The size and modification time of the sheet's scan, grid and result as they are now.
QJsonObject SheetFiles(const TBatchSheet& sheet);

// Writes the report under a temporary name that then takes its own: the last thing a sheet does,
// so that a report that is there speaks for a finished sheet.
void WriteSheetReport(const TBatchSheet& sheet, const TSheetReport& report);

// The sheet's report, when there is one that can be read.
std::optional<TSheetReport> ReadSheetReport(const TBatchSheet& sheet);

// Whether the sheet need not be done again: its report says it was written, and its scan, grid
// and result are those the report names, unchanged since.
bool SheetComplete(const TBatchSheet& sheet, const TSheetReport& report);

QString StatusName(TSheetStatus status);
