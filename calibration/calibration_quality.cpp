#include "calibration/calibration_quality.h"

namespace zelv {

ImageGridMap ProjectionUncertainty(const CalibrationResult&, int, int) { return {}; }

ImageGridMap CornerCoverage(const std::vector<CalibrationView>&, const CalibrationResult&, int,
                            int) {
  return {};
}

double UncoveredShare(const ImageGridMap&) { return 0; }

Expected<CrossValidation> CrossValidate(const std::vector<CalibrationView>&,
                                        const CalibrationOptions&, int, int) {
  return Failure{"Перекрёстная проверка калибровки пока не выполняется."};
}

}  // namespace zelv
