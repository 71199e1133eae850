#pragma once
// The 21 values of an orientation in their fixed order, as shown in the main window and saved in
// the ".ort" file.

#include <array>
#include <string>

namespace zelv {

enum ResultIndex {
  kCentreX = 0,
  kCentreY,
  kCentreZ,  // projection centre, scene units
  kSightingX,
  kSightingY,  // sighting point, scene units
  kDistance,   // L, scene units
  kPhotoAlpha,
  kPhotoOmega,
  kPhotoKappa,  // photogrammetric angles a, w, c, degrees
  kStandAl,
  kStandBet,
  kStandHi,  // stand angles a0, l, n, degrees
  kCosXX,
  kCosXY,
  kCosXZ,
  kCosYX,
  kCosYY,
  kCosYZ,
  kCosZX,
  kCosZY,
  kCosZZ,
  kResultCount
};

// The result fields as the window shows them: each the FormatFixed4 text of its value, or empty
// when not (yet) shown.
using ResultTexts = std::array<std::string, kResultCount>;

// The layout names of the main window's result fields, in ResultIndex order.
inline constexpr std::array<const char*, kResultCount> kResultFieldNames = {
    "Edit36", "Edit37", "Edit38", "Edit3",  "Edit2",  "Edit31", "Edit28",
    "Edit32", "Edit33", "Edit27", "Edit29", "Edit30", "Edit18", "Edit19",
    "Edit20", "Edit21", "Edit22", "Edit23", "Edit26", "Edit25", "Edit24"};

// The full-precision values behind the texts (for zelv-cli --json); valid when `complete`.
struct OrientationValues {
  std::array<double, kResultCount> values{};
  double Al = 0, Bet = 0, Hi = 0;  // the final stand angles, radians (the residuals use them)
  double cost = 0;                 // the final RefinementCost (pixels), when costKnown
  bool costKnown = false;          // false when a point projects to infinity at the final pose
  bool complete = false;
};

}  // namespace zelv
