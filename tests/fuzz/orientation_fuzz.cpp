// Fuzzes the whole orientation from three arbitrary files. The first byte picks the estimate
// level (fast, normal, precise, rigorous) and whether the log is kept; the work is bounded by the
// number of lines so that one case cannot run away (the precise level only for a handful of
// points).
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/orientation_session.h"
#include "fake_ui.h"
#include "fuzz_input.h"
#include "orientation_shims.h"

namespace {

std::size_t LineCount(const std::string& text) {
  return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::uint8_t control = data[0];
  const auto parts = zelv::fuzz::SplitInput(data + 1, size - 1, 4);
  zelv::OrientationRun state;
  state.CameraFileName = zelv::fuzz::WriteScratchFile("camera.cam", parts[0]);
  zelv::fuzz::WriteScratchFile("table.txt", parts[1]);
  state.ImageFileName = zelv::fuzz::WriteScratchFile("image.crd", parts[2]);
  state.SceneFileName = zelv::fuzz::WriteScratchFile("scene.crd", parts[3]);
  state.StartDirectory = zelv::fuzz::ScratchFolder();
  state.DecimalSeparator = (control & 0x10) ? ',' : '.';

  const std::size_t lines = std::max(LineCount(parts[2]), LineCount(parts[3]));
  static const int kLevels[] = {0, 1, 3, zelv::kRigorousLevel};
  int level = kLevels[control & 0x3];
  if (level == 3 && lines > 8) level = 1;
  if (level == 1 && lines > 100) level = 0;
  state.Settings.EstimateLevel = level;
  state.Settings.KeepLog = (control & 0x4) != 0;

  zelv::testing::FakeUi ui;
  const bool shown = zelv::RunOrientation(state, ui);
  if (shown) {
    for (double v : state.Values.values)
      if (!std::isfinite(v)) std::abort();  // no NaN or infinity ever reaches a field
    for (const auto& text : state.Results)
      if (text.empty() || text.find("nan") != std::string::npos ||
          text.find("inf") != std::string::npos)
        std::abort();
    for (double v : state.Precision.sigma)
      if (!std::isfinite(v) || v < 0) std::abort();
    if (!std::isfinite(state.Precision.sigma0) || !std::isfinite(state.FocalLength.value))
      std::abort();
  }
  return 0;
}
