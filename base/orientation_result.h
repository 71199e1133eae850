#pragma once
// The 21 values of an orientation in their fixed order, as shown in the main window, saved in the
// ".ort" file, printed by zelv-cli and written to its JSON, with one description of each.

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

// Everything the program says about one of the 21 values.
struct ResultDescription {
  const char* fieldName;    // layout name of the main window's field (its objectName)
  const char* label;        // the label before the field
  const char* fileComment;  // written after the value in the ".ort" file (begins " ; ")
  const char* cliLabel;     // zelv-cli's text output
  const char* jsonKey;      // the JSON member holding it
  int jsonIndex;            // its place in that member's array; -1: the member is the number
  const char* unit;         // "scene", "deg" or "" (a cosine)
};

// clang-format off
inline constexpr std::array<ResultDescription, kResultCount> kResults = {{
    {"Edit36", "X=", " ; Координата X центра проекции в системе координат сцены", "Projection centre X", "projection_centre", 0, "scene"},
    {"Edit37", "Y=", " ; Координата Y центра проекции в системе координат сцены", "Projection centre Y", "projection_centre", 1, "scene"},
    {"Edit38", "Z=", " ; Координата Z центра проекции в системе координат сцены", "Projection centre Z", "projection_centre", 2, "scene"},
    {"Edit3", "X=", " ; Координата X точки визирования в системе координат сцены", "Sighting point X", "sighting_point", 0, "scene"},
    {"Edit2", "Y=", " ; Координата Y точки визирования в системе координат сцены", "Sighting point Y", "sighting_point", 1, "scene"},
    {"Edit31", "L=", " ; Расстояние от центра проекции до точки визирования", "Distance L", "distance", -1, "scene"},
    {"Edit28", "a=", " ; Продольный угол поворота камеры (градусы, фотограмм.)", "Photogrammetric a", "photogrammetric_angles_deg", 0, "deg"},
    {"Edit32", "w=", " ; Поперечный угол поворота камеры (градусы, фотограмм.)", "Photogrammetric w", "photogrammetric_angles_deg", 1, "deg"},
    {"Edit33", "c=", " ; Угол поворота изображения (градусы, фотограмм.)", "Photogrammetric c", "photogrammetric_angles_deg", 2, "deg"},
    {"Edit27", "a0=", " ; Угол поворота сцены вокруг поперечной оси (градусы, стенд.)", "Stand angle a0", "stand_angles_deg", 0, "deg"},
    {"Edit29", "l=", " ; Угол поворота сцены вокруг орбитальной оси (градусы, стенд.)", "Stand angle l", "stand_angles_deg", 1, "deg"},
    {"Edit30", "n=", " ; Угол поворота изображения (градусы, стенд.)", "Stand angle n", "stand_angles_deg", 2, "deg"},
    {"Edit18", "xX=", " ; Косинус угла xx", "Cosine xX", "direction_cosines", 0, ""},
    {"Edit19", "xY=", " ; Косинус угла xy", "Cosine xY", "direction_cosines", 1, ""},
    {"Edit20", "xZ=", " ; Косинус угла xz", "Cosine xZ", "direction_cosines", 2, ""},
    {"Edit21", "yX=", " ; Косинус угла yx", "Cosine yX", "direction_cosines", 3, ""},
    {"Edit22", "yY=", " ; Косинус угла yy", "Cosine yY", "direction_cosines", 4, ""},
    {"Edit23", "yZ=", " ; Косинус угла yz", "Cosine yZ", "direction_cosines", 5, ""},
    {"Edit26", "zX=", " ; Косинус угла zx", "Cosine zX", "direction_cosines", 6, ""},
    {"Edit25", "zY=", " ; Косинус угла zy", "Cosine zY", "direction_cosines", 7, ""},
    {"Edit24", "zZ=", " ; Косинус угла zz", "Cosine zZ", "direction_cosines", 8, ""},
}};
// clang-format on

// The JSON members of the values in the order zelv-cli writes them, with their first index and
// length.
struct ResultGroup {
  const char* jsonKey;
  int first;
  int count;
};
inline constexpr std::array<ResultGroup, 6> kResultGroups = {
    {{"projection_centre", kCentreX, 3},
     {"sighting_point", kSightingX, 2},
     {"distance", kDistance, 1},
     {"photogrammetric_angles_deg", kPhotoAlpha, 3},
     {"stand_angles_deg", kStandAl, 3},
     {"direction_cosines", kCosXX, 9}}};

// The result fields as the window shows them: each the FormatFixed4 text of its value, or empty
// when not (yet) shown.
using ResultTexts = std::array<std::string, kResultCount>;

// The full-precision values behind the texts (for zelv-cli --json); valid when `complete`.
struct OrientationValues {
  std::array<double, kResultCount> values{};
  double Al = 0, Bet = 0, Hi = 0;  // the final stand angles, radians (the residuals use them)
  double cost = 0;                 // the final RefinementCost (pixels), when costKnown
  bool costKnown = false;          // false when a point projects to infinity at the final pose
  bool complete = false;
};

}  // namespace zelv
