#pragma once
// The settings of the refinement, held by the main window's state and edited in the settings
// dialog. Angles in radians (shown in degrees), the distance offsets in percent of the distance.

#include <string>

namespace zelv {

// The estimate level of the rigorous estimate (solver/rigorous_estimate.h); the refinement of
// this file runs at levels 1 and 3 only.
inline constexpr int kRigorousLevel = 4;

struct RefinementSettings {
  double AlStart = 0.2617993877991494;    // 15 degrees
  double AlMin = 1.7453292519943294e-06;  // 0.0001 degrees
  double BetStart = 0.2617993877991494;
  double BetMin = 1.7453292519943294e-06;
  double HiStart = 0.2617993877991494;
  double HiMin = 1.7453292519943294e-06;
  double LStart = 15.0;  // percent
  double LMin = 0.0001;  // percent
  int IterCount = 30;    // only printed in the log
  std::string Log1FileName = "ZELV1.log";
  bool KeepLog = false;
  int EstimateLevel = 0;  // 0 fast, 1 normal, 3 precise, kRigorousLevel rigorous
  bool UseFirstValues = false;
  bool VaryHi = false;
  double AlFirstValue = 0;      // radians
  double BetFirstValue = 0;     // radians
  double HiFirstValue = 0;      // radians
  double LFirstValue = 2000.0;  // scene units
};

}  // namespace zelv
