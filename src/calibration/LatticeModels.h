#pragma once

#include "Geomet.h"

#include <vector>

// A crossing the search holds for sure: found in the scan or placed by the user.
struct TLatticePoint {
  TWorldPoint Position;
  // The directions of its lines where they were measured: dy/dx across, dx/dy down, and how far
  // the lines were followed to measure them, in pixels: a short arm turns its line's direction
  // over a whole cell into a guess.
  bool Directed = false;
  double SlopeAcross = 0;
  double SlopeDown = 0;
  double Reach = 0;
};

// Where the lattice puts a node's crossing.
struct TLatticePrediction {
  bool Ok = false;
  TWorldPoint Position;
  // The vectors from the node to its neighbour across and to its neighbour down.
  TWorldPoint StepAcross;
  TWorldPoint StepDown;
  // How far the crossing may stray from the position along each axis: one standard deviation, in
  // pixels.
  TWorldPoint Sigma;
  // Known crossings lie next to the node on every side: the position lies between them;
  // otherwise it reaches out from some side.
  bool Surrounded = false;
};

// The grid's lattice as the scan shows it, learnt from the crossings known so far: around each node
// a smooth surface in the node indices (position, steps, bends) through the known crossings near
// it, the nearer weighing more, fitted so that a few crossings that disagree with the rest (a road
// taken for a line, a fold) do not pull it. What the crossings do not settle comes from the steps
// measured over the whole grid and from straight lines.
class TLatticeModel {
 public:
  // Nodes (i, j) at i + j·nx; the steps are the lattice's until crossings are known.
  TLatticeModel(int nx, int ny, const TWorldPoint& stepAcross, const TWorldPoint& stepDown);

  int NX() const { return FNX; }
  int NY() const { return FNY; }
  bool Known(int node) const { return FKnown[static_cast<size_t>(node)]; }
  const TLatticePoint& Point(int node) const { return FPoints[static_cast<size_t>(node)]; }
  void Set(int node, const TLatticePoint& point);
  void Forget(int node);
  // The known crossings within the reach of a prediction around the node.
  int KnownAround(int node) const;

  // The steps over the whole grid: the medians of the differences of known neighbours.
  void MeasureSteps();
  const TWorldPoint& StepAcross() const { return FStepAcross; }
  const TWorldPoint& StepDown() const { return FStepDown; }

  // Where the node's crossing should be, from the known crossings around it with the node's own
  // left out; not Ok where none lies within two nodes of it.
  TLatticePrediction Predict(int node) const;

  // The lattice over the whole grid: an origin and two steps fitted to all the known crossings,
  // the steps drawn towards the given ones, so that a single crossing only shifts them and a row
  // of them sets only the step along it.
  struct TAffine {
    TWorldPoint Origin, StepAcross, StepDown;
    TWorldPoint At(int i, int j) const {
      return TWorldPoint{Origin.X + i * StepAcross.X + j * StepDown.X,
                         Origin.Y + i * StepAcross.Y + j * StepDown.Y};
    }
  };
  TAffine FitAffine(const TWorldPoint& stepAcross, const TWorldPoint& stepDown) const;

 private:
  int FNX, FNY;
  std::vector<TLatticePoint> FPoints;
  std::vector<char> FKnown;
  TWorldPoint FStepAcross, FStepDown;
};
