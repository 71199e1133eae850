// Fuzzes the calibration reader (OpenCV FileStorage and COLMAP lists) and the lens model: the
// calibration file and the raw image points from one input, read as the orientation reads them.
#include <cstdint>
#include <string>

#include "fake_ui.h"
#include "files/calibration_file.h"
#include "fuzz_input.h"
#include "orientation_shims.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto parts = zelv::fuzz::SplitInput(data, size, 2);
  const std::string calibration = zelv::fuzz::WriteScratchFile("calibration", parts[0]);
  const std::string image = zelv::fuzz::WriteScratchFile("image.crd", parts[1]);
  zelv::testing::FakeUi ui;
  zelv::InteriorGeometry geometry;
  if (zelv::DetectCameraFileFormat(calibration) == zelv::CameraFileFormat::CamFile) return 0;
  if (!zelv::Shown(ui, ReadCalibrationFile(calibration, 0, geometry))) return 0;
  zelv::VT_Points points(1);
  if (zelv::Shown(ui, ReadCalibratedImagePoints(image, points, *geometry.Lens))) {
    std::vector<zelv::PixelPoint> corrected;
    for (int i = 0; i < points.Count(); ++i)
      corrected.push_back({points.Get(i)->x, points.Get(i)->y});
    try {
      zelv::CorrectedToRaw(*geometry.Lens, corrected);
    } catch (const zelv::ZelvError&) {
    }
  }
  return 0;
}
