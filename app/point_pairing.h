#pragma once
// Pairing the image points with the scene points: by identifier where both files have them (point
// tables, files/point_table.h), by order otherwise.

#include <string>
#include <vector>

#include "points/Data_structures.h"

namespace zelv {

struct PointPairing {
  bool byIdentifier = false;
  std::vector<std::string> ids;  // of the paired points, in their order; empty when by order
  // The points of one file only, left out, in the canonical order.
  std::vector<std::string> onlyInImage;
  std::vector<std::string> onlyInScene;
  // For each paired point, its index in the image file (from 0); empty when by order.
  std::vector<int> imageIndex;
  std::vector<int> sceneIndex;  // the same in the scene file
};

// When both files have identifiers (one per point), keeps the points both name and puts the two
// lists in one canonical order: the identifiers sorted by PointIdLess (numbers by value). The
// order depends on neither file's order, so shuffled files give the same sums to the last bit as
// ".crd" files listing the points in that order. Otherwise (one file or neither has identifiers)
// leaves the lists as they are: paired by order, up to the shorter one.
PointPairing PairPoints(VT_Points& imagePoints, const std::vector<std::string>& imageIds,
                        VT_Points& scenePoints, const std::vector<std::string>& sceneIds);

// The warnings about the points left out (Russian), one per file that has such points.
std::vector<std::string> PairingWarnings(const PointPairing& pairing);

// The name of the point with that number (from 1, in paired order): its identifier when the
// points were paired by identifier, otherwise the number.
std::string PointName(const std::vector<std::string>& ids, int number);

// The names of the points with these numbers, separated by ", ": a long name cut and a long
// list cut with a count (base/shown_text.h).
std::string PointNameList(const std::vector<std::string>& ids, const std::vector<int>& numbers);

}  // namespace zelv
