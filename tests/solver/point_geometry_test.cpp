// The geometry check of the control points: sets that cannot fix the projective transformation
// (on one line, all but one on a line, fewer than four distinct points) are told, at any scale,
// and nothing else is.
#include "solver/point_geometry.h"

#include <gtest/gtest.h>

#include <cmath>

namespace zelv {
namespace {

struct Points {
  std::vector<double> x, y;
  void Add(double px, double py) {
    x.push_back(px);
    y.push_back(py);
  }
  // The same points scaled by `s` and moved by (dx, dy).
  Points Moved(double s, double dx, double dy) const {
    Points p;
    for (std::size_t i = 0; i < x.size(); ++i) p.Add(s * x[i] + dx, s * y[i] + dy);
    return p;
  }
};

// 24 points on a slanted line, as a row of targets along a kerb.
Points Collinear(int count) {
  Points p;
  for (int i = 0; i < count; ++i) p.Add(100 + 7.3 * i, 50 + 2.1 * i);
  return p;
}

PointGeometry Check(const Points& p) { return CheckPointGeometry(p.x, p.y, "изображения"); }

// Each case at several scales and origins: the answer may not depend on the unit.
void ExpectAtEveryScale(const Points& p, PointGeometryProblem problem, int offLine = 0) {
  for (const double scale : {1e-8, 1e-3, 1.0, 1e3, 1e8})
    for (const double shift : {0.0, 12345.678}) {
      const PointGeometry g = Check(p.Moved(scale, shift * scale, -shift * scale));
      EXPECT_EQ(g.problem, problem) << "scale " << scale << " shift " << shift;
      EXPECT_EQ(g.offLine, offLine) << "scale " << scale;
    }
}

TEST(PointGeometryTest, PointsOnOneLineAreCollinearAtEveryScale) {
  ExpectAtEveryScale(Collinear(24), PointGeometryProblem::kCollinear);
  ExpectAtEveryScale(Collinear(4), PointGeometryProblem::kCollinear);
  // Repeated points along the line are still a line.
  Points repeated = Collinear(24);
  repeated.Add(repeated.x[3], repeated.y[3]);
  ExpectAtEveryScale(repeated, PointGeometryProblem::kCollinear);
  // An axis-parallel line.
  Points row;
  for (int i = 0; i < 24; ++i) row.Add(i * 10.0, 7.0);
  ExpectAtEveryScale(row, PointGeometryProblem::kCollinear);
  EXPECT_EQ(Check(Collinear(24)).reason,
            "Реперные точки изображения лежат на одной прямой: положение камеры по ним не "
            "определяется. Добавьте точки вне этой прямой.");
}

TEST(PointGeometryTest, AllButOnePointOnALineNamesTheOneOffIt) {
  for (const int off : {0, 10, 23}) {
    SCOPED_TRACE(off);
    Points p = Collinear(23);
    p.x.insert(p.x.begin() + off, 150.0);
    p.y.insert(p.y.begin() + off, 400.0);
    ExpectAtEveryScale(p, PointGeometryProblem::kAllButOneOnLine, off + 1);
  }
  // Two copies of the one point off the line are still one position.
  Points copies = Collinear(22);
  copies.Add(150, 400);
  copies.Add(150, 400);
  ExpectAtEveryScale(copies, PointGeometryProblem::kAllButOneOnLine, 23);
  Points p = Collinear(23);
  p.Add(150, 400);
  EXPECT_EQ(CheckPointGeometry(p.x, p.y, "сцены").reason,
            "Все реперные точки сцены, кроме точки 24, лежат на одной прямой: положение камеры по "
            "ним не определяется. Добавьте точки вне этой прямой.");
}

TEST(PointGeometryTest, FewerThanFourDistinctPointsAreCoincident) {
  Points same;
  for (int i = 0; i < 24; ++i) same.Add(320.5, 240.25);
  ExpectAtEveryScale(same, PointGeometryProblem::kCoincident);
  // Three corners measured eight times each: a triangle, no fourth point.
  Points triangle;
  for (int i = 0; i < 8; ++i) {
    triangle.Add(0, 0);
    triangle.Add(100, 0);
    triangle.Add(0, 100);
  }
  ExpectAtEveryScale(triangle, PointGeometryProblem::kCoincident);
  EXPECT_EQ(Check(Points{}).problem, PointGeometryProblem::kCoincident);
  EXPECT_EQ(Check(same).reason,
            "Среди реперных точек изображения меньше четырёх различных: положение камеры по ним "
            "не определяется. Проверьте координаты точек.");
}

TEST(PointGeometryTest, SetsThatFixTheTransformationPass) {
  Points square;
  square.Add(0, 0);
  square.Add(100, 0);
  square.Add(100, 100);
  square.Add(0, 100);
  ExpectAtEveryScale(square, PointGeometryProblem::kNone);
  Points grid;
  for (int i = 0; i < 5; ++i)
    for (int j = 0; j < 5; ++j) grid.Add(i * 50.0 + 3, j * 40.0 - 7);
  ExpectAtEveryScale(grid, PointGeometryProblem::kNone);
  // A line with two points off it on different sides: four points in general position exist.
  Points two = Collinear(22);
  two.Add(150, 400);
  two.Add(300, -200);
  ExpectAtEveryScale(two, PointGeometryProblem::kNone);
  // Measured points of a row with a pixel of noise are a (poor) set, not a degenerate one: the
  // check refuses only what is degenerate to within rounding.
  Points noisy = Collinear(24);
  for (std::size_t i = 0; i < noisy.y.size(); ++i) noisy.y[i] += (i % 3 == 0 ? 1.0 : -0.5);
  EXPECT_EQ(Check(noisy).problem, PointGeometryProblem::kNone);
  EXPECT_EQ(Check(grid).reason, "");
}

TEST(PointGeometryTest, ALineWrittenToAFewDecimalsIsStillALine) {
  // A slanted row of scene points in metres to the millimetre, and its image to 0.001 px: the
  // rounding moves them off the line by far less than the tolerance.
  Points scene, image;
  for (int i = 0; i < 24; ++i) {
    scene.Add(std::round((12.3456 + 3.7 * i) * 1000) / 1000,
              std::round((-4.321 + 1.3 * i) * 1000) / 1000);
    image.Add(std::round((812.3 - 17.13 * i) * 1000) / 1000,
              std::round((95.7 + 9.41 * i) * 1000) / 1000);
  }
  EXPECT_EQ(Check(scene).problem, PointGeometryProblem::kCollinear);
  EXPECT_EQ(Check(image).problem, PointGeometryProblem::kCollinear);
}

TEST(PointGeometryTest, APointListIsCheckedAsItsCoordinates) {
  VT_Points points(1);
  const Points p = Collinear(24);
  for (std::size_t i = 0; i < p.x.size(); ++i) points.Emplace(p.x[i], p.y[i]);
  EXPECT_EQ(CheckPointGeometry(points, "сцены").problem, PointGeometryProblem::kCollinear);
}

}  // namespace
}  // namespace zelv
