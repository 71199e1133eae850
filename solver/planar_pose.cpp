#include "solver/planar_pose.h"

#include <Eigen/Dense>
#include <cmath>

namespace zelv {
namespace {

// The similarity that moves the points' centroid to the origin and scales their mean distance
// from it to √2 (Hartley's normalisation), as a 3 × 3 matrix.
// The Hartley normalisation of the n points (a(i), b(i)), i from 0, summed in that order.
template <typename A, typename B>
Eigen::Matrix3d NormalisingTransformOf(std::size_t count, A a, B b) {
  const double n = static_cast<double>(count);
  double ma = 0, mb = 0;
  for (std::size_t i = 0; i < count; ++i) {
    ma += a(i);
    mb += b(i);
  }
  ma /= n;
  mb /= n;
  double d = 0;
  for (std::size_t i = 0; i < count; ++i) d += std::hypot(a(i) - ma, b(i) - mb);
  d /= n;
  const double s = d > 0 ? std::sqrt(2.0) / d : 1.0;
  Eigen::Matrix3d T;
  T << s, 0, -s * ma, 0, s, -s * mb, 0, 0, 1;
  return T;
}

Eigen::Matrix3d NormalisingTransform(const std::vector<double>& a, const std::vector<double>& b) {
  return NormalisingTransformOf(
      a.size(), [&a](std::size_t i) { return a[i]; }, [&b](std::size_t i) { return b[i]; });
}

bool AllFinite(const Eigen::Matrix3d& m) { return m.allFinite(); }

// Twice the signed area of the triangle a, b, c.
double Area2(double ax, double ay, double bx, double by, double cx, double cy) {
  return (bx - ax) * (cy - ay) - (by - ay) * (cx - ax);
}

// True when no three of the four points lie within `relative` of one line, measured against the
// square of their largest extent.
bool NoThreeCollinear(const double x[4], const double y[4], double relative) {
  double extent = 0;
  for (int i = 0; i < 4; ++i)
    for (int j = i + 1; j < 4; ++j)
      extent = std::max(extent, (x[i] - x[j]) * (x[i] - x[j]) + (y[i] - y[j]) * (y[i] - y[j]));
  if (!(extent > 0)) return false;
  static const int kTriples[4][3] = {{0, 1, 2}, {0, 1, 3}, {0, 2, 3}, {1, 2, 3}};
  for (const auto& t : kTriples) {
    const double a = Area2(x[t[0]], y[t[0]], x[t[1]], y[t[1]], x[t[2]], y[t[2]]);
    if (!(std::fabs(a) > relative * extent)) return false;
  }
  return true;
}

}  // namespace

Eigen::Matrix<double, 9, 9> HomographyNormalMatrix(const std::vector<PlanarCorrespondence>& points,
                                                   const std::vector<int>& use,
                                                   const Eigen::Matrix3d& Ts,
                                                   const Eigen::Matrix3d& Ti) {
  // Each point gives the rows
  //   r1 = (−sx, −sy, −1, 0, 0, 0, ix·sx, ix·sy, ix),  r2 = (0, 0, 0, −sx, −sy, −1, iy·sx, iy·sy,
  //   iy)
  // and adds r1·r1ᵀ, then r2·r2ᵀ. Only the products of non-zero entries are added, on and above
  // the diagonal: a zero product added to a finite sum leaves its bits, and the sums below the
  // diagonal are those above (a·b is b·a), so this is the full outer-product sum bit for bit at
  // a quarter of the work (a million points are read in the handedness check).
  Eigen::Matrix<double, 9, 9> N = Eigen::Matrix<double, 9, 9>::Zero();
  static const int kFirst[6] = {0, 1, 2, 6, 7, 8}, kSecond[6] = {3, 4, 5, 6, 7, 8};
  for (const int k : use) {
    const PlanarCorrespondence& p = points[k];
    const double sx = Ts(0, 0) * p.X + Ts(0, 2), sy = Ts(1, 1) * p.Y + Ts(1, 2);
    const double ix = Ti(0, 0) * p.u + Ti(0, 2), iy = Ti(1, 1) * p.v + Ti(1, 2);
    const double r1[6] = {-sx, -sy, -1, ix * sx, ix * sy, ix};
    const double r2[6] = {-sx, -sy, -1, iy * sx, iy * sy, iy};
    for (int a = 0; a < 6; ++a)
      for (int b = a; b < 6; ++b) N(kFirst[a], kFirst[b]) += r1[a] * r1[b];
    for (int a = 0; a < 6; ++a)
      for (int b = a; b < 6; ++b) N(kSecond[a], kSecond[b]) += r2[a] * r2[b];
  }
  N.triangularView<Eigen::StrictlyLower>() = N.transpose();
  return N;
}

std::optional<Eigen::Matrix3d> FitHomography(const std::vector<PlanarCorrespondence>& points,
                                             const std::vector<int>& use) {
  if (use.size() < 4) return std::nullopt;
  // The points are read where they are: a million of them would otherwise be copied four times.
  const auto at = [&](std::size_t k) -> const PlanarCorrespondence& { return points[use[k]]; };
  const std::size_t count = use.size();
  const Eigen::Matrix3d Ts = NormalisingTransformOf(
      count, [&](std::size_t k) { return at(k).X; }, [&](std::size_t k) { return at(k).Y; });
  const Eigen::Matrix3d Ti = NormalisingTransformOf(
      count, [&](std::size_t k) { return at(k).u; }, [&](std::size_t k) { return at(k).v; });
  // The eigenvector of the normal matrix's smallest eigenvalue is the homography of the
  // normalised points.
  const Eigen::Matrix<double, 9, 9> N = HomographyNormalMatrix(points, use, Ts, Ti);
  const Eigen::SelfAdjointEigenSolver<Eigen::Matrix<double, 9, 9>> eigen(N);
  if (eigen.info() != Eigen::Success) return std::nullopt;
  // A second eigenvalue as small as the first: the points do not fix the homography.
  const auto& values = eigen.eigenvalues();
  if (!(values(1) > 1e-12 * values(8))) return std::nullopt;
  const Eigen::Matrix<double, 9, 1> h = eigen.eigenvectors().col(0);
  Eigen::Matrix3d Hn;
  Hn << h(0), h(1), h(2), h(3), h(4), h(5), h(6), h(7), h(8);
  Eigen::Matrix3d H = Ti.inverse() * Hn * Ts;
  const double norm = H.norm();
  if (!(norm > 0) || !AllFinite(H)) return std::nullopt;
  H /= norm;
  return H;
}

std::optional<Eigen::Matrix3d> HomographyOfFour(const std::vector<PlanarCorrespondence>& points,
                                                const int index[4]) {
  double X[4], Y[4], u[4], v[4];
  for (int k = 0; k < 4; ++k) {
    const PlanarCorrespondence& p = points[index[k]];
    X[k] = p.X;
    Y[k] = p.Y;
    u[k] = p.u;
    v[k] = p.v;
  }
  if (!NoThreeCollinear(X, Y, 1e-6) || !NoThreeCollinear(u, v, 1e-6)) return std::nullopt;
  // Centre and scale both sides so that the 8 × 8 system is well conditioned.
  const std::vector<double> vX(X, X + 4), vY(Y, Y + 4), vu(u, u + 4), vv(v, v + 4);
  const Eigen::Matrix3d Ts = NormalisingTransform(vX, vY);
  const Eigen::Matrix3d Ti = NormalisingTransform(vu, vv);
  Eigen::Matrix<double, 8, 8> A;
  Eigen::Matrix<double, 8, 1> b;
  for (int k = 0; k < 4; ++k) {
    const double sx = Ts(0, 0) * X[k] + Ts(0, 2), sy = Ts(1, 1) * Y[k] + Ts(1, 2);
    const double ix = Ti(0, 0) * u[k] + Ti(0, 2), iy = Ti(1, 1) * v[k] + Ti(1, 2);
    A.row(2 * k) << sx, sy, 1, 0, 0, 0, -ix * sx, -ix * sy;
    A.row(2 * k + 1) << 0, 0, 0, sx, sy, 1, -iy * sx, -iy * sy;
    b(2 * k) = ix;
    b(2 * k + 1) = iy;
  }
  const Eigen::FullPivLU<Eigen::Matrix<double, 8, 8>> lu(A);
  if (!lu.isInvertible()) return std::nullopt;
  const Eigen::Matrix<double, 8, 1> h = lu.solve(b);
  Eigen::Matrix3d Hn;
  Hn << h(0), h(1), h(2), h(3), h(4), h(5), h(6), h(7), 1;
  Eigen::Matrix3d H = Ti.inverse() * Hn * Ts;
  if (!AllFinite(H)) return std::nullopt;
  return H;
}

bool TransferPoint(const Eigen::Matrix3d& H, double X, double Y, double& u, double& v) {
  const double w = H(2, 0) * X + H(2, 1) * Y + H(2, 2);
  if (w == 0) return false;
  u = (H(0, 0) * X + H(0, 1) * Y + H(0, 2)) / w;
  v = (H(1, 0) * X + H(1, 1) * Y + H(1, 2)) / w;
  return std::isfinite(u) && std::isfinite(v);
}

std::vector<CameraPose> PlanarPoses(const Eigen::Matrix3d& H, double F,
                                    const std::vector<PlanarCorrespondence>& points,
                                    const std::vector<int>& use) {
  std::vector<CameraPose> poses;
  if (use.empty() || !(F > 0)) return poses;
  double X0 = 0, Y0 = 0;
  for (int i : use) {
    X0 += points[i].X;
    Y0 += points[i].Y;
  }
  X0 /= static_cast<double>(use.size());
  Y0 /= static_cast<double>(use.size());

  // The homography to normalised image coordinates, and the image of the centroid there.
  Eigen::Matrix3d Hn = H;
  Hn.row(0) /= F;
  Hn.row(1) /= F;
  const Eigen::Vector3d m = Hn * Eigen::Vector3d(X0, Y0, 1);
  if (!(m(2) != 0)) return poses;
  const double p = m(0) / m(2), q = m(1) / m(2);
  // The Jacobian of the normalised image point with respect to (X, Y) at the centroid.
  Eigen::Matrix2d J;
  for (int j = 0; j < 2; ++j) {
    J(0, j) = (Hn(0, j) - p * Hn(2, j)) / m(2);
    J(1, j) = (Hn(1, j) - q * Hn(2, j)) / m(2);
  }

  // A rotation Rv that turns the camera's forward axis onto the line of sight to the centroid.
  const Eigen::Vector3d z = Eigen::Vector3d(p, q, 1).normalized();
  const Eigen::Vector3d x = Eigen::Vector3d(0, -z(2), z(1)).normalized();
  const Eigen::Vector3d y = z.cross(x);
  Eigen::Matrix3d Rv;
  Rv.col(0) = x;
  Rv.col(1) = y;
  Rv.col(2) = z;

  // The projection's Jacobian at the centroid is (1/depth)·[I | −(p, q)]·Rv·R̃ restricted to the
  // plane's axes, where R = Rv·R̃; the line of sight drops out, leaving a 2 × 2 matrix Bm.
  Eigen::Matrix<double, 2, 3> B;
  B << 1, 0, -p, 0, 1, -q;
  const Eigen::Matrix2d Bm = (B * Rv).leftCols<2>();
  if (!(std::fabs(Bm.determinant()) > 1e-15)) return poses;
  const Eigen::Matrix2d A = Bm.inverse() * J;
  // The upper-left 2 × 2 block of a rotation has largest singular value 1: that fixes the depth.
  const Eigen::Matrix2d AtA = A.transpose() * A;
  const double tr = AtA(0, 0) + AtA(1, 1);
  const double disc =
      std::sqrt((AtA(0, 0) - AtA(1, 1)) * (AtA(0, 0) - AtA(1, 1)) + 4 * AtA(0, 1) * AtA(0, 1));
  const double gamma = std::sqrt(0.5 * (tr + disc));
  if (!(gamma > 0) || !std::isfinite(gamma)) return poses;
  const Eigen::Matrix2d a = A / gamma;
  const double b0 = std::sqrt(std::max(0.0, 1 - a(0, 0) * a(0, 0) - a(1, 0) * a(1, 0)));
  double b1 = std::sqrt(std::max(0.0, 1 - a(0, 1) * a(0, 1) - a(1, 1) * a(1, 1)));
  if (a(0, 0) * a(0, 1) + a(1, 0) * a(1, 1) > 0) b1 = -b1;

  for (int sign = 1; sign >= -1; sign -= 2) {
    Eigen::Vector3d c0(a(0, 0), a(1, 0), sign * b0), c1(a(0, 1), a(1, 1), sign * b1);
    Eigen::Matrix3d Rt;
    Rt.col(0) = c0;
    Rt.col(1) = c1;
    Rt.col(2) = c0.cross(c1);
    // The nearest rotation, against rounding in the completion.
    const Eigen::JacobiSVD<Eigen::Matrix3d> svd(Rv * Rt, Eigen::ComputeFullU | Eigen::ComputeFullV);
    Eigen::Matrix3d R = svd.matrixU() * svd.matrixV().transpose();
    if (R.determinant() < 0) {
      Eigen::Matrix3d U = svd.matrixU();
      U.col(2) = -U.col(2);
      R = U * svd.matrixV().transpose();
    }
    // The translation t of q = R·(P − P0) + t that fits the used points best.
    Eigen::Matrix3d N = Eigen::Matrix3d::Zero();
    Eigen::Vector3d g = Eigen::Vector3d::Zero();
    for (int i : use) {
      const double un = points[i].u / F, vn = points[i].v / F;
      const Eigen::Vector3d rp = R * Eigen::Vector3d(points[i].X - X0, points[i].Y - Y0, 0);
      const Eigen::Vector3d e1(-1, 0, un), e2(0, -1, vn);
      N.noalias() += e1 * e1.transpose() + e2 * e2.transpose();
      g += e1 * (rp(0) - un * rp(2)) + e2 * (rp(1) - vn * rp(2));
    }
    const Eigen::Vector3d t = N.ldlt().solve(g);
    if (!t.allFinite() || !(t(2) > 0)) continue;
    CameraPose pose;
    pose.R = R;
    pose.C = Eigen::Vector3d(X0, Y0, 0) - R.transpose() * t;
    if (pose.C.allFinite()) poses.push_back(pose);
  }
  return poses;
}

std::optional<double> FocalLengthFromHomography(const Eigen::Matrix3d& H) {
  const double a1 = H(0, 0), b1 = H(1, 0), c1 = H(2, 0);
  const double a2 = H(0, 1), b2 = H(1, 1), c2 = H(2, 1);
  const double A1 = a1 * a2 + b1 * b2, B1 = c1 * c2;
  const double A2 = a1 * a1 + b1 * b1 - a2 * a2 - b2 * b2, B2 = c1 * c1 - c2 * c2;
  const double denominator = A1 * A1 + A2 * A2;
  if (!(denominator > 0)) return std::nullopt;
  const double w = -(A1 * B1 + A2 * B2) / denominator;
  if (!(w > 0) || !std::isfinite(w)) return std::nullopt;
  const double F = 1 / std::sqrt(w);
  if (!std::isfinite(F)) return std::nullopt;
  return F;
}

bool CameraBehindScenePlane(const Eigen::Matrix3d& H,
                            const std::vector<PlanarCorrespondence>& points,
                            const std::vector<int>& use) {
  double w = 0;
  for (int i : use) w += H(2, 0) * points[i].X + H(2, 1) * points[i].Y + H(2, 2);
  // With the depths positive, det H = −F²·s³·C.z for a proper camera (s > 0 the scale of H).
  const double det = H.determinant();
  return (w > 0) == (det > 0);
}

}  // namespace zelv
