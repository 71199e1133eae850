#include "calibration/camera_calibration.h"

#include <Eigen/Dense>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>

#include "calibration/lens_projection.h"

namespace zelv {
namespace {

// How OpenCV is asked to fit a model: the flags of its calibration and the coefficients the
// model keeps (those it estimates; OpenCV's vector may be longer, its tail fixed at zero).
struct ModelFit {
  bool fisheye = false;
  int flags = 0;
  int coefficients = 5;
};

ModelFit FitOf(CalibrationModel model) {
  switch (model) {
    case CalibrationModel::kPinhole4:
      return {false, cv::CALIB_FIX_K3, 4};
    case CalibrationModel::kPinhole5:
      return {false, 0, 5};
    case CalibrationModel::kRational8:
      return {false, cv::CALIB_RATIONAL_MODEL, 8};
    case CalibrationModel::kThinPrism12:
      return {false, cv::CALIB_RATIONAL_MODEL | cv::CALIB_THIN_PRISM_MODEL, 12};
    case CalibrationModel::kTilted14:
      return {false, cv::CALIB_RATIONAL_MODEL | cv::CALIB_THIN_PRISM_MODEL | cv::CALIB_TILTED_MODEL,
              14};
    case CalibrationModel::kFisheye:
      return {true, cv::fisheye::CALIB_RECOMPUTE_EXTRINSIC | cv::fisheye::CALIB_FIX_SKEW, 4};
  }
  return {};
}

// The camera of one run of OpenCV's calibration and the poses of the views it used.
struct Fit {
  lens_projection::Lens lens;
  std::vector<cv::Vec3d> rotations, translations;
};

// The residuals are judged against this robust σ at the least, px: with exact corners (rendered
// views) the median absolute deviation falls to rounding and would reject sound corners.
constexpr double kSigmaFloor = 0.01;
// The rejection of corners and views is run again until nothing changes, at most this many times.
constexpr int kMaximumRounds = 20;

std::vector<cv::Point3d> BoardPoints(const CalibrationView& view, const std::vector<char>& kept) {
  std::vector<cv::Point3d> points;
  for (std::size_t i = 0; i < view.board.size(); ++i)
    if (kept.empty() || kept[i]) points.emplace_back(view.board[i][0], view.board[i][1], 0.0);
  return points;
}

std::vector<cv::Point2d> ImagePoints(const CalibrationView& view, const std::vector<char>& kept) {
  std::vector<cv::Point2d> points;
  for (std::size_t i = 0; i < view.image.size(); ++i)
    if (kept.empty() || kept[i]) points.emplace_back(view.image[i].x, view.image[i].y);
  return points;
}

// One run of OpenCV's calibration on the kept corners of the views used. Throws cv::Exception
// when OpenCV cannot calibrate.
Fit RunOpenCv(const ModelFit& model, const std::vector<CalibrationView>& views,
              const std::vector<int>& used, const std::vector<std::vector<char>>& kept,
              const CalibrationOptions& options) {
  std::vector<std::vector<cv::Point3d>> board;
  std::vector<std::vector<cv::Point2d>> image;
  for (int v : used) {
    board.push_back(BoardPoints(views[v], kept[v]));
    image.push_back(ImagePoints(views[v], kept[v]));
  }
  const cv::Size size(options.imageWidth, options.imageHeight);
  Fit fit;
  cv::Mat K, coefficients;
  std::vector<cv::Mat> rotations, translations;
  if (model.fisheye) {
    const cv::TermCriteria criteria(cv::TermCriteria::COUNT + cv::TermCriteria::EPS, 100,
                                    DBL_EPSILON);
    cv::fisheye::calibrate(board, image, size, K, coefficients, rotations, translations,
                           model.flags, criteria);
  } else {
    // OpenCV's own criteria but with more iterations: its default 30 may stop the rational and
    // thin-prism models short of the minimum.
    const cv::TermCriteria criteria(cv::TermCriteria::COUNT + cv::TermCriteria::EPS, 100,
                                    DBL_EPSILON);
    // OpenCV takes single-precision points; its adjustment works in double all the same.
    std::vector<std::vector<cv::Point3f>> boardF(board.size());
    std::vector<std::vector<cv::Point2f>> imageF(image.size());
    for (std::size_t v = 0; v < board.size(); ++v) {
      for (const cv::Point3d& p : board[v]) boardF[v].emplace_back(p);
      for (const cv::Point2d& p : image[v]) imageF[v].emplace_back(p);
    }
    cv::calibrateCamera(boardF, imageF, size, K, coefficients, rotations, translations, model.flags,
                        criteria);
  }
  K.convertTo(K, CV_64F);
  coefficients.convertTo(coefficients, CV_64F);
  fit.lens.fisheye = model.fisheye;
  fit.lens.K = cv::Matx33d(K);
  const double* c = coefficients.ptr<double>();
  fit.lens.coefficients.assign(c, c + model.coefficients);
  for (std::size_t v = 0; v < rotations.size(); ++v) {
    fit.rotations.emplace_back(rotations[v].reshape(1, 3));
    fit.translations.emplace_back(translations[v].reshape(1, 3));
  }
  return fit;
}

// The pose of a view left out of the calibration, by the final camera, so that its residuals
// can be shown; false when its corners give no pose.
bool PoseOfLeftOutView(const ModelFit& model, const Fit& fit, const CalibrationView& view,
                       cv::Vec3d& rotation, cv::Vec3d& translation) {
  if (view.image.size() < 4) return false;
  const std::vector<cv::Point3d> board = BoardPoints(view, {});
  const std::vector<cv::Point2d> image = ImagePoints(view, {});
  try {
    if (model.fisheye) {
      std::vector<cv::Point2d> normalised;
      cv::fisheye::undistortPoints(image, normalised, fit.lens.K, fit.lens.coefficients);
      return cv::solvePnP(board, normalised, cv::Matx33d::eye(), cv::noArray(), rotation,
                          translation);
    }
    return cv::solvePnP(board, image, fit.lens.K, fit.lens.coefficients, rotation, translation);
  } catch (const cv::Exception&) {
    return false;
  }
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  const std::size_t middle = values.size() / 2;
  std::nth_element(values.begin(), values.begin() + middle, values.end());
  const double upper = values[middle];
  if (values.size() % 2) return upper;
  return 0.5 * (upper + *std::max_element(values.begin(), values.begin() + middle));
}

// The robust σ of one residual coordinate: the median absolute deviation's, σ = 1.4826 MAD.
double RobustSigma(const std::vector<double>& components) {
  const double centre = Median(components);
  std::vector<double> deviations;
  deviations.reserve(components.size());
  for (double c : components) deviations.push_back(std::abs(c - centre));
  return 1.4826 * Median(std::move(deviations));
}

std::string Number(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

bool Finite(const PixelPoint& p) { return std::isfinite(p.x) && std::isfinite(p.y); }

// The checks of the input every calibration starts with.
Expected<void> CheckInput(const std::vector<CalibrationView>& views,
                          const CalibrationOptions& options) {
  if (options.imageWidth <= 0 || options.imageHeight <= 0)
    return Failure{"Размер снимков не задан: укажите ширину и высоту снимков в пикселях."};
  if (!(options.cornerRejection > 0) || !(options.viewRejection > 0) ||
      !std::isfinite(options.cornerRejection) || !std::isfinite(options.viewRejection))
    return Failure{"Пороги отбраковки углов и снимков должны быть положительными числами."};
  for (const CalibrationView& view : views) {
    if (view.ids.size() != view.image.size() || view.board.size() != view.image.size())
      return Failure{"Снимок " + view.name +
                     ": число углов на снимке и на мишени не совпадает; найдите мишень заново."};
    for (std::size_t i = 0; i < view.image.size(); ++i) {
      const PixelPoint& p = view.image[i];
      if (!Finite(p) || !std::isfinite(view.board[i][0]) || !std::isfinite(view.board[i][1]))
        return Failure{"Снимок " + view.name + ": координаты угла " + std::to_string(view.ids[i]) +
                       " не являются числом; найдите мишень на снимке заново."};
      if (p.x < -0.5 || p.y < -0.5 || p.x > options.imageWidth - 0.5 ||
          p.y > options.imageHeight - 0.5)
        return Failure{"Снимок " + view.name + ": угол " + std::to_string(view.ids[i]) +
                       " лежит за краем снимка " + std::to_string(options.imageWidth) + " × " +
                       std::to_string(options.imageHeight) +
                       " пикселей; проверьте размер снимков или найдите мишень заново."};
    }
  }
  return {};
}

Failure Stopped() { return Failure{"Калибровка камеры остановлена."}; }

}  // namespace

const char* CalibrationModelName(CalibrationModel model) {
  switch (model) {
    case CalibrationModel::kPinhole4:
      return "pinhole4";
    case CalibrationModel::kPinhole5:
      return "pinhole5";
    case CalibrationModel::kRational8:
      return "rational8";
    case CalibrationModel::kThinPrism12:
      return "thinprism12";
    case CalibrationModel::kTilted14:
      return "tilted14";
    case CalibrationModel::kFisheye:
      return "fisheye";
  }
  return "pinhole5";
}

bool ParseCalibrationModel(const std::string& name, CalibrationModel& model) {
  for (CalibrationModel m :
       {CalibrationModel::kPinhole4, CalibrationModel::kPinhole5, CalibrationModel::kRational8,
        CalibrationModel::kThinPrism12, CalibrationModel::kTilted14, CalibrationModel::kFisheye}) {
    if (name == CalibrationModelName(m)) {
      model = m;
      return true;
    }
  }
  return false;
}

namespace {

Expected<CalibrationResult> Calibrate(const std::vector<CalibrationView>& views,
                                      const CalibrationOptions& options,
                                      const CalibrationProgress& progress) {
  const ModelFit model = FitOf(options.model);
  // A view's pose needs four corners on the plane at the least.
  const int minimumCorners = std::max(options.minimumCorners, 4);
  const int viewCount = static_cast<int>(views.size());

  CalibrationResult result;
  result.views.resize(views.size());
  std::vector<std::vector<char>> kept(views.size());
  std::vector<char> active(views.size(), 1);
  auto reject = [&](int v, double rms, std::string reason) {
    active[v] = 0;
    result.views[v].used = false;
    result.rejectedViews.push_back({v, rms, std::move(reason)});
  };
  for (int v = 0; v < viewCount; ++v) {
    kept[v].assign(views[v].image.size(), 1);
    const int count = static_cast<int>(views[v].image.size());
    if (count < minimumCorners)
      reject(v, 0,
             "найдено углов: " + std::to_string(count) + ", нужно не менее " +
                 std::to_string(minimumCorners));
  }

  Fit fit;
  std::vector<int> used;
  // Residuals (measured − projected) of every corner of the active views against `fit`.
  std::vector<std::vector<cv::Point2d>> residuals(views.size());
  for (int round = 0;; ++round) {
    if (progress && !progress("Калибровка камеры: проход " + std::to_string(round + 1),
                              0.9 * round / kMaximumRounds))
      return Stopped();
    used.clear();
    for (int v = 0; v < viewCount; ++v) {
      if (!active[v]) continue;
      const int count = static_cast<int>(std::count(kept[v].begin(), kept[v].end(), 1));
      if (count < minimumCorners)
        reject(v, 0,
               "после отбраковки осталось углов: " + std::to_string(count) + ", нужно не менее " +
                   std::to_string(minimumCorners));
      else
        used.push_back(v);
    }
    if (used.size() < 3)
      return Failure{"Для калибровки нужно не менее трёх пригодных снимков мишени, а пригодных " +
                     std::to_string(used.size()) +
                     ". Добавьте снимки, на которых мишень видна целиком и под разными углами."};
    try {
      fit = RunOpenCv(model, views, used, kept, options);
    } catch (const cv::Exception&) {
      return Failure{
          "Калибровка не сходится на этих снимках. Проверьте, что углы мишени найдены верно, и "
          "добавьте снимки мишени под разными углами."};
    }
    bool finite = std::isfinite(fit.lens.K(0, 0)) && std::isfinite(fit.lens.K(1, 1)) &&
                  std::isfinite(fit.lens.K(0, 2)) && std::isfinite(fit.lens.K(1, 2));
    for (double c : fit.lens.coefficients) finite = finite && std::isfinite(c);
    if (!finite)
      return Failure{
          "Калибровка дала не числа. Проверьте углы мишени на снимках и выберите "
          "модель объектива с меньшим числом коэффициентов."};

    // The residuals and each view's RMS over its kept corners.
    std::vector<double> viewRms(views.size(), 0), components;
    for (std::size_t u = 0; u < used.size(); ++u) {
      const int v = used[u];
      const std::vector<cv::Point2d> projected = lens_projection::Project(
          fit.lens, BoardPoints(views[v], {}), fit.rotations[u], fit.translations[u], nullptr);
      residuals[v].resize(projected.size());
      double sum = 0;
      int count = 0;
      for (std::size_t i = 0; i < projected.size(); ++i) {
        residuals[v][i] = {views[v].image[i].x - projected[i].x,
                           views[v].image[i].y - projected[i].y};
        if (!kept[v][i]) continue;
        sum += residuals[v][i].dot(residuals[v][i]);
        ++count;
        components.push_back(residuals[v][i].x);
        components.push_back(residuals[v][i].y);
      }
      viewRms[v] = std::sqrt(sum / count);
    }

    // A wild view first, one at a time: it spoils the residuals of every other view.
    std::vector<double> rmsOfUsed;
    for (int v : used) rmsOfUsed.push_back(viewRms[v]);
    const double medianRms = std::max(Median(rmsOfUsed), kSigmaFloor);
    const int worst = *std::max_element(used.begin(), used.end(),
                                        [&](int a, int b) { return viewRms[a] < viewRms[b]; });
    if (round + 1 < kMaximumRounds && viewRms[worst] > options.viewRejection * medianRms) {
      reject(worst, viewRms[worst],
             "RMS " + Number(viewRms[worst], 2) + " пикс. превышает " +
                 Number(options.viewRejection, 1) + " × медиану RMS снимков (" +
                 Number(medianRms, 2) + " пикс.)");
      continue;
    }

    // Then the corners: every corner of the used views is judged afresh against this fit; the
    // fit stands for the corners it was run on, so a change in the last round is not applied.
    const double limit = options.cornerRejection * std::max(RobustSigma(components), kSigmaFloor);
    std::vector<std::vector<char>> judged = kept;
    for (int v : used)
      for (std::size_t i = 0; i < residuals[v].size(); ++i)
        judged[v][i] = std::hypot(residuals[v][i].x, residuals[v][i].y) <= limit;
    if (judged == kept || round + 1 >= kMaximumRounds) break;
    kept = std::move(judged);
  }
  if (progress && !progress("Калибровка камеры: ковариация параметров", 0.95)) return Stopped();

  // The camera.
  LensCalibration& camera = result.camera;
  camera.format = CameraFileFormat::OpenCvStorage;
  camera.kind = model.fisheye ? LensModelKind::Fisheye : LensModelKind::OpenCv;
  camera.modelName = model.fisheye ? "OpenCV fisheye" : "OpenCV";
  camera.fx = fit.lens.K(0, 0);
  camera.fy = fit.lens.K(1, 1);
  camera.cx = fit.lens.K(0, 2);
  camera.cy = fit.lens.K(1, 2);
  camera.skew = 0;
  camera.coefficients = fit.lens.coefficients;
  camera.imageWidth = options.imageWidth;
  camera.imageHeight = options.imageHeight;
  result.parameterNames = IntrinsicNames(camera);

  // The views: those used with their poses, those left out posed by the final camera.
  double sumSquares = 0;
  int corners = 0;
  for (std::size_t u = 0; u < used.size(); ++u) {
    const int v = used[u];
    ViewResult& view = result.views[v];
    view.used = true;
    view.rotation = {fit.rotations[u][0], fit.rotations[u][1], fit.rotations[u][2]};
    view.translation = {fit.translations[u][0], fit.translations[u][1], fit.translations[u][2]};
    double sum = 0;
    int count = 0;
    for (std::size_t i = 0; i < residuals[v].size(); ++i) {
      view.residuals.push_back({residuals[v][i].x, residuals[v][i].y});
      const double squared = residuals[v][i].dot(residuals[v][i]);
      if (kept[v][i]) {
        sum += squared;
        ++count;
      } else {
        result.rejectedCorners.push_back({v, views[v].ids[i], std::sqrt(squared)});
      }
    }
    view.rms = std::sqrt(sum / count);
    sumSquares += sum;
    corners += count;
  }
  for (RejectedView& rejected : result.rejectedViews) {
    ViewResult& view = result.views[rejected.view];
    cv::Vec3d rotation, translation;
    rejected.rms = 0;
    if (!PoseOfLeftOutView(model, fit, views[rejected.view], rotation, translation)) continue;
    const std::vector<cv::Point2d> projected = lens_projection::Project(
        fit.lens, BoardPoints(views[rejected.view], {}), rotation, translation, nullptr);
    double sum = 0;
    for (std::size_t i = 0; i < projected.size(); ++i) {
      const PixelPoint& measured = views[rejected.view].image[i];
      view.residuals.push_back({measured.x - projected[i].x, measured.y - projected[i].y});
      sum += std::pow(view.residuals.back().x, 2) + std::pow(view.residuals.back().y, 2);
    }
    view.rotation = {rotation[0], rotation[1], rotation[2]};
    view.translation = {translation[0], translation[1], translation[2]};
    view.rms = std::sqrt(sum / static_cast<double>(projected.size()));
    if (std::isfinite(view.rms)) {
      rejected.rms = view.rms;
    } else {
      view = ViewResult{};
      view.used = false;
    }
  }
  result.cornersUsed = corners;
  result.rms = std::sqrt(sumSquares / corners);

  // The covariance of the intrinsics: the normal matrix of all the parameters (intrinsics and
  // every view's pose) at the solution, the poses eliminated view by view (the Schur complement),
  // scaled by the a-posteriori variance of a corner coordinate.
  const int intrinsics = 4 + model.coefficients;
  const int parameters = intrinsics + 6 * static_cast<int>(used.size());
  const int redundancy = 2 * corners - parameters;
  if (redundancy <= 0)
    return Failure{
        "Углов на снимках слишком мало для калибровки этой модели объектива: добавьте "
        "снимки или выберите модель с меньшим числом коэффициентов."};
  Eigen::MatrixXd reduced = Eigen::MatrixXd::Zero(intrinsics, intrinsics);
  for (std::size_t u = 0; u < used.size(); ++u) {
    Eigen::MatrixXd jacobian;
    lens_projection::Project(fit.lens, BoardPoints(views[used[u]], kept[used[u]]), fit.rotations[u],
                             fit.translations[u], &jacobian);
    const Eigen::MatrixXd ji = jacobian.leftCols(intrinsics);
    const Eigen::MatrixXd je = jacobian.rightCols(6);
    const Eigen::MatrixXd b = ji.transpose() * je;
    reduced += ji.transpose() * ji - b * (je.transpose() * je).ldlt().solve(b.transpose());
  }
  // Scaled to a unit diagonal before it is inverted: fx and the coefficients differ by many
  // orders of magnitude.
  const Eigen::VectorXd scale = reduced.diagonal().cwiseMax(0).cwiseSqrt();
  bool determined = (scale.array() > 0).all();
  Eigen::MatrixXd covariance;
  if (determined) {
    const Eigen::MatrixXd unit =
        scale.cwiseInverse().asDiagonal() * reduced * scale.cwiseInverse().asDiagonal();
    const Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> eigen(unit);
    determined = eigen.info() == Eigen::Success && eigen.eigenvalues()(0) > 1e-13;
    if (determined) {
      const Eigen::MatrixXd inverse = eigen.eigenvectors() *
                                      eigen.eigenvalues().cwiseInverse().asDiagonal() *
                                      eigen.eigenvectors().transpose();
      covariance = scale.cwiseInverse().asDiagonal() * inverse * scale.cwiseInverse().asDiagonal();
    }
  }
  if (!determined || !covariance.allFinite())
    return Failure{
        "Эти снимки не определяют все параметры модели объектива. Добавьте снимки "
        "мишени под разными углами и у краёв кадра или выберите модель с меньшим "
        "числом коэффициентов."};
  result.sigma0 = std::sqrt(sumSquares / redundancy);
  covariance *= result.sigma0 * result.sigma0;
  camera.intrinsicsCovariance.resize(static_cast<std::size_t>(intrinsics) * intrinsics);
  for (int r = 0; r < intrinsics; ++r) {
    for (int c = 0; c < intrinsics; ++c)
      camera.intrinsicsCovariance[r * intrinsics + c] = 0.5 * (covariance(r, c) + covariance(c, r));
    result.sigmas.push_back(std::sqrt(std::max(0.0, covariance(r, r))));
  }
  if (progress) progress("Калибровка камеры: готово", 1.0);
  return result;
}

}  // namespace

Expected<CalibrationResult> CalibrateCamera(const std::vector<CalibrationView>& views,
                                            const CalibrationOptions& options,
                                            const CalibrationProgress& progress) {
  if (Expected<void> checked = CheckInput(views, options); !checked) return checked.error();
  try {
    return Calibrate(views, options, progress);
  } catch (const cv::Exception&) {
    return Failure{
        "Модель объектива не применяется к углам мишени на этих снимках. Проверьте "
        "углы мишени и выберите модель с меньшим числом коэффициентов."};
  }
}

}  // namespace zelv
