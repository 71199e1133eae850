#pragma once
// The refinement cost over structure-of-arrays copies of the control points, bit-identical to
// RefinementCost. On x86-64 the per-point terms are computed by vector instructions (AVX-512 or
// AVX2, chosen at run time): many evaluations at once each in its own vector lane, a few at once
// over the points in the lanes; each evaluation's terms are summed point by point in list order.
// Elsewhere, and where the processor has neither, plain scalar code with the projection of
// solver/projection.h.
//
// Frames and units as in RefinementCost: image points in corrected pixels, scene points in scene
// units measured from the sighting point, angles in radians, F in pixels.

#include <cstddef>
#include <vector>

#include "points/Data_structures.h"
#include "solver/refinement.h"

namespace zelv {

// The instruction sets the per-point terms can be computed with. kAvx512Fma is kAvx512 with the
// divisions by the FMA units (solver/fma_division.h) wherever the gate admits a vector and the
// rounding mode is the default one: the same bits as vdivpd, faster where the FMA units outrun
// the divider.
enum class CostInstructions { kScalar, kAvx2, kAvx512, kAvx512Fma };

// Whether this processor runs the instruction set (only kScalar off x86-64).
bool Supports(CostInstructions instructions);
// The widest instruction set this processor runs; with AVX-512, kAvx512Fma where a short
// measurement at the first call finds the FMA division clearly cheaper than the divider
// (the environment variable ZELV_COST_DIVISION=fma or =divider sets the choice instead).
CostInstructions BestCostInstructions();
// For measurements: one point-evaluation's division work, `rounds` times over eight independent
// chains of 8-lane vectors (64 point-evaluations a round): two vdivpd, or (fma) one reciprocal
// and two quotients by the FMA units. Returns a sum of the results; does nothing without AVX-512.
double RunDivisionWork(bool fma, long rounds);

// The cost over copies of the two lists taken at construction (later changes to the lists are
// not seen). A scene list shorter than the image list raises ZelvError at every evaluation, as
// RefinementCost does.
class PointArrayCost : public RefinementCostModel {
 public:
  PointArrayCost(const VT_Points& imagePoints, const VT_Points& scenePoints, double F,
                 CostInstructions instructions = BestCostInstructions());

  double Cost(const PoseParameters& p) const override;
  void Costs(const PoseParameters* p, int count, double* costs) const override;
  void Evaluate(const CostQuery* queries, int count, double* costs) const override;

 private:
  template <int Chunk>
  void EvaluateChunks(const CostQuery* queries, int count, double* costs) const;

  std::vector<double> x_, y_, X_, Y_;  // pixels; scene units
  double F_;
  bool sceneTooShort_ = false;
  CostInstructions instructions_;
};

}  // namespace zelv
