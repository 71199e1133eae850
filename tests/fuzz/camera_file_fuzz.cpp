// Fuzzes the camera file reader with its correction table: two files from one input.
#include <cstdint>
#include <string>

#include "fake_ui.h"
#include "files/camera_file.h"
#include "fuzz_input.h"
#include "orientation_shims.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto parts = zelv::fuzz::SplitInput(data, size, 2);
  const std::string camera = zelv::fuzz::WriteScratchFile("camera.cam", parts[0]);
  zelv::fuzz::WriteScratchFile("table.txt", parts[1]);
  zelv::testing::FakeUi ui;
  zelv::InteriorGeometry geometry;
  zelv::Shown(ui, ReadCameraFile(camera, geometry));
  return 0;
}
