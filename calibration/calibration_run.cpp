#include "calibration/calibration_run.h"

#include <algorithm>
#include <cmath>

namespace zelv {

namespace {

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  const size_t middle = values.size() / 2;
  std::nth_element(values.begin(), values.begin() + middle, values.end());
  if (values.size() % 2 == 1) return values[middle];
  const double upper = values[middle];
  const double lower = *std::max_element(values.begin(), values.begin() + middle);
  return (lower + upper) / 2;
}

}  // namespace

std::vector<double> IntrinsicValues(const LensCalibration& camera) {
  std::vector<double> values{camera.fx, camera.fy, camera.cx, camera.cy};
  values.insert(values.end(), camera.coefficients.begin(), camera.coefficients.end());
  return values;
}

Expected<CalibrationRun> RunCalibration(const std::vector<CalibrationView>& views,
                                        const CalibrationOptions& options, bool crossValidate,
                                        const CalibrationProgress& progress) {
  Expected<CalibrationResult> calibration = CalibrateCamera(views, options, progress);
  if (!calibration) return calibration.error();
  CalibrationRun run;
  run.calibration = std::move(*calibration);
  run.values = IntrinsicValues(run.calibration.camera);
  run.uncertainty = ProjectionUncertainty(run.calibration);
  run.coverage = CornerCoverage(views, run.calibration);
  run.uncoveredShare = UncoveredShare(run.coverage);
  if (!run.uncertainty.values.empty()) {
    run.uncertaintyMedian = Median(run.uncertainty.values);
    run.uncertaintyWorst =
        *std::max_element(run.uncertainty.values.begin(), run.uncertainty.values.end());
  }
  if (crossValidate) {
    if (progress && !progress("Перекрёстная проверка", 1.0))
      return Failure{"Калибровка остановлена.", "Калибровка камеры"};
    Expected<CrossValidation> cross = CrossValidate(views, options);
    if (cross)
      run.crossValidation = std::move(*cross);
    else
      run.crossValidationFailure = cross.error().text;
  }
  return run;
}

std::optional<std::string> CoverageWarning(const CalibrationRun& run) {
  if (run.coverage.values.empty() || !(run.uncoveredShare > 0)) return std::nullopt;
  const int percent = static_cast<int>(std::lround(run.uncoveredShare * 100));
  return "Углы мишени не попали на " + std::to_string(std::max(percent, 1)) +
         " % площади снимка: там модель объектива не проверена. Добавьте снимки, на которых "
         "мишень стоит в этих частях кадра, особенно в углах.";
}

}  // namespace zelv
