#pragma once
// Least-squares fits of the plane-to-plane projective transformation between the image control
// points (corrected pixels, origin at the image centre, y up) and the scene control points
// (scene units):
//   X = (a11*x + a12*y + a13) / (a31*x + a32*y + 1),  Y = (a21*x + a22*y + a23) / (a31*x + a32*y +
//   1)

#include <vector>

#include "points/Data_structures.h"

namespace zelv {

// The eight coefficients of the transformation.
struct TransformCoefficients {
  double a11 = 0, a12 = 0, a13 = 0, a21 = 0, a22 = 0, a23 = 0, a31 = 0, a32 = 0;
};

// Image -> scene, all eight coefficients. On failure returns false and writes nothing.
bool FitImageToScene(const VT_Points& imagePoints, const VT_Points& scenePoints,
                     TransformCoefficients& coefficients);

// Scene (measured from the sighting point) -> image without constant terms: overwrites a11, a12,
// a21, a22, a31, a32; a13 and a23 keep their values. On failure returns false and writes nothing.
bool FitSceneToImage(const VT_Points& scenePoints, const VT_Points& imagePoints,
                     TransformCoefficients& coefficients);

// Solves the n x (n + 1) augmented normal equations M (last column the right-hand side) by the
// row arrangement, elimination without pivoting, the determinant test and back substitution.
// Returns false when the system is singular or the arrangement finds no partner row.
bool SolveNormalEquations(std::vector<std::vector<double>>& M, int n, std::vector<double>& u);

}  // namespace zelv
