#pragma once
// Photographs of a calibration target turned into calibration views: each photograph read as grey
// levels, the target found on it, its corners paired with their places on the board. A
// photograph that gives no view (unreadable, the target not found, another size than the others)
// is listed with its reason and the others go on.

#include <string>
#include <vector>

#include "base/failure.h"
#include "calibration/camera_calibration.h"
#include "targets/target_description.h"

namespace zelv {

// A photograph that gave no view, and why (Russian, for the list).
struct SkippedPhotograph {
  std::string path;
  std::string reason;
};

struct PhotographViews {
  // One view per photograph the target was found on, in the order of the photographs given; a
  // view's name is its photograph's file name without the folder, or the path as given where
  // several photographs share that file name.
  std::vector<CalibrationView> views;
  std::vector<std::string> paths;  // the photograph of each view, as given
  std::vector<SkippedPhotograph> skipped;
  // Pixels: the size of the first photograph read; every view is of this size (0 when none was
  // read).
  int imageWidth = 0;
  int imageHeight = 0;
};

// Finds the target on each photograph, on up to `threads` worker threads (0: as many as the
// machine has cores); the result does not depend on their number. `progress` is called on the
// calling thread after each photograph ("Поиск мишени: снимок 3 из 20", fraction 0..1); false
// stops the work, which then fails saying it was stopped.
Expected<PhotographViews> ViewsFromPhotographs(const std::vector<std::string>& paths,
                                               const TargetDescription& target,
                                               const CalibrationProgress& progress = {},
                                               int threads = 0);

}  // namespace zelv
