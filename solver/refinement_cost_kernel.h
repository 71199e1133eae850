#pragma once
// The refinement cost over structure-of-arrays copies of the control points, with the per-point
// terms computed by vector instructions (AVX-512, AVX2 or plain SSE2, chosen at run time) and
// summed point by point in list order, so every cost is bit-identical to RefinementCost.
//
// Frames and units as in RefinementCost: image points in corrected pixels, scene points in scene
// units measured from the sighting point, angles in radians, F in pixels.

#include <cstddef>
#include <vector>

#include "points/Data_structures.h"
#include "solver/refinement.h"

namespace zelv {

// The instruction sets the per-point terms can be computed with.
enum class CostInstructions { kScalar, kAvx2, kAvx512 };

// Whether this processor runs the instruction set.
bool Supports(CostInstructions instructions);
// The widest instruction set this processor runs.
CostInstructions BestCostInstructions();

// The cost over copies of the two lists taken at construction (later changes to the lists are
// not seen). A scene list shorter than the image list raises ZelvError at every evaluation, as
// RefinementCost does.
class PointArrayCost : public RefinementCostModel {
 public:
  PointArrayCost(const VT_Points& imagePoints, const VT_Points& scenePoints, double F,
                 CostInstructions instructions = BestCostInstructions());

  double Cost(const PoseParameters& p) const override;
  void Costs(const PoseParameters* p, int count, double* costs) const override;

 private:
  std::vector<double> x_, y_, X_, Y_;  // pixels; scene units
  double F_;
  bool sceneTooShort_ = false;
  CostInstructions instructions_;
};

}  // namespace zelv
