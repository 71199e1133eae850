#include "solver/adjustment.h"

#include <algorithm>

namespace zelv {

bool SceneIsSpatial(const std::vector<AdjustmentPoint>& points) {
  return std::any_of(points.begin(), points.end(),
                     [](const AdjustmentPoint& p) { return p.Z != 0; });
}

AdjustmentResult Adjust(const std::vector<AdjustmentPoint>& points, double focalLength,
                        const KnownValues& /*known*/, const std::optional<StandPose>& start,
                        const RigorousOptions& options) {
  // So far only the plane: the rigorous estimate of the control points.
  std::vector<ControlPoint> control;
  control.reserve(points.size());
  for (const AdjustmentPoint& p : points) control.push_back({p.x, p.y, p.X, p.Y});
  AdjustmentResult result;
  result.rigorous = RigorousEstimate(control, focalLength, start, options);
  return result;
}

}  // namespace zelv
