#pragma once
// The refinement of the three stand angles and the distance: a coordinate-wise pattern search
// that minimises the sum of absolute reprojection errors (pixels), in three passes with shrinking
// start steps, once (estimate level 1) or from thirty start steps (level 3), with an optional log.
//
// Frames: image points are corrected pixels with the origin at the image centre and y up; scene
// points are in scene units, measured from the sighting point. Angles are radians, the distance
// is in scene units.

#include <math.h>

#include <chrono>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "base/angles.h"
#include "points/Data_structures.h"
#include "solver/refinement_settings.h"

namespace zelv {

// How the refinement tells a search that walks without end from one that converges after a long
// walk. A line search that keeps its step for kWalkWindow moves in a row must have lowered the
// cost over them by at least kLeastWalkFall of the cost (a relative fall of 1e-9 a move): a
// walk slower than that would need thousands of millions of moves to matter, which is what
// degenerate data give. The worked cases fall faster by a factor of thousands, even the walk of
// more than a million moves from a distance of 0.01 up to the true one.
inline constexpr long kWalkWindow = 10000;
inline constexpr double kLeastWalkFall = 1e-5;
// The most line-search steps one outer iteration may take, a backstop behind the walk check
// (each step probes both sides of one parameter and moves it or shrinks its step).
inline constexpr long kMaxMovesPerIteration = 20000000;

// Tilt bound of Al and Bet (radians, about 89.999 degrees): a move across it is reflected.
inline constexpr double kTiltBound = 1.5707788735023767;
// The four parameters the refinement varies: Al, Bet, Hi (radians) and L (scene units).
struct PoseParameters {
  double Al = 0;
  double Bet = 0;
  double Hi = 0;
  double L = 0;
};

// The outcome of one outer iteration: the parameters it ended at and their cost (pixels).
struct TResStruct {
  double Al = 0;
  double Bet = 0;
  double Hi = 0;
  double L = 0;
  double Cost = 0;
};

// Sum over the pairs, in list order from 0, of |ex| + |ey| (pixels), where (ex, ey) is the image
// point minus the projection of the scene point through AnglesToRotation(Al, Bet, Hi), focal
// length F (pixels) and distance L. Raises ZelvError on a zero or non-finite denominator, on a
// non-finite cost, and (from the list) when the scene list is shorter than the image list.
double RefinementCost(const VT_Points& imagePoints, const VT_Points& scenePoints, double Al,
                      double Bet, double Hi, double F, double L);

// The sine and cosine of one angle (radians), as std::sin and std::cos give them (the C library's
// sincos computes both with their very code, in one call).
struct SineCosine {
  double s = 0, c = 1;
};
inline SineCosine SineCosineOf(double angle) {
#if defined(__GLIBC__)
  SineCosine r;
  ::sincos(angle, &r.s, &r.c);
  return r;
#else
  return {std::sin(angle), std::cos(angle)};
#endif
}

// One evaluation the search asks for: the parameters and the sines and cosines of their three
// angles (computed by the search, which keeps those of the angles a line search does not vary).
struct CostQuery {
  PoseParameters p;
  SineCosine al, bet, hi;
};

// The cost the search minimises. This is the seam for faster evaluations: every implementation
// must return bit-identical values to RefinementCost and be a pure function of the four
// parameters (the search reuses the cost of parameters it has evaluated before). Cost, Costs
// and Evaluate may be called from several threads at once.
class RefinementCostModel {
 public:
  virtual ~RefinementCostModel() = default;
  // The cost at the parameters (pixels).
  virtual double Cost(const PoseParameters& p) const = 0;
  // The costs of `count` parameter sets (any number, unrelated to each other) into `costs`, each
  // as Cost would give it. Raises when any of them would.
  virtual void Costs(const PoseParameters* p, int count, double* costs) const {
    for (int i = 0; i < count; ++i) costs[i] = Cost(p[i]);
  }
  // As Costs, for queries whose sines and cosines are those of their angles.
  virtual void Evaluate(const CostQuery* queries, int count, double* costs) const {
    for (int i = 0; i < count; ++i) costs[i] = Cost(queries[i].p);
  }
};

// The straightforward cost over two point lists (not owned; they must outlive the model).
class PointListCost : public RefinementCostModel {
 public:
  PointListCost(const VT_Points& imagePoints, const VT_Points& scenePoints, double F)
      : image_(imagePoints), scene_(scenePoints), F_(F) {}
  double Cost(const PoseParameters& p) const override {
    return RefinementCost(image_, scene_, p.Al, p.Bet, p.Hi, F_, p.L);
  }

 private:
  const VT_Points& image_;
  const VT_Points& scene_;
  double F_;
};

// Move of Al or Bet by `offset` (radians), reflected back at ±kTiltBound.
double WrapTilt(double value, double offset);
// Move of Hi by `offset` (radians); beyond ±π it is shifted by π (not 2π).
double WrapTurn(double value, double offset);
// Move of the distance by `offset` (scene units), without a bound.
double MoveDistance(double value, double offset);

using MoveFunction = double (*)(double value, double offset);

// Line search on one parameter (`member` of `p`): probes a step below and above, moves to the
// better probe or shrinks the step by `shrinkPercent` percent while the step exceeds
// `finalOffset`. Raises ZelvError when it walks without settling (see kWalkWindow) or takes more
// than kMaxMovesPerIteration steps.
void SearchParameter(PoseParameters& p, double PoseParameters::*member, MoveFunction move,
                     double startStep, double finalOffset, double shrinkPercent,
                     const RefinementCostModel& cost);

// What one run of Refine needs besides the four parameters.
struct RefinementContext {
  const RefinementCostModel* cost = nullptr;
  // Read for the steps and the level; at level 3 the start offsets are overwritten.
  RefinementSettings* settings = nullptr;
  // Receives the lines of the log when settings->KeepLog, before the parameters change; the
  // caller writes them. It may raise (a log that cannot be written): the parameters then stay.
  std::function<void(const std::vector<std::string>&)> writeLog;
  char decimalSeparator = '.';
  // Start of the orientation command, for the computation time in the log.
  std::chrono::system_clock::time_point startTime{};
  // The status text with the elapsed time; always called on the calling thread: at the start of
  // every round when the outer iterations run there, at least once a second while they run on
  // worker threads.
  std::function<void()> progress;
  // Threads for the thirty outer iterations of the precise estimate; 0: one per core, 1: all on
  // the calling thread. The result and the log do not depend on it.
  int threads = 0;
};

// The value line of the log: a, b, c in degrees, L and the cost, each FormatFixed4, separated
// by "  ;  ".
std::string RefinementValueLine(const PoseParameters& p, double cost, char decimalSeparator);

// "Время счета: " followed by the elapsed time as a time of day in the locale's format ("%X").
std::string ComputationTimeLine(std::chrono::system_clock::duration elapsed);

// The outcome the refinement keeps: the lowest cost, and of equal costs the earliest. Scanned
// with the threshold "last cost + 1"; should no record pass it (costs so large that adding 1
// changes nothing), the earliest lowest is taken all the same. `results` must not be empty.
const TResStruct& ChooseResult(const std::vector<TResStruct>& results);

// Appends the closing block of the log: the chosen record, the computation parameters (offsets
// in degrees and percent, the iteration count) and the computation time.
void AppendRefinementSummary(std::vector<std::string>& log, const TResStruct& choice,
                             const RefinementSettings& settings, char decimalSeparator,
                             std::chrono::system_clock::duration elapsed);

// Runs the refinement from (Al, Bet, Hi, Distance) and replaces them by the best values found.
// Raises ZelvError on an arithmetic fault, a final offset not above 0 for a parameter whose
// search would run (start step above it), a search that walks without settling (see
// kWalkWindow), an outer iteration of more than kMaxMovesPerIteration steps, or a log that writeLog
// cannot write; the four parameters are then unchanged.
void Refine(double& Al, double& Bet, double& Hi, double& Distance, RefinementContext& context);

}  // namespace zelv
