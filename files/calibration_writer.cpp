#include "files/calibration_writer.h"

namespace zelv {

Expected<void> WriteOpenCvCalibration(const std::string&, const LensCalibration&) {
  return Failure{"Запись калибровки OpenCV пока не выполняется."};
}

Expected<void> WriteColmapCamera(const std::string&, const LensCalibration&) {
  return Failure{"Запись камеры COLMAP пока не выполняется."};
}

Expected<CorrectionTableFit> WriteCameraFileWithTable(const std::string&, const LensCalibration&,
                                                      double) {
  return Failure{"Запись файла камеры с таблицей поправок пока не выполняется."};
}

}  // namespace zelv
