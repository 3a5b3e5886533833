#pragma once

#include "Crossings.h"
#include "DarkWindows.h"
#include "GridInfo.h"
#include "LatticeModels.h"

#include <vector>

class TProgress;
class TRasterManager;

// What the search holds of one node.
enum class TNodeKind { Unknown, Trusted, Found };

struct TNodeState {
  TNodeKind Kind = TNodeKind::Unknown;
  // Found: the crossing taken; trusted: where the user put the node.
  TCrossing Crossing;
  // What the search for the first cell saw around the node, and where it looked.
  bool SeedSearched = false;
  std::vector<TCrossing> Seen;
  TCrossingSearch SeenSearch;
  // How often the node was looked for while the search grew, and how many crossings around it
  // were known the last time.
  int Tries = 0;
  int KnownAround = 0;
  // A clear crossing it had that the lattice put elsewhere, and by how many tolerances.
  bool Doubted = false;
  TCrossing Doubt;
  double Deviation = 0;
};

// One window to look into for a node's crossing.
struct TNodeJob {
  int Node = 0;
  TLatticePrediction Prediction;
  TCrossingSearch Search;
  std::vector<TCrossing> Found;
};

// The state the passes of the search share: the grid, the scan read as darkness, every node's
// state, the lattice learnt from the crossings known so far, and what the grid's own lines look
// like (their arms, their width) once some are found. Windows are looked into in batches on every
// core, and the progress reported from the calling thread.
class TNodeFinder {
 public:
  TNodeFinder(TRasterManager& raster, const TGridInfo& grid, TProgress& progress);

  const TGridInfo& Grid() const { return FGrid; }
  const TRasterManager& Raster() const { return FRaster; }
  TLatticeModel& Model() { return FModel; }
  const TLatticeModel& Model() const { return FModel; }
  std::vector<TNodeState>& Nodes() { return FNodes; }
  TNodeState& Node(int node) { return FNodes[static_cast<size_t>(node)]; }
  const TNodeState& Node(int node) const { return FNodes[static_cast<size_t>(node)]; }
  int IndexOf(int i, int j) const { return i + j * FGrid.NX; }
  // The smaller side of a cell, in pixels.
  double Cell() const { return FCell; }
  // The nodes the search looks for: all but the trusted ones.
  int Searched() const { return FSearched; }
  int FoundCount() const;

  // A search around the given point for the node's crossing: its arms those of the grid's lines,
  // the arms needed all but those beyond the grid's border.
  TCrossingSearch SearchAround(int node, const TWorldPoint& at, int radiusX, int radiusY) const;
  TNodeJob Job(int node, const TLatticePrediction& prediction, int radius) const;
  // Finds the crossings of the jobs' windows; the progress runs from first to last percent.
  void RunJobs(std::vector<TNodeJob>& jobs, double first, double last);
  void ShowProgress(double percent);

  void Accept(int node, const TCrossing& crossing);
  // A found node the lattice puts elsewhere is looked for again; its crossing is remembered.
  void Doubt(int node, double deviation);

  // Whether the crossing's lines look like the grid's: arms as long as theirs (the least share
  // asked for), and lines no wider where asked (otherwise no wider than a profile shows).
  bool LikeTheGrid(const TCrossing& crossing, double reachShare, bool asNarrow) const;
  // The lines of the crossings found so far set what the grid's lines look like.
  void LearnLines();
  // How far a crossing may turn from the predicted directions, as a slope.
  double Turn(const TCrossing& crossing) const;
  // How far the crossing lies from the prediction in tolerances (more than 1: outside), with the
  // tolerance of each axis the given number of spreads, but never below least pixels.
  static double Deviation(const TCrossing& crossing, const TLatticePrediction& prediction,
                          double spreads, double least);
  // The crossing where the scan shows it, drawn towards where the other crossings put it, each by
  // how sure it is: a crossing's lines that are not sure (something merged with them, text across
  // them) count less.
  static TWorldPoint Weighed(const TCrossing& crossing, const TLatticePrediction& prediction);

 private:
  TRasterManager& FRaster;
  const TGridInfo& FGrid;
  TProgress& FProgress;
  TDarkReader FReader;
  std::vector<TNodeState> FNodes;
  TLatticeModel FModel;
  double FCell;
  int FFit;
  int FArm;       // a whole arm of the grid's lines
  double FReach;  // how far the grid's arms go from a crossing, as found
  double FWidth;  // how wide the grid's lines are, as found
  int FSearched = 1;
  int FShown = 0;
};
