// The rigorous estimate's derivatives against central finite differences of the projection, on
// random poses and points: a wrong sign or a swapped index in one of the 14 derivatives shows.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "solver/rigorous_model.h"

namespace zelv::rigorous {
namespace {

// The projection (u, v) of the scene point (X, Y, 0), corrected pixels; false when behind.
bool Projection(const Model& m, double X, double Y, double& u, double& v) {
  const PlanarCorrespondence p{0, 0, X, Y};
  Eigen::Vector3d q;
  double eu = 0, ev = 0;
  if (!PointError(m, m.R * m.C, p, eu, ev, q)) return false;
  u = -eu;
  v = -ev;
  return true;
}

TEST(RigorousGradient, EveryDerivativeOfTheProjectionMatchesCentralDifferences) {
  std::mt19937 random(7);
  std::uniform_real_distribution<double> unit(-1, 1);
  int checked = 0;
  for (int scene = 0; scene < 200; ++scene) {
    Model m;
    const Eigen::Vector3d axis(unit(random), unit(random), unit(random));
    // Looking down at the plane from above, turned and tilted by up to about 60°.
    m.R = Eigen::AngleAxisd(M_PI + unit(random), Eigen::Vector3d::UnitX()).toRotationMatrix() *
          Eigen::AngleAxisd(unit(random), axis.normalized()).toRotationMatrix();
    m.C = Eigen::Vector3d(200 * unit(random), 200 * unit(random), 500 + 400 * (1 + unit(random)));
    m.F = 800 + 2000 * (1 + unit(random)) / 2;
    const double X = 300 * unit(random), Y = 300 * unit(random);
    Eigen::Vector3d q;
    double eu, ev;
    if (!PointError(m, m.R * m.C, PlanarCorrespondence{0, 0, X, Y}, eu, ev, q)) continue;
    double ju[7], jv[7];
    PointDerivatives(m, q, ju, jv);
    // Steps of the size each parameter moves in a fit: 1e-6 rad, 1e-4 scene units, 1e-3 px.
    const double steps[7] = {1e-6, 1e-6, 1e-6, 1e-4, 1e-4, 1e-4, 1e-3};
    for (int k = 0; k < 7; ++k) {
      Vector7 d = Vector7::Zero();
      d(k) = steps[k];
      double u1, v1, u0, v0;
      ASSERT_TRUE(Projection(Apply(m, d), X, Y, u1, v1));
      ASSERT_TRUE(Projection(Apply(m, -d), X, Y, u0, v0));
      const double du = (u1 - u0) / (2 * steps[k]);
      const double dv = (v1 - v0) / (2 * steps[k]);
      const double scale = 1e-5 * (1 + std::abs(ju[k]) + std::abs(jv[k]));
      EXPECT_NEAR(ju[k], du, scale) << "parameter " << k << ", scene " << scene;
      EXPECT_NEAR(jv[k], dv, scale) << "parameter " << k << ", scene " << scene;
    }
    ++checked;
  }
  EXPECT_GT(checked, 150);
}

// A scene point in space: the same derivatives by the pose, and those by the point itself.
TEST(RigorousGradient, PointsInSpaceHaveTheSameDerivativesAndThoseByThePoint) {
  std::mt19937 random(11);
  std::uniform_real_distribution<double> unit(-1, 1);
  for (int scene = 0; scene < 100; ++scene) {
    Model m;
    m.R = Eigen::AngleAxisd(M_PI + 0.5 * unit(random), Eigen::Vector3d::UnitX()).toRotationMatrix();
    m.C = Eigen::Vector3d(100 * unit(random), 100 * unit(random), 1000);
    m.F = 1500;
    const SpatialCorrespondence p{0, 0, 200 * unit(random), 200 * unit(random), 300 * unit(random)};
    const auto project = [](const Model& c, const SpatialCorrespondence& s, double& u, double& v) {
      Eigen::Vector3d q;
      double eu, ev;
      const bool front = PointError(c, c.R * c.C, s, eu, ev, q);
      u = -eu;
      v = -ev;
      return front;
    };
    Eigen::Vector3d q;
    double eu, ev;
    ASSERT_TRUE(PointError(m, m.R * m.C, p, eu, ev, q));
    double ju[7], jv[7];
    PointDerivatives(m, q, ju, jv);
    const double steps[7] = {1e-6, 1e-6, 1e-6, 1e-4, 1e-4, 1e-4, 1e-3};
    for (int k = 0; k < 7; ++k) {
      Vector7 d = Vector7::Zero();
      d(k) = steps[k];
      double u1, v1, u0, v0;
      ASSERT_TRUE(project(Apply(m, d), p, u1, v1));
      ASSERT_TRUE(project(Apply(m, -d), p, u0, v0));
      const double scale = 1e-5 * (1 + std::abs(ju[k]) + std::abs(jv[k]));
      EXPECT_NEAR(ju[k], (u1 - u0) / (2 * steps[k]), scale) << "parameter " << k;
      EXPECT_NEAR(jv[k], (v1 - v0) / (2 * steps[k]), scale) << "parameter " << k;
    }
    const Eigen::Matrix<double, 2, 3> J = SceneDerivatives(m, q);
    for (int k = 0; k < 3; ++k) {
      SpatialCorrespondence plus = p, minus = p;
      (&plus.X)[k] += 1e-4;
      (&minus.X)[k] -= 1e-4;
      double u1, v1, u0, v0;
      ASSERT_TRUE(project(m, plus, u1, v1));
      ASSERT_TRUE(project(m, minus, u0, v0));
      EXPECT_NEAR(J(0, k), (u1 - u0) / 2e-4, 1e-5 * (1 + std::abs(J(0, k)))) << "coordinate " << k;
      EXPECT_NEAR(J(1, k), (v1 - v0) / 2e-4, 1e-5 * (1 + std::abs(J(1, k)))) << "coordinate " << k;
    }
  }
}

}  // namespace
}  // namespace zelv::rigorous
