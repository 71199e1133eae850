#include "solver/transformation_fit.h"

#include <cmath>
#include <exception>
#include <utility>

#include "base/zelv_error.h"

namespace zelv {
namespace {

using Matrix = std::vector<std::vector<double>>;

// Sums of the image -> scene normal equations over the pairs, accumulated in one pass. Products
// are evaluated left to right: x²X is (x·x)·X, x²(X²+Y²) is (x·x)·(X·X + Y·Y).
struct ForwardSums {
  double x2 = 0, xy = 0, y2 = 0, x = 0, y = 0, n = 0;
  double x2X = 0, xyX = 0, y2X = 0, xX = 0, yX = 0, X = 0;
  double x2Y = 0, xyY = 0, y2Y = 0, xY = 0, yY = 0, Y = 0;
  double x2R = 0, xyR = 0, y2R = 0, xR = 0, yR = 0;  // R = X² + Y²
};

// Sums of the scene -> image normal equations (no constant terms); r = x² + y².
struct ReverseSums {
  double X2 = 0, XY = 0, Y2 = 0;
  double X2x = 0, XYx = 0, Y2x = 0, Xx = 0, Yx = 0;
  double X2y = 0, XYy = 0, Y2y = 0, Xy = 0, Yy = 0;
  double X2r = 0, XYr = 0, Y2r = 0, Xr = 0, Yr = 0;
};

// Every sum must be finite: an overflow while collecting is an arithmetic fault.
void RequireFinite(const Matrix& M) {
  for (const auto& row : M)
    for (double v : row) Finite(v, "overflow in the normal equations");
}

}  // namespace

bool SolveNormalEquations(Matrix& M, int n, std::vector<double>& u) {
  try {
    if (n < 1 || static_cast<int>(M.size()) < n) return false;
    for (int r = 0; r < n; ++r)
      if (static_cast<int>(M[r].size()) < n + 1) return false;

    // Row arrangement: bring a non-zero entry onto every diagonal place but the last by swapping
    // rows, restarting the check from the first row after each swap.
    int i = 0;
    int passes = 0;
    do {
      if (M[i][i] != 0) {
        ++i;
      } else {
        int k = (i + 1) % n;
        while (M[k][i] == 0) {
          // Back at row i: the column is zero in every row, no partner exists.
          if (k == i) return false;
          k = (k + 1) % n;
        }
        std::swap(M[i], M[k]);
        i = 0;
      }
      ++passes;
    } while (i != n - 1 && passes != 1000);
    if (passes == 1000) return false;

    // Forward elimination without further pivoting.
    for (int k = 0; k <= n - 2; ++k) {
      if (M[k][k] == 0) return false;
      for (int r = k + 1; r <= n - 1; ++r) {
        const double f = M[r][k];
        for (int j = k; j <= n; ++j)
          M[r][j] = Finite(M[r][j] - f * M[k][j] / M[k][k], "overflow in the elimination");
      }
    }

    // Determinant test, an absolute bound.
    double determinant = 1.0;
    for (int k = 0; k < n; ++k) determinant = Finite(determinant * M[k][k], "determinant overflow");
    if (std::fabs(determinant) < 0.00001) return false;

    // Back substitution; S is summed from 0 in ascending column order.
    std::vector<double> solution(static_cast<std::size_t>(n));
    solution[n - 1] = Finite(M[n - 1][n] / M[n - 1][n - 1]);
    for (int k = n - 2; k >= 0; --k) {
      double s = 0;
      for (int j = k + 1; j <= n - 1; ++j) s = s + M[k][j] * solution[j];
      solution[k] = Finite((M[k][n] - s) / M[k][k], "overflow in the back substitution");
    }
    u = std::move(solution);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

bool FitImageToScene(const VT_Points& imagePoints, const VT_Points& scenePoints,
                     TransformCoefficients& coefficients) {
  try {
    ForwardSums s;
    for (std::int32_t i = 0; i < imagePoints.Count(); ++i) {
      const double x = imagePoints.Get(i)->x;
      const double y = imagePoints.Get(i)->y;
      const double X = scenePoints.Get(i)->x;
      const double Y = scenePoints.Get(i)->y;
      const double R = X * X + Y * Y;
      s.x2 += x * x;
      s.xy += x * y;
      s.y2 += y * y;
      s.x += x;
      s.y += y;
      s.n += 1;
      s.x2X += x * x * X;
      s.xyX += x * y * X;
      s.y2X += y * y * X;
      s.xX += x * X;
      s.yX += y * X;
      s.X += X;
      s.x2Y += x * x * Y;
      s.xyY += x * y * Y;
      s.y2Y += y * y * Y;
      s.xY += x * Y;
      s.yY += y * Y;
      s.Y += Y;
      s.x2R += x * x * R;
      s.xyR += x * y * R;
      s.y2R += y * y * R;
      s.xR += x * R;
      s.yR += y * R;
    }
    // Unknowns a11, a12, a13, a21, a22, a23, a31, a32; the last column is the right-hand side.
    Matrix M = {
        {s.x2, s.xy, s.x, 0, 0, 0, -s.x2X, -s.xyX, s.xX},
        {s.xy, s.y2, s.y, 0, 0, 0, -s.xyX, -s.y2X, s.yX},
        {s.x, s.y, s.n, 0, 0, 0, -s.xX, -s.yX, s.X},
        {0, 0, 0, s.x2, s.xy, s.x, -s.x2Y, -s.xyY, s.xY},
        {0, 0, 0, s.xy, s.y2, s.y, -s.xyY, -s.y2Y, s.yY},
        {0, 0, 0, s.x, s.y, s.n, -s.xY, -s.yY, s.Y},
        {-s.x2X, -s.xyX, -s.xX, -s.x2Y, -s.xyY, -s.xY, s.x2R, s.xyR, -s.xR},
        {-s.xyX, -s.y2X, -s.yX, -s.xyY, -s.y2Y, -s.yY, s.xyR, s.y2R, -s.yR},
    };
    RequireFinite(M);
    std::vector<double> u;
    if (!SolveNormalEquations(M, 8, u)) return false;
    coefficients.a11 = u[0];
    coefficients.a12 = u[1];
    coefficients.a13 = u[2];
    coefficients.a21 = u[3];
    coefficients.a22 = u[4];
    coefficients.a23 = u[5];
    coefficients.a31 = u[6];
    coefficients.a32 = u[7];
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

bool FitSceneToImage(const VT_Points& scenePoints, const VT_Points& imagePoints,
                     TransformCoefficients& coefficients) {
  try {
    ReverseSums s;
    for (std::int32_t i = 0; i < scenePoints.Count(); ++i) {
      const double X = scenePoints.Get(i)->x;
      const double Y = scenePoints.Get(i)->y;
      const double x = imagePoints.Get(i)->x;
      const double y = imagePoints.Get(i)->y;
      const double r = x * x + y * y;
      s.X2 += X * X;
      s.XY += X * Y;
      s.Y2 += Y * Y;
      s.X2x += X * X * x;
      s.XYx += X * Y * x;
      s.Y2x += Y * Y * x;
      s.Xx += X * x;
      s.Yx += Y * x;
      s.X2y += X * X * y;
      s.XYy += X * Y * y;
      s.Y2y += Y * Y * y;
      s.Xy += X * y;
      s.Yy += Y * y;
      s.X2r += X * X * r;
      s.XYr += X * Y * r;
      s.Y2r += Y * Y * r;
      s.Xr += X * r;
      s.Yr += Y * r;
    }
    // Unknowns a11, a12, a21, a22, a31, a32; the last column is the right-hand side.
    Matrix M = {
        {s.X2, s.XY, 0, 0, -s.X2x, -s.XYx, s.Xx},
        {s.XY, s.Y2, 0, 0, -s.XYx, -s.Y2x, s.Yx},
        {0, 0, s.X2, s.XY, -s.X2y, -s.XYy, s.Xy},
        {0, 0, s.XY, s.Y2, -s.XYy, -s.Y2y, s.Yy},
        {-s.X2x, -s.XYx, -s.X2y, -s.XYy, s.X2r, s.XYr, -s.Xr},
        {-s.XYx, -s.Y2x, -s.XYy, -s.Y2y, s.XYr, s.Y2r, -s.Yr},
    };
    RequireFinite(M);
    std::vector<double> u;
    if (!SolveNormalEquations(M, 6, u)) return false;
    coefficients.a11 = u[0];
    coefficients.a12 = u[1];
    coefficients.a21 = u[2];
    coefficients.a22 = u[3];
    coefficients.a31 = u[4];
    coefficients.a32 = u[5];
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace zelv
