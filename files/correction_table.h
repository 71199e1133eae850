#pragma once
// The correction table: line 1 holds the divisor s of the corrected y; every further line is a
// band with a range and two polynomials in the raw pixel coordinate,
//   x1 y1 x2 y2 X a0 a1 ... - b1 b2 ... Y c0 c1 ... - d1 d2 ... ;
// P(v) = a0 + a1*v + ... + b1*v^-1 + ... . The corrected x is Px(x) - ImageCentreX; the corrected
// y is ImageCentreY / s - Py(y) / s (y up). A raw coordinate no band covers corrects to -1.
//
// Failures (a missing s line or band line, a token that does not convert, a band line without
// its marker, a coordinate of 0 in a band with negative powers, s = 0, a non-finite result) raise
// ZelvError; the point reader reports them with its own message.

#include <string>
#include <vector>

namespace zelv {

// Corrected x (pixels, origin at the image centre) of a raw x.
double CorrectImageX(double x, const std::vector<std::string>& table, double imageCentreX);

// Corrected y (pixels, origin at the image centre, y up) of a raw y.
double CorrectImageY(double y, const std::vector<std::string>& table, double imageCentreY);

}  // namespace zelv
