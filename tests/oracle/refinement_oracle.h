#pragma once
// The straightforward refinement, kept as the reference the shipped one must match bit for bit:
// every cost is computed afresh from the point lists, one evaluation after the other, every
// outer iteration on the calling thread, in the order the formulas are written. Also the plain
// quadratic scan of the spread check. Used only by the tests and the benchmark.

#include <functional>

#include "points/Data_structures.h"
#include "solver/refinement.h"

namespace zelv::oracle {

// The sum of |ex| + |ey| over the pairs (pixels), point by point from 0. Raises ZelvError on a
// zero or non-finite denominator or a non-finite sum.
double RefinementCost(const VT_Points& imagePoints, const VT_Points& scenePoints, double Al,
                      double Bet, double Hi, double F, double L);

// The cost model over the two lists with the straightforward cost above.
class PlainCost : public RefinementCostModel {
 public:
  PlainCost(const VT_Points& imagePoints, const VT_Points& scenePoints, double F)
      : image_(imagePoints), scene_(scenePoints), F_(F) {}
  double Cost(const PoseParameters& p) const override {
    return oracle::RefinementCost(image_, scene_, p.Al, p.Bet, p.Hi, F_, p.L);
  }

 private:
  const VT_Points& image_;
  const VT_Points& scene_;
  double F_;
};

// The whole refinement, sequential, evaluating c0, c− and c+ at every step of every line search.
// Same inputs, outputs, log and failures as zelv::Refine (context.threads is ignored). When
// `largestMoves` is given it receives the most line-search steps any outer iteration took.
void Refine(double& Al, double& Bet, double& Hi, double& Distance, RefinementContext& context,
            long* largestMoves = nullptr);

// The largest distance by the quadratic scan: every pair (and every point with itself) compared.
double LargestPointDistance(const VT_Points& points);
// The spread check over the quadratic scan.
bool CheckPointSpread(const VT_Points& points, double imageWidth, double imageHeight);

}  // namespace zelv::oracle
