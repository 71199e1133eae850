#include "calibration/camera_calibration.h"

namespace zelv {

const char* CalibrationModelName(CalibrationModel model) {
  switch (model) {
    case CalibrationModel::kPinhole4:
      return "pinhole4";
    case CalibrationModel::kPinhole5:
      return "pinhole5";
    case CalibrationModel::kRational8:
      return "rational8";
    case CalibrationModel::kThinPrism12:
      return "thinprism12";
    case CalibrationModel::kTilted14:
      return "tilted14";
    case CalibrationModel::kFisheye:
      return "fisheye";
  }
  return "pinhole5";
}

bool ParseCalibrationModel(const std::string& name, CalibrationModel& model) {
  for (CalibrationModel m :
       {CalibrationModel::kPinhole4, CalibrationModel::kPinhole5, CalibrationModel::kRational8,
        CalibrationModel::kThinPrism12, CalibrationModel::kTilted14, CalibrationModel::kFisheye}) {
    if (name == CalibrationModelName(m)) {
      model = m;
      return true;
    }
  }
  return false;
}

Expected<CalibrationResult> CalibrateCamera(const std::vector<CalibrationView>&,
                                            const CalibrationOptions&, const CalibrationProgress&) {
  return Failure{"Калибровка камеры пока не выполняется."};
}

}  // namespace zelv
