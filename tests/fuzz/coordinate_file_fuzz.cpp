// Fuzzes the coordinate file readers: the input is read as an image file (corrected by an
// identity table) and as a scene file.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fake_ui.h"
#include "files/coordinate_file.h"
#include "fuzz_input.h"
#include "orientation_shims.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = zelv::fuzz::WriteScratchFile(
      "points.crd", std::string(reinterpret_cast<const char*>(data), size));
  const std::vector<std::string> identity = {"1", "-1e300 -1e300 1e300 1e300 X 0 1 - Y 0 1 - ; "};
  // The two readers may differ on the same text (four numbers are a point in space for the scene,
  // too many for the image), but each says why it failed and says nothing when it read.
  zelv::testing::FakeUi imageUi;
  zelv::VT_Points image(1);
  const bool imageRead = zelv::Shown(imageUi, ReadImagePoints(path, image, identity, 320, 240));
  if (imageRead != imageUi.messages.empty()) std::abort();
  zelv::testing::FakeUi ui;
  zelv::VT_Points scene(1);
  const bool read = zelv::Shown(ui, ReadScenePoints(path, scene));
  for (int i = 0; i < scene.Count(); ++i) {
    const zelv::VT_Point* p = scene.Get(i);
    if (!(p->x - p->x == 0) || !(p->y - p->y == 0)) std::abort();  // never NaN or infinity
  }
  if (read != ui.messages.empty()) std::abort();  // a failure always says so, a success never
  return 0;
}
