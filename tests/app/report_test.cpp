// The report's figures and text from an orientation whose covariance the test fills itself: the
// ellipses follow the covariance, the correlations are listed, and no number that is not finite
// reaches the page.
#include "app/report.h"

#include <gtest/gtest.h>

#include <cmath>

#include "app/report_figure.h"
#include "non_finite_text.h"
#include "solver/refinement_settings.h"

namespace zelv {
namespace {

Orientation Zhang() {
  const std::string folder = std::string(ZELV_EXAMPLES_DIR) + "/zhang/";
  OrientationRequest request;
  request.cameraFile = folder + "calibration.yml";
  request.imageFile = folder + "image-raw.crd";
  request.sceneFile = folder + "scene.crd";
  request.settings.EstimateLevel = 1;
  request.decimalSeparator = '.';
  OrientationOutcome outcome = Orient(request);
  if (!outcome) throw std::runtime_error(outcome.error().text);
  return std::move(*outcome);
}

PoseCovariance Diagonal(const std::array<double, 7>& sigma) {
  PoseCovariance c;
  c.parameters = {"omega", "phi", "kappa", "X0", "Y0", "Z0", "f"};
  c.matrix.assign(49, 0);
  for (int i = 0; i < 7; ++i) c.matrix[i * 7 + i] = sigma[i] * sigma[i];
  c.centreSemiAxes = {3, 2, 1};
  c.centreAxes = {{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}};
  return c;
}

TEST(ReportTest, AFocalLengthsSigmaMovesEachPointAlongItsRadiusAndTheCentresShadowIsItsAxes) {
  Orientation o = Zhang();
  o.precision.known = true;
  const double sigmaF = 2.0;
  o.precision.covariance = Diagonal({0, 0, 0, 0, 0, 0, sigmaF});
  const std::vector<Ellipse2> ellipses = PointEllipses(o);
  ASSERT_EQ(ellipses.size(), o.residuals->points.size());
  for (std::size_t i = 0; i < ellipses.size(); i += 17) {
    const PointResidual& p = o.residuals->points[i];
    // The projection scales with f about the image centre: the projected point (x − ex, y − ey)
    // moves by itself · σf / f, a line of a 95 % half-length √5.991 times that.
    const double r = std::hypot(p.x - p.ex, p.y - p.ey);
    EXPECT_NEAR(ellipses[i].a, std::sqrt(5.991465) * r * sigmaF / o.focalLength.value, 1e-3 * r);
    EXPECT_NEAR(ellipses[i].b, 0, 1e-6 * r);
    const double along = std::fabs(std::cos(ellipses[i].angle - std::atan2(p.y, p.x)));
    EXPECT_NEAR(along, 1, 1e-4) << i;
  }
  const std::optional<Ellipse2> plan = CentreEllipse(o, {1, 0, 0}, {0, 1, 0});
  ASSERT_TRUE(plan);
  EXPECT_NEAR(plan->a, 3, 1e-12);
  EXPECT_NEAR(plan->b, 2, 1e-12);
  EXPECT_NEAR(std::sin(plan->angle), 0, 1e-12);
}

TEST(ReportTest, TheCovarianceBringsEllipsesAndCorrelationsAndANanOneBringsNoNan) {
  Orientation o = Zhang();
  o.precision.known = true;
  o.precision.sigma.fill(0.001);
  o.precision.redundancy = 506;
  o.precision.tQuantile95 = 1.9647;
  PoseCovariance c = Diagonal({1e-4, 1e-4, 1e-4, 0.006, 0.006, 0.002, 0});
  c.matrix[3 * 7 + 1] = c.matrix[1 * 7 + 3] = -0.9 * 1e-4 * 0.006;  // phi with X0
  o.precision.covariance = c;
  ReportContext context;
  context.version = "1.0.0";
  const std::string html = ReportHtml(o, context);
  EXPECT_NE(html.find("phi — X0</span></td><td>-0.900</td>"), std::string::npos);
  EXPECT_NE(html.find("полуоси 3.0000, 2.0000, 1.0000"), std::string::npos);
  // An ellipse for each control point over the frame, and one in each view of the scene.
  std::size_t ellipses = 0;
  for (std::size_t at = html.find("<ellipse"); at != std::string::npos;
       at = html.find("<ellipse", at + 1))
    ++ellipses;
  EXPECT_EQ(ellipses, o.residuals->points.size() + 2);

  // A covariance gone wrong, a σ and a value that are not finite: dashes, never "nan".
  o.precision.covariance->matrix[0] = std::nan("");
  o.precision.covariance->matrix[8] = INFINITY;
  o.precision.covariance->centreSemiAxes[0] = std::nan("");
  o.precision.sigma[kDistance] = std::nan("");
  o.residuals->points[3].ex = INFINITY;
  o.focalLength.sigma = std::nan("");
  for (const ReportFigures how : {ReportFigures::kInlineSvg, ReportFigures::kImageResources}) {
    const std::string poisoned = ReportHtml(o, context, how);
    EXPECT_EQ(test::NonFiniteWord(poisoned), "");
  }
  for (const Figure& figure : ReportFigureList(o))
    EXPECT_EQ(test::NonFiniteWord(FigureSvg(figure)), "");
}

TEST(ReportTest, CheckPointsAreListedAndDrawnApartAndAMissThatIsNotKnownIsADash) {
  Orientation o = Zhang();
  const std::size_t control = o.residuals->points.size() - 2;
  o.checkPoints.points = {{3, "C3", 0.25, -0.5, true, 0.012, -0.004}, {8, "C8", 1.5, 2, false}};
  o.checkPoints.imageRmse = 1.2;
  o.checkPoints.sceneRmse = 0.0126;
  ReportContext context;
  context.known.roll = KnownValue{3, 0};
  const std::string html = ReportHtml(o, context);
  EXPECT_NE(html.find("<tr><td>C3</td><td>0.2500</td><td>-0.5000</td><td>0.5590</td>"
                      "<td>0.0120</td><td>-0.0040</td><td>0.0126</td></tr>"),
            std::string::npos);
  EXPECT_NE(html.find("<tr><td>C8</td><td>1.5000</td><td>2.0000</td><td>2.5000</td>"
                      "<td>—</td><td>—</td><td>—</td></tr>"),
            std::string::npos);
  EXPECT_NE(html.find("<th>1.2000</th><th></th><th></th><th>0.0126</th>"), std::string::npos);
  EXPECT_NE(
      html.find("<td>Опорных / контрольных точек</td><td>" + std::to_string(control) + " / 2</td>"),
      std::string::npos);
  EXPECT_NE(html.find("c = 3.0000° (закреплено)"), std::string::npos);
  EXPECT_EQ(html.find("Сцена пространственная"), std::string::npos);
  // Two hollow squares over the frame, one for each check point.
  const std::optional<Figure> figure = ResidualFigure(o);
  ASSERT_TRUE(figure);
  int squares = 0;
  for (const FigureShape& shape : figure->shapes)
    if (shape.kind == FigureShape::Kind::kRectangle && !shape.fill) ++squares;
  EXPECT_EQ(squares, 2);

  // Without check points there is no such section.
  o.checkPoints = {};
  EXPECT_EQ(ReportHtml(o, context).find("<h2>Контрольные точки</h2>"), std::string::npos);
}

}  // namespace
}  // namespace zelv
