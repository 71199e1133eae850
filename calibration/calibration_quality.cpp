#include "calibration/calibration_quality.h"

#include <Eigen/Dense>
#include <algorithm>
#include <cmath>
#include <set>
#include <utility>

#include "calibration/lens_projection.h"

namespace zelv {
namespace {

using lens_projection::Lens;

ImageGridMap EmptyGrid(double width, double height, int columns, int rows) {
  ImageGridMap map;
  map.columns = std::max(columns, 1);
  map.rows = std::max(rows, 1);
  map.width = width;
  map.height = height;
  map.values.assign(static_cast<std::size_t>(map.columns) * map.rows, 0.0);
  return map;
}

// The cells' centres, raw pixels, row-major from the top-left cell.
std::vector<cv::Point2d> CellCentres(const ImageGridMap& map) {
  std::vector<cv::Point2d> centres;
  const double w = map.width / map.columns, h = map.height / map.rows;
  for (int r = 0; r < map.rows; ++r)
    for (int c = 0; c < map.columns; ++c) centres.emplace_back((c + 0.5) * w, (r + 0.5) * h);
  return centres;
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 ? values[n / 2] : 0.5 * (values[n / 2 - 1] + values[n / 2]);
}

// A value the map cannot hold (a ray the lens model does not invert) is given the map's largest:
// no cell is shown better known than the worst one known.
void ReplaceNonFinite(ImageGridMap& map) {
  double largest = 0;
  for (double v : map.values)
    if (std::isfinite(v)) largest = std::max(largest, v);
  for (double& v : map.values)
    if (!std::isfinite(v)) v = largest;
}

// The projection's uncertainty over the grid for a camera carrying its covariance; empty without.
ImageGridMap UncertaintyOf(const LensCalibration& camera, int columns, int rows) {
  const std::size_t n = IntrinsicNames(camera).size();
  if (camera.intrinsicsCovariance.size() != n * n || camera.imageWidth <= 0 ||
      camera.imageHeight <= 0)
    return {};
  ImageGridMap map = EmptyGrid(camera.imageWidth, camera.imageHeight, columns, rows);
  const Lens lens = lens_projection::LensOf(camera);
  const std::vector<cv::Point3d> rays = lens_projection::Unproject(lens, CellCentres(map));
  const int cells = static_cast<int>(rays.size());
  const int intrinsics = static_cast<int>(n);

  // The projections of the cells' rays, as points at infinity (no translation), differentiated
  // with respect to the intrinsics and to a small rotation of the camera, stacked over the grid.
  Eigen::MatrixXd jacobian;
  lens_projection::Project(lens, rays, cv::Vec3d(0, 0, 0), cv::Vec3d(0, 0, 0), &jacobian);
  const Eigen::MatrixXd byIntrinsics = jacobian.leftCols(intrinsics);
  const Eigen::MatrixXd byRotation = jacobian.middleCols(intrinsics, 3);
  // A change of the intrinsics that a rotation of the camera would reproduce moves no ray with
  // respect to the world: the rotation is fitted to it over the whole grid and taken out, which
  // leaves the change's part orthogonal to the three rotation directions.
  const Eigen::HouseholderQR<Eigen::MatrixXd> qr(byRotation);
  const Eigen::MatrixXd q = qr.householderQ() * Eigen::MatrixXd::Identity(2 * cells, 3);
  const Eigen::MatrixXd left = byIntrinsics - q * (q.transpose() * byIntrinsics);

  const Eigen::Map<const Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>>
      covariance(camera.intrinsicsCovariance.data(), intrinsics, intrinsics);
  for (int cell = 0; cell < cells; ++cell) {
    const Eigen::MatrixXd j = left.middleRows(2 * cell, 2);
    const Eigen::Matrix2d c = j * covariance * j.transpose();
    // The 1σ ellipse's major semi-axis: the root of the larger eigenvalue.
    const double mean = 0.5 * (c(0, 0) + c(1, 1));
    const double spread = std::hypot(0.5 * (c(0, 0) - c(1, 1)), c(0, 1));
    map.values[cell] = std::sqrt(std::max(0.0, mean + spread));
  }
  ReplaceNonFinite(map);
  return map;
}

// The rotation that best takes the unit rays `from` onto `to` with the weights (Kabsch).
Eigen::Matrix3d BestRotation(const std::vector<Eigen::Vector3d>& from,
                             const std::vector<Eigen::Vector3d>& to,
                             const std::vector<double>& weights) {
  Eigen::Matrix3d correlation = Eigen::Matrix3d::Zero();
  for (std::size_t i = 0; i < from.size(); ++i)
    if (weights[i] > 0) correlation += weights[i] * to[i] * from[i].transpose();
  const Eigen::JacobiSVD<Eigen::Matrix3d> svd(correlation,
                                              Eigen::ComputeFullU | Eigen::ComputeFullV);
  Eigen::Matrix3d sign = Eigen::Matrix3d::Identity();
  sign(2, 2) = (svd.matrixU() * svd.matrixV().transpose()).determinant() < 0 ? -1 : 1;
  return svd.matrixU() * sign * svd.matrixV().transpose();
}

}  // namespace

ImageGridMap ProjectionUncertainty(const CalibrationResult& calibration, int columns, int rows) {
  return UncertaintyOf(calibration.camera, columns, rows);
}

ImageGridMap CornerCoverage(const std::vector<CalibrationView>& views,
                            const CalibrationResult& calibration, int columns, int rows) {
  ImageGridMap map =
      EmptyGrid(calibration.camera.imageWidth, calibration.camera.imageHeight, columns, rows);
  if (map.width <= 0 || map.height <= 0) return map;
  std::set<std::pair<int, int>> rejected;
  for (const RejectedCorner& corner : calibration.rejectedCorners)
    rejected.insert({corner.view, corner.id});
  const double w = map.width / map.columns, h = map.height / map.rows;
  for (std::size_t v = 0; v < views.size(); ++v) {
    if (v < calibration.views.size() && !calibration.views[v].used) continue;
    for (std::size_t i = 0; i < views[v].image.size(); ++i) {
      if (rejected.count({static_cast<int>(v), views[v].ids[i]})) continue;
      const PixelPoint& p = views[v].image[i];
      if (!std::isfinite(p.x) || !std::isfinite(p.y)) continue;
      // The pixel (x, y) covers x − 0.5 .. x + 0.5: the cell of its middle.
      const int c = std::clamp(static_cast<int>(std::floor((p.x + 0.5) / w)), 0, map.columns - 1);
      const int r = std::clamp(static_cast<int>(std::floor((p.y + 0.5) / h)), 0, map.rows - 1);
      map.values[static_cast<std::size_t>(r) * map.columns + c] += 1;
    }
  }
  return map;
}

double UncoveredShare(const ImageGridMap& coverage) {
  if (coverage.values.empty()) return 0;
  const auto empty = std::count(coverage.values.begin(), coverage.values.end(), 0.0);
  return static_cast<double>(empty) / static_cast<double>(coverage.values.size());
}

ImageGridMap ProjectionDifference(const LensCalibration& first, const LensCalibration& second,
                                  int columns, int rows) {
  ImageGridMap map = EmptyGrid(second.imageWidth, second.imageHeight, columns, rows);
  const std::vector<cv::Point2d> centres = CellCentres(map);
  const Lens lensA = lens_projection::LensOf(first);
  const Lens lensB = lens_projection::LensOf(second);
  const std::vector<cv::Point3d> raysA = lens_projection::Unproject(lensA, centres);
  const std::vector<cv::Point3d> raysB = lens_projection::Unproject(lensB, centres);
  std::vector<Eigen::Vector3d> unitA, unitB;
  for (std::size_t i = 0; i < centres.size(); ++i) {
    unitA.push_back(Eigen::Vector3d(raysA[i].x, raysA[i].y, raysA[i].z).normalized());
    unitB.push_back(Eigen::Vector3d(raysB[i].x, raysB[i].y, raysB[i].z).normalized());
  }
  // The rotation is fitted over the whole grid with equal weights, as the uncertainty takes a
  // rotation out, so that the two maps can be set against each other.
  std::vector<double> weights(centres.size(), 1.0);
  for (std::size_t i = 0; i < centres.size(); ++i)
    if (!unitA[i].allFinite() || !unitB[i].allFinite()) weights[i] = 0;
  auto differences = [&](const Eigen::Matrix3d& rotation) {
    std::vector<cv::Point3d> turned;
    for (const Eigen::Vector3d& a : unitA) {
      const Eigen::Vector3d b = rotation * (a.allFinite() ? a : Eigen::Vector3d::UnitZ());
      turned.emplace_back(b.x(), b.y(), b.z());
    }
    const std::vector<cv::Point2d> projected =
        lens_projection::Project(lensB, turned, cv::Vec3d(0, 0, 0), cv::Vec3d(0, 0, 0));
    std::vector<double> d(centres.size());
    for (std::size_t i = 0; i < centres.size(); ++i)
      d[i] = std::hypot(projected[i].x - centres[i].x, projected[i].y - centres[i].y);
    return d;
  };
  std::vector<double> d = differences(BestRotation(unitA, unitB, weights));
  // Then once more without the cells far beyond the rest: a model let loose beyond its corners
  // (a rational one at the frame's corners) would otherwise turn the whole comparison by them.
  std::vector<double> finite;
  for (double v : d)
    if (std::isfinite(v)) finite.push_back(v);
  const double limit = 5 * std::max(Median(finite), 1e-6);
  std::vector<double> trimmed = weights;
  for (std::size_t i = 0; i < d.size(); ++i)
    if (!(d[i] <= limit)) trimmed[i] = 0;
  if (std::count_if(trimmed.begin(), trimmed.end(), [](double w) { return w > 0; }) >= 3)
    d = differences(BestRotation(unitA, unitB, trimmed));
  map.values = d;
  ReplaceNonFinite(map);
  return map;
}

Expected<CrossValidation> CrossValidate(const std::vector<CalibrationView>& views,
                                        const CalibrationOptions& options, int columns, int rows) {
  if (views.size() < 6)
    return Failure{
        "Для перекрёстной проверки нужно не менее шести снимков мишени: по три на "
        "каждую половину. Добавьте снимки."};
  std::vector<CalibrationView> halves[2];
  for (std::size_t v = 0; v < views.size(); ++v) halves[v % 2].push_back(views[v]);
  Expected<CalibrationResult> first = CalibrateCamera(halves[0], options);
  if (!first)
    return Failure{"Перекрёстная проверка: первая половина снимков (нечётные) не калибруется. " +
                   first.error().text};
  Expected<CalibrationResult> second = CalibrateCamera(halves[1], options);
  if (!second)
    return Failure{"Перекрёстная проверка: вторая половина снимков (чётные) не калибруется. " +
                   second.error().text};

  CrossValidation result;
  result.difference = ProjectionDifference(first->camera, second->camera, columns, rows);
  const ImageGridMap sigmaA = ProjectionUncertainty(*first, columns, rows);
  const ImageGridMap sigmaB = ProjectionUncertainty(*second, columns, rows);
  result.predicted = EmptyGrid(options.imageWidth, options.imageHeight, columns, rows);
  std::vector<double> ratios;
  for (std::size_t i = 0; i < result.predicted.values.size(); ++i) {
    const double predicted = std::hypot(sigmaA.values[i], sigmaB.values[i]);
    result.predicted.values[i] = predicted;
    if (predicted > 0) ratios.push_back(result.difference.values[i] / predicted);
  }
  result.medianRatio = Median(std::move(ratios));
  return result;
}

}  // namespace zelv
