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

#include <optional>
#include <string>
#include <vector>

namespace zelv {

// Corrected x (pixels, origin at the image centre) of a raw x.
double CorrectImageX(double x, const std::vector<std::string>& table, double imageCentreX);

// Corrected y (pixels, origin at the image centre, y up) of a raw y.
double CorrectImageY(double y, const std::vector<std::string>& table, double imageCentreY);

// The same correction for many points of one table: each band line is parsed once, on first need,
// and kept. A line that no point ever reaches is never parsed, so it fails nothing, exactly as
// with the plain functions, and every result and failure is the one they give. The table must
// outlive the parser and stay unchanged while it is used.
class CorrectionTableParser {
 public:
  explicit CorrectionTableParser(const std::vector<std::string>& table);

  // As CorrectImageX.
  double CorrectX(double x, double imageCentreX);
  // As CorrectImageY.
  double CorrectY(double y, double imageCentreY);
  // True when a band covers the raw x (or y): false where CorrectX (CorrectY) gives its -1.
  bool CoversX(double x);
  bool CoversY(double y);

 private:
  // One group pair of a band line: the coefficients of the non-negative powers (a0, a1, ...)
  // and of the negative powers (b1, b2, ...).
  struct Polynomial {
    std::vector<double> positive;
    std::vector<double> negative;
  };
  // What is known of one band line: its range, once read, and its polynomials, once needed.
  // A part that failed to parse keeps its message, so that every later use fails the same way.
  struct Band {
    bool rangeParsed = false;
    std::string rangeError;
    double x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    std::optional<Polynomial> xPolynomial;
    std::optional<Polynomial> yPolynomial;
    std::string xError;
    std::string yError;
  };

  Band& RangeOf(std::size_t line);
  const Polynomial& PolynomialOf(std::size_t line, char marker);
  double Divisor();

  const std::vector<std::string>& table_;
  std::vector<Band> bands_;  // index i holds table line i + 1 (line 0 is s)
  bool divisorParsed_ = false;
  std::string divisorError_;
  double divisor_ = 0;
};

}  // namespace zelv
