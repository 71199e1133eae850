// The Python module `zelv`: the orientation of the core (app/orientation.h) for scripts. orient()
// takes the camera file and the points as files or NumPy arrays, runs the same Orient as the
// window and zelv-cli with the interpreter's lock released, and returns a Result whose numbers
// are the doubles the command line's JSON prints; a failure raises zelv.Failure with the
// window's message. read_camera() and read_points() read the inputs as an orientation does.
#include <pybind11/eval.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <array>
#include <cmath>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/orientation.h"
#include "base/orientation_result.h"
#include "base/version.h"
#include "files/calibration_file.h"
#include "files/camera_file.h"
#include "files/coordinate_file.h"

namespace py = pybind11;

namespace zelv {
namespace {

// The 21 values' names in their fixed order (base/orientation_result.h).
constexpr std::array<const char*, kResultCount> kValueNames = {
    "centre_x", "centre_y", "centre_z", "sighting_x", "sighting_y", "distance", "photo_a",
    "photo_w",  "photo_c",  "stand_a0", "stand_l",    "stand_n",    "cos_xX",   "cos_xY",
    "cos_xZ",   "cos_yX",   "cos_yY",   "cos_yZ",     "cos_zX",     "cos_zY",   "cos_zZ"};

// The module's objects made once at import: the exception class and the namespace type.
struct ModuleTypes {
  py::object failure;
  py::object space;  // types.SimpleNamespace: attribute access and a readable repr
};
// Never destroyed: the interpreter may be gone by the time static objects are.
ModuleTypes& Types() {
  static auto* types = new ModuleTypes;
  return *types;
}

template <typename... Args>
py::object Space(Args&&... args) {
  return Types().space(std::forward<Args>(args)...);
}

// A number as the JSON writes it: NaN and infinity become None.
py::object Number(double value) {
  if (!std::isfinite(value)) return py::none();
  return py::float_(value);
}

py::array_t<double> Vector(const double* values, py::ssize_t count) {
  py::array_t<double> out(count);
  std::copy(values, values + count, out.mutable_data());
  return out;
}

py::array_t<double> Matrix(const double* values, py::ssize_t rows, py::ssize_t columns) {
  py::array_t<double> out({rows, columns});
  std::copy(values, values + rows * columns, out.mutable_data());
  return out;
}

[[noreturn]] void Raise(const Failure& failure, const std::vector<Warning>& warnings = {}) {
  py::object error = Types().failure(failure.text);
  error.attr("caption") = failure.caption;
  error.attr("warnings") = WarningTexts(warnings);
  PyErr_SetObject(Types().failure.ptr(), error.ptr());
  throw py::error_already_set();
}

py::object PoseObject(const StandardPose& pose) {
  using namespace py::literals;
  const double quaternion[4] = {pose.qw, pose.qx, pose.qy, pose.qz};
  return Space("R"_a = Matrix(pose.R.data(), 3, 3), "t"_a = Vector(pose.t.data(), 3),
               "rvec"_a = Vector(pose.rvec.data(), 3), "quaternion"_a = Vector(quaternion, 4),
               "omega_phi_kappa_deg"_a = Vector(pose.omegaPhiKappaDeg.data(), 3));
}

// One orientation, its Python objects made when they are asked for.
class Result {
 public:
  explicit Result(Orientation orientation) : o_(std::move(orientation)) {}

  int Level() const { return o_.level; }
  const char* LevelText() const { return LevelName(o_.level); }
  py::array_t<double> Values() const { return Vector(o_.values.values.data(), kResultCount); }
  py::dict Named() const {
    py::dict named;
    for (int i = 0; i < kResultCount; ++i) named[kValueNames[i]] = o_.values.values[i];
    return named;
  }
  std::vector<std::string> Texts() const { return {o_.texts.begin(), o_.texts.end()}; }
  const ResultPrecision& P() const { return o_.precision; }
  py::object Sigma() const {
    if (!P().known) return py::none();
    return Vector(P().sigma.data(), kResultCount);
  }
  // The measurement's and the calibration's parts of Sigma, where the calibration's covariance
  // was taken into it.
  py::object SigmaFromMeasurement() const {
    if (!P().known || !P().sigmaParts) return py::none();
    return Vector(P().sigmaParts->measurement.data(), kResultCount);
  }
  py::object SigmaFromCalibration() const {
    if (!P().known || !P().sigmaParts) return py::none();
    return Vector(P().sigmaParts->calibration.data(), kResultCount);
  }
  py::object Sigma0() const { return P().known ? Number(P().sigma0) : py::none(); }
  py::object Redundancy() const {
    return P().known ? py::object(py::int_(P().redundancy)) : py::none();
  }
  std::vector<int> Outliers() const { return P().outliers; }
  py::object T95() const { return P().known ? Number(P().tQuantile95) : py::none(); }
  py::object Verdict() const {
    using namespace py::literals;
    if (!P().known) return py::none();
    std::vector<std::string> reasons;
    for (RigorousSuspicion reason : P().verdict.reasons) reasons.push_back(SuspicionName(reason));
    return Space("quality"_a = P().verdict.suspect ? "suspect" : "ok", "reasons"_a = reasons,
                 "image_sigma_px"_a = Number(P().verdict.imageSigma),
                 "chi_square"_a = Number(P().verdict.chiSquare),
                 "chi_square_limit"_a = Number(P().verdict.chiSquareLimit),
                 "p_value"_a = Number(P().verdict.pValue), "redundancy"_a = P().redundancy);
  }
  py::object Alternative() const {
    using namespace py::literals;
    const RigorousAlternative& a = P().alternative;
    if (!P().known || !a.present) return py::none();
    const std::array<double, kResultCount>& v = a.values;
    const Rotation M{v[kCosXX], v[kCosXY], v[kCosXZ], v[kCosYX], v[kCosYY],
                     v[kCosYZ], v[kCosZX], v[kCosZY], v[kCosZZ]};
    return Space(
        "values"_a = Vector(v.data(), kResultCount),
        "pose"_a = PoseObject(StandardPoseOf(M, TPoint3(v[kCentreX], v[kCentreY], v[kCentreZ]))),
        "focal_length"_a = Number(a.focalLength), "sigma0"_a = Number(a.sigma0),
        "chi_square_difference"_a = Number(a.chiSquareDifference),
        "distinguishable"_a = a.distinguishable);
  }
  py::object Covariance() const {
    using namespace py::literals;
    if (!P().covariance) return py::none();
    const PoseCovariance& c = *P().covariance;
    const auto n = static_cast<py::ssize_t>(c.parameters.size());
    if (c.matrix.size() != c.parameters.size() * c.parameters.size()) return py::none();
    std::array<double, 9> axes{};
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) axes[i * 3 + j] = c.centreAxes[i][j];
    return Space("parameters"_a = c.parameters, "matrix"_a = Matrix(c.matrix.data(), n, n),
                 "centre_semi_axes"_a = Vector(c.centreSemiAxes.data(), 3),
                 "centre_axes"_a = Matrix(axes.data(), 3, 3));
  }
  // The 21 values' covariance (21×21, their units), where the rigorous level computed it.
  py::object ValueCovariance() const {
    if (!P().covariance) return py::none();
    const std::vector<double>& v = P().covariance->valueCovariance;
    if (v.size() != static_cast<std::size_t>(kResultCount * kResultCount)) return py::none();
    return Matrix(v.data(), kResultCount, kResultCount);
  }
  // The centre's 95 % error ellipsoid: semi-axes (largest first) and their directions, one a row.
  py::object CentreEllipsoid() const {
    using namespace py::literals;
    if (!P().covariance || P().covariance->parameters.empty()) return py::none();
    const PoseCovariance& c = *P().covariance;
    std::array<double, 9> axes{};
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) axes[i * 3 + j] = c.centreAxes[i][j];
    return Space("semi_axes"_a = Vector(c.centreSemiAxes.data(), 3),
                 "axes"_a = Matrix(axes.data(), 3, 3));
  }
  // The check points: numbers, identifiers, image residuals and scene misses (N×2; a miss whose
  // ray runs parallel to the point's plane is 0 with scene_known False), both RMSE.
  py::object CheckPointsObject() const {
    using namespace py::literals;
    const std::vector<CheckPointResult>& points = o_.checkPoints.points;
    if (points.empty()) return py::none();
    const auto n = static_cast<py::ssize_t>(points.size());
    py::array_t<int> number(n);
    py::array_t<bool> sceneKnown(n);
    py::array_t<double> image({n, py::ssize_t{2}});
    py::array_t<double> scene({n, py::ssize_t{2}});
    std::vector<std::string> ids;
    bool anyId = false;
    for (py::ssize_t i = 0; i < n; ++i) {
      const CheckPointResult& p = points[static_cast<std::size_t>(i)];
      number.mutable_data()[i] = p.number;
      sceneKnown.mutable_data()[i] = p.sceneKnown;
      image.mutable_data()[2 * i] = p.ex;
      image.mutable_data()[2 * i + 1] = p.ey;
      scene.mutable_data()[2 * i] = p.sceneKnown ? p.dX : 0.0;
      scene.mutable_data()[2 * i + 1] = p.sceneKnown ? p.dY : 0.0;
      ids.push_back(p.id);
      anyId = anyId || !p.id.empty();
    }
    return Space("number"_a = number, "ids"_a = anyId ? py::cast(ids) : py::none(),
                 "image_residuals"_a = image, "scene_misses"_a = scene,
                 "scene_known"_a = sceneKnown, "image_rmse"_a = Number(o_.checkPoints.imageRmse),
                 "scene_rmse"_a = Number(o_.checkPoints.sceneRmse));
  }
  py::object Residuals() const {
    using namespace py::literals;
    if (!o_.residuals) return py::none();
    const std::vector<PointResidual>& points = o_.residuals->points;
    const auto n = static_cast<py::ssize_t>(points.size());
    py::array_t<int> number(n);
    py::array_t<bool> flagged(n);
    std::array<py::array_t<double>, 7> columns;
    for (auto& column : columns) column = py::array_t<double>(n);
    std::vector<std::string> ids;
    bool anyId = false;
    for (py::ssize_t i = 0; i < n; ++i) {
      const PointResidual& p = points[i];
      number.mutable_data()[i] = p.number;
      flagged.mutable_data()[i] = p.flagged;
      const double row[7] = {p.x, p.y, p.X, p.Y, p.ex, p.ey, p.length};
      for (int k = 0; k < 7; ++k) columns[k].mutable_data()[i] = row[k];
      ids.push_back(p.id);
      anyId = anyId || !p.id.empty();
    }
    const ResidualSummary& s = o_.residuals->summary;
    return Space(
        "number"_a = number, "ids"_a = anyId ? py::cast(ids) : py::none(), "x"_a = columns[0],
        "y"_a = columns[1], "X"_a = columns[2], "Y"_a = columns[3], "ex"_a = columns[4],
        "ey"_a = columns[5], "length"_a = columns[6], "flagged"_a = flagged,
        "summary"_a =
            Space("cost"_a = Number(s.cost), "sigma"_a = Number(s.sigma),
                  "largest"_a = Number(s.largest), "largest_number"_a = s.largestNumber,
                  "flagged_count"_a = s.flaggedCount, "sigma_count"_a = Number(s.sigmaCount)));
  }
  py::object Pose() const { return PoseObject(o_.pose); }
  py::object FocalLength() const {
    using namespace py::literals;
    return Space("value"_a = Number(o_.focalLength.value), "sigma"_a = Number(o_.focalLength.sigma),
                 "estimated"_a = o_.focalLength.estimated);
  }
  std::vector<std::string> Warnings() const { return WarningTexts(o_.warnings); }
  py::object Cost() const { return o_.values.costKnown ? Number(o_.values.cost) : py::none(); }
  std::vector<std::string> PointIds() const { return o_.pointIds; }
  std::string Repr() const {
    const auto& v = o_.values.values;
    std::string text = std::string("zelv.Result(level='") + LevelName(o_.level) + "', centre=(" +
                       Text(v[kCentreX]) + ", " + Text(v[kCentreY]) + ", " + Text(v[kCentreZ]) +
                       "), distance=" + Text(v[kDistance]);
    if (P().known) text += ", sigma0=" + Text(P().sigma0);
    text += ", warnings=" + std::to_string(o_.warnings.size()) + ")";
    return text;
  }

 private:
  static std::string Text(double value) { return py::repr(py::float_(value)).cast<std::string>(); }
  static const char* SuspicionName(RigorousSuspicion reason) {
    switch (reason) {
      case RigorousSuspicion::kSigma0TooLarge:
        return "sigma0_too_large";
      case RigorousSuspicion::kMirrorPoseFits:
        return "mirror_pose_fits";
      case RigorousSuspicion::kNearCollinear:
        return "near_collinear";
    }
    return "";
  }

  Orientation o_;
};

// A path given as str or os.PathLike, or nothing when `value` is neither.
std::optional<std::string> PathOf(const py::handle& value) {
  if (py::isinstance<py::str>(value)) return value.cast<std::string>();
  if (py::hasattr(value, "__fspath__")) {
    py::object path = value.attr("__fspath__")();
    if (py::isinstance<py::str>(path)) return path.cast<std::string>();
  }
  return std::nullopt;
}

// The identifiers of a list (each turned to text), or none.
std::vector<std::string> IdsOf(const py::handle& ids) {
  std::vector<std::string> out;
  if (ids.is_none()) return out;
  for (const py::handle id : ids) out.push_back(py::str(id).cast<std::string>());
  return out;
}

// An array of points N×2 (or, for the scene, N×3) as the values a file's lines hold; a third
// column is the z column of a table.
GivenPoints ArrayPoints(const py::handle& value, const py::handle& ids, bool scene) {
  const char* what = scene ? "точек сцены" : "точек изображения";
  py::array_t<double, py::array::c_style | py::array::forcecast> array;
  try {
    array = py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(value);
  } catch (const py::error_already_set&) {
  }
  if (!array)
    throw py::type_error(std::string("Массив ") + what +
                         ": ожидается имя файла или массив чисел размером N×2.");
  const py::ssize_t columns = array.ndim() == 2 ? array.shape(1) : 0;
  if (array.ndim() != 2 || !(columns == 2 || (scene && columns == 3)))
    throw py::value_error(std::string("Массив ") + what + " должен быть размером N×2" +
                          (scene ? " или N×3" : "") + ": задайте по строке на точку.");
  GivenPoints given;
  const double* data = array.data();
  const py::ssize_t n = array.shape(0);
  given.values.reserve(static_cast<std::size_t>(n));
  for (py::ssize_t i = 0; i < n; ++i) {
    const double* row = data + i * columns;
    given.values.push_back({row[0], row[1]});
    if (columns == 3) given.extras.z.push_back(row[2]);
  }
  given.ids = IdsOf(ids);
  return given;
}

// One value per point of `count` (a sequence or a 1-D array), or nothing for None. `name` is the
// argument's, for the messages.
std::vector<double> PerPoint(const py::handle& value, std::size_t count, const char* name) {
  std::vector<double> out;
  if (value.is_none()) return out;
  py::array_t<double, py::array::c_style | py::array::forcecast> array;
  try {
    array = py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(value);
  } catch (const py::error_already_set&) {
  }
  if (!array || array.ndim() != 1 || static_cast<std::size_t>(array.shape(0)) != count)
    throw py::value_error(std::string(name) +
                          ": нужен одномерный массив чисел, по одному на точку (" +
                          std::to_string(count) + ").");
  out.assign(array.data(), array.data() + count);
  return out;
}

// The σ of each point (image pixels or scene units): finite, 0 or more; 0 is the precision of
// the whole set, as an empty field of a table's σ column.
std::vector<double> SigmasOf(const py::handle& value, std::size_t count, const char* name) {
  std::vector<double> sigma = PerPoint(value, count, name);
  for (std::size_t i = 0; i < sigma.size(); ++i)
    if (!std::isfinite(sigma[i]) || sigma[i] < 0)
      throw py::value_error(std::string(name) + ": СКО точки " + std::to_string(i + 1) +
                            " должно быть конечным числом не меньше 0.");
  return sigma;
}

// The roles of the scene points: true for a check point.
std::vector<char> ChecksOf(const py::handle& value, std::size_t count) {
  std::vector<char> check;
  if (value.is_none()) return check;
  const py::array array = py::array::ensure(value);
  const char kind = array ? array.dtype().kind() : '?';
  if (!array || (kind != 'b' && kind != 'i' && kind != 'u'))
    throw py::value_error("check: нужен массив логических значений, по одному на точку сцены.");
  for (double role : PerPoint(value, count, "check")) {
    if (role != 0 && role != 1)
      throw py::value_error("check: значения — True (контрольная) или False (опорная).");
    check.push_back(role != 0 ? 1 : 0);
  }
  return check;
}

// A number of `known`: finite.
double KnownNumber(const py::handle& value, const std::string& key) {
  const std::string wrong = "known['" + key + "']: ожидается конечное число.";
  if (py::isinstance<py::str>(value) || py::isinstance<py::bool_>(value) ||
      PyNumber_Check(value.ptr()) == 0)
    throw py::value_error(wrong);
  double number = 0;
  try {
    number = py::float_(py::reinterpret_borrow<py::object>(value)).cast<double>();
  } catch (const py::error_already_set&) {
    throw py::value_error(wrong);
  }
  if (!std::isfinite(number)) throw py::value_error(wrong);
  return number;
}

// A sequence of exactly `size` items, or nothing.
std::optional<std::vector<py::object>> Items(const py::handle& value, std::size_t size) {
  if (py::isinstance<py::str>(value) || !py::isinstance<py::sequence>(value)) return std::nullopt;
  const py::sequence sequence = py::reinterpret_borrow<py::sequence>(value);
  if (sequence.size() != size) return std::nullopt;
  std::vector<py::object> items;
  for (const py::handle item : sequence) items.push_back(py::reinterpret_borrow<py::object>(item));
  return items;
}

// The camera values known beforehand, as zelv-cli's --known: {"centre": (X, Y, Z) or
// ((X, Y, Z), σ), "x"/"y"/"z": value or (value, σ), "roll": degrees, "f": pixels}; a value alone
// is held fixed, with σ (0 or more) weighted.
KnownValues KnownOf(const py::handle& known) {
  KnownValues out;
  if (known.is_none()) return out;
  if (!py::isinstance<py::dict>(known))
    throw py::value_error("known: ожидается словарь, например {'centre': (x, y, z), 'f': 3500.0}.");
  const auto single = [](const py::handle& value, const std::string& key) {
    KnownValue v;
    if (const std::optional<std::vector<py::object>> pair = Items(value, 2)) {
      v.value = KnownNumber((*pair)[0], key);
      v.sigma = KnownNumber((*pair)[1], key);
    } else {
      v.value = KnownNumber(value, key);
    }
    if (v.sigma < 0) throw py::value_error("known['" + key + "']: СКО не может быть меньше 0.");
    return v;
  };
  const auto set = [](std::optional<KnownValue>& slot, KnownValue v, const std::string& key) {
    if (slot)
      throw py::value_error("known['" + key +
                            "']: значение задано дважды — и в 'centre', и отдельно.");
    slot = v;
  };
  for (const auto& [keyObject, value] : py::reinterpret_borrow<py::dict>(known)) {
    const std::string key = py::str(keyObject).cast<std::string>();
    if (key == "centre" || key == "center") {
      std::optional<std::vector<py::object>> xyz = Items(value, 3);
      double sigma = 0;
      if (!xyz) {
        const std::optional<std::vector<py::object>> pair = Items(value, 2);
        if (pair) xyz = Items((*pair)[0], 3);
        if (!xyz)
          throw py::value_error("known['centre']: ожидается (x, y, z) или ((x, y, z), СКО).");
        sigma = KnownNumber((*pair)[1], key);
        if (sigma < 0) throw py::value_error("known['centre']: СКО не может быть меньше 0.");
      }
      set(out.centreX, {KnownNumber((*xyz)[0], key), sigma}, "x");
      set(out.centreY, {KnownNumber((*xyz)[1], key), sigma}, "y");
      set(out.centreZ, {KnownNumber((*xyz)[2], key), sigma}, "z");
    } else if (key == "x") {
      set(out.centreX, single(value, key), key);
    } else if (key == "y") {
      set(out.centreY, single(value, key), key);
    } else if (key == "z") {
      set(out.centreZ, single(value, key), key);
    } else if (key == "roll") {
      const KnownValue v = single(value, key);
      if (std::fabs(v.value) > 360)
        throw py::value_error("known['roll']: угол от -360 до 360 градусов.");
      out.roll = v;
    } else if (key == "f") {
      const KnownValue v = single(value, key);
      if (!(v.value > 0)) throw py::value_error("known['f']: фокусное расстояние больше 0.");
      out.focalLength = v;
    } else {
      throw py::value_error("known: неизвестный ключ '" + key +
                            "'; допустимы centre, x, y, z, roll и f.");
    }
  }
  return out;
}

int LevelOf(const py::handle& level) {
  if (py::isinstance<py::str>(level)) {
    const std::string name = level.cast<std::string>();
    for (int l : {0, 1, 3, kRigorousLevel})
      if (name == LevelName(l) || name == std::to_string(l)) return l;
  } else if (PyIndex_Check(level.ptr()) != 0 && !py::isinstance<py::bool_>(level)) {
    const int l = level.cast<int>();
    if (l == 0 || l == 1 || l == 3 || l == kRigorousLevel) return l;
  }
  throw py::value_error(
      "Уровень оценки: 0 или 'fast', 1 или 'normal', 3 или 'precise', 4 или 'rigorous'.");
}

Result OrientPoints(const py::object& camera, const py::object& imagePoints,
                    const py::object& scenePoints, const py::object& level, int cameraId,
                    double imageSigma, double sigmaCount, const py::object& imageIds,
                    const py::object& sceneIds, int threads, const py::object& check,
                    const py::object& imageSigmas, const py::object& sceneSigmas,
                    const py::object& known) {
  OrientationRequest request;
  const std::optional<std::string> cameraPath = PathOf(camera);
  if (!cameraPath) throw py::type_error("Камера: ожидается имя файла камеры или калибровки.");
  request.cameraFile = *cameraPath;
  // Identifiers, roles and σ go with arrays: a file (a table) brings its own columns.
  if ((PathOf(imagePoints) && !(imageIds.is_none() && imageSigmas.is_none())) ||
      (PathOf(scenePoints) && !(sceneIds.is_none() && check.is_none() && sceneSigmas.is_none())))
    throw py::value_error(
        "Идентификаторы, роли и СКО точек задаются только вместе с массивом точек: файл несёт "
        "свои столбцы.");
  if (std::optional<std::string> path = PathOf(imagePoints)) {
    request.imageFile = *path;
  } else {
    request.imagePoints = ArrayPoints(imagePoints, imageIds, false);
    request.imagePoints->extras.sigma =
        SigmasOf(imageSigmas, request.imagePoints->values.size(), "image_sigmas");
  }
  if (std::optional<std::string> path = PathOf(scenePoints)) {
    request.sceneFile = *path;
  } else {
    request.scenePoints = ArrayPoints(scenePoints, sceneIds, true);
    const std::size_t count = request.scenePoints->values.size();
    for (std::size_t i = 0; i < request.scenePoints->extras.z.size(); ++i)
      if (!std::isfinite(request.scenePoints->extras.z[i]))
        throw py::value_error("Высота Z точки сцены " + std::to_string(i + 1) +
                              " — не конечное число.");
    request.scenePoints->extras.sigma = SigmasOf(sceneSigmas, count, "scene_sigmas");
    request.scenePoints->extras.check = ChecksOf(check, count);
  }
  request.known = KnownOf(known);
  request.settings.EstimateLevel = LevelOf(level);
  request.cameraId = cameraId;
  // As zelv-cli: a camera id chooses a camera of a COLMAP list only.
  std::error_code ignored;
  if (cameraId > 0 && std::filesystem::exists(*cameraPath, ignored) &&
      DetectCameraFileFormat(*cameraPath) != CameraFileFormat::ColmapCameras)
    throw py::value_error("camera_id выбирает камеру списка COLMAP (cameras.txt): для файла " +
                          *cameraPath + " не задавайте его.");
  request.imageSigma = imageSigma;
  request.sigmaCount = sigmaCount;
  request.threads = threads;
  request.startDirectory = std::filesystem::current_path(ignored).string();
  if (const std::optional<std::string> wrong = request.Check()) throw py::value_error(*wrong);
  std::optional<OrientationOutcome> outcome;
  {
    py::gil_scoped_release computing;
    outcome.emplace(Orient(request));
  }
  if (!*outcome) Raise(outcome->error(), outcome->error().warnings);
  return Result(std::move(**outcome));
}

py::object ReadCamera(const py::object& camera, int cameraId) {
  using namespace py::literals;
  const std::optional<std::string> path = PathOf(camera);
  if (!path) throw py::type_error("Камера: ожидается имя файла камеры или калибровки.");
  InteriorGeometry g;
  const CameraFileFormat format = DetectCameraFileFormat(*path);
  const Expected<void> read = format == CameraFileFormat::CamFile
                                  ? ReadCameraFile(*path, g)
                                  : ReadCalibrationFile(*path, cameraId, g);
  if (!read) Raise(read.error());
  py::object lens = py::none();
  if (g.Lens) {
    const LensCalibration& c = *g.Lens;
    const char* kind = c.kind == LensModelKind::Fisheye  ? "fisheye"
                       : c.kind == LensModelKind::OpenCv ? "opencv"
                                                         : "pinhole";
    lens = Space("model"_a = c.modelName, "kind"_a = kind, "camera_id"_a = c.cameraId,
                 "fx"_a = c.fx, "fy"_a = c.fy, "cx"_a = c.cx, "cy"_a = c.cy, "skew"_a = c.skew,
                 "coefficients"_a = Vector(c.coefficients.data(),
                                           static_cast<py::ssize_t>(c.coefficients.size())));
  }
  const char* formatName = format == CameraFileFormat::ColmapCameras   ? "colmap"
                           : format == CameraFileFormat::OpenCvStorage ? "opencv"
                                                                       : "cam";
  return Space(
      "format"_a = formatName, "image_width"_a = g.ImageWidth, "image_height"_a = g.ImageHeight,
      "centre_x"_a = g.ImageCentreX, "centre_y"_a = g.ImageCentreY,
      "focal_length"_a = g.FocalLength > 0 ? py::object(py::float_(g.FocalLength)) : py::none(),
      "correction_table"_a = g.CorrectionTable, "lens"_a = lens);
}

py::object ReadPoints(const py::object& file, const std::string& kind) {
  using namespace py::literals;
  const std::optional<std::string> path = PathOf(file);
  if (!path) throw py::type_error("Точки: ожидается имя файла координат.");
  if (kind != "image" && kind != "scene")
    throw py::value_error("Вид точек: 'image' (изображения) или 'scene' (сцены).");
  VT_Points points(1);
  std::vector<std::string> ids;
  PointExtras extras;
  const Expected<void> read = kind == "image" ? ReadRawImagePoints(*path, points, &ids, &extras)
                                              : ReadScenePoints(*path, points, &ids, &extras);
  if (!read) Raise(read.error());
  const py::ssize_t n = points.Count();
  py::array_t<double> xy({n, py::ssize_t{2}});
  for (py::ssize_t i = 0; i < n; ++i) {
    xy.mutable_data()[2 * i] = points.Get(static_cast<std::int32_t>(i))->x;
    xy.mutable_data()[2 * i + 1] = points.Get(static_cast<std::int32_t>(i))->y;
  }
  const auto column = [](const std::vector<double>& values) -> py::object {
    if (values.empty()) return py::none();
    return Vector(values.data(), static_cast<py::ssize_t>(values.size()));
  };
  py::object check = py::none();
  if (!extras.check.empty()) {
    py::array_t<bool> roles(static_cast<py::ssize_t>(extras.check.size()));
    for (std::size_t i = 0; i < extras.check.size(); ++i)
      roles.mutable_data()[i] = extras.check[i] != 0;
    check = roles;
  }
  return Space("points"_a = xy, "ids"_a = ids.empty() ? py::none() : py::cast(ids),
               "z"_a = column(extras.z), "sigma"_a = column(extras.sigma), "check"_a = check);
}

const char kFailureClass[] = R"(
class Failure(Exception):
    """An orientation or a reading that ended without a result: the message the window shows
    (str(error), .text), its caption (.caption) and the warnings before it (.warnings)."""

    def __init__(self, text, caption="Ошибка!", warnings=()):
        super().__init__(text)
        self.text = text
        self.caption = caption
        self.warnings = list(warnings)
)";

}  // namespace
}  // namespace zelv

PYBIND11_MODULE(zelv, m) {
  using namespace zelv;
  using namespace py::literals;
  m.doc() = "The exterior orientation of a camera from one image of a scene (ZELV's core).";
  m.attr("__version__") = kVersion;
  py::exec(kFailureClass, m.attr("__dict__"));
  m.attr("Failure").attr("__module__") = "zelv";
  Types().failure = m.attr("Failure");
  Types().space = py::module_::import("types").attr("SimpleNamespace");
  m.attr("VALUE_NAMES") =
      py::tuple(py::cast(std::vector<std::string>(kValueNames.begin(), kValueNames.end())));

  py::class_<Result>(m, "Result",
                     "One orientation. Numbers are those of zelv-cli orient --json; None where "
                     "the level computes none.")
      .def_property_readonly("level", &Result::Level, "0, 1, 3 or 4")
      .def_property_readonly("level_name", &Result::LevelText,
                             "'fast', 'normal', 'precise' or 'rigorous'")
      .def_property_readonly("values", &Result::Values, "the 21 values in VALUE_NAMES' order")
      .def_property_readonly("named", &Result::Named, "the 21 values by name")
      .def_property_readonly("texts", &Result::Texts, "the 21 values as the window shows them")
      .def_property_readonly("sigma", &Result::Sigma, "their standard deviations (level 4)")
      .def_property_readonly("sigma_from_measurement", &Result::SigmaFromMeasurement,
                             "the measurement's part of sigma (None without the calibration's "
                             "covariance)")
      .def_property_readonly("sigma_from_calibration", &Result::SigmaFromCalibration,
                             "the calibration's part of sigma (None without its covariance)")
      .def_property_readonly("sigma0", &Result::Sigma0, "σ0, pixels (level 4)")
      .def_property_readonly("redundancy", &Result::Redundancy)
      .def_property_readonly("outliers", &Result::Outliers, "points left out, numbers from 1")
      .def_property_readonly("t95", &Result::T95, "Student's t of the 95 % intervals")
      .def_property_readonly("verdict", &Result::Verdict)
      .def_property_readonly("alternative", &Result::Alternative, "the mirror pose, if distinct")
      .def_property_readonly("covariance", &Result::Covariance,
                             "the pose parameters' covariance, where computed")
      .def_property_readonly("value_covariance", &Result::ValueCovariance,
                             "the 21 values' covariance (21×21), where computed")
      .def_property_readonly("centre_ellipsoid_95", &Result::CentreEllipsoid,
                             "the centre's 95 % error ellipsoid: semi_axes, axes (one a row)")
      .def_property_readonly("check_points", &Result::CheckPointsObject,
                             "number, ids, image_residuals, scene_misses, scene_known, "
                             "image_rmse, scene_rmse (level 4 with check points)")
      .def_property_readonly("residuals", &Result::Residuals)
      .def_property_readonly("pose", &Result::Pose,
                             "R, t (world to camera, OpenCV), rvec, quaternion (qw qx qy qz, "
                             "COLMAP), omega_phi_kappa_deg")
      .def_property_readonly("focal_length", &Result::FocalLength)
      .def_property_readonly("warnings", &Result::Warnings)
      .def_property_readonly("cost", &Result::Cost)
      .def_property_readonly("point_ids", &Result::PointIds)
      .def("__repr__", &Result::Repr);

  m.def("orient", &OrientPoints, "camera"_a, "image_points"_a, "scene_points"_a, py::kw_only(),
        "level"_a = 0, "camera_id"_a = 0, "image_sigma"_a = 0.5, "sigma_count"_a = 3.0,
        "image_ids"_a = py::none(), "scene_ids"_a = py::none(), "threads"_a = 0,
        "check"_a = py::none(), "image_sigmas"_a = py::none(), "scene_sigmas"_a = py::none(),
        "known"_a = py::none(),
        "The orientation of the camera. camera: a camera file or a calibration; image_points "
        "and scene_points: files, or arrays N×2 (raw pixels, x right, y down; scene units, N×2 "
        "or N×3 with any Z) with optional identifiers image_ids and scene_ids, and per point "
        "as a table's columns: check (True: a check point of the scene), image_sigmas "
        "(pixels) and scene_sigmas (scene units; 0: the precision of the whole set). known: "
        "camera values known beforehand, {'centre': (x, y, z), 'z': (z, sigma), 'roll': "
        "degrees, 'f': (pixels, sigma)}; a value alone is fixed. Raises zelv.Failure with the "
        "window's message.");
  m.def("read_camera", &ReadCamera, "camera"_a, "camera_id"_a = 0,
        "The interior geometry of a camera file or calibration as the orientation reads it.");
  m.def("read_points", &ReadPoints, "path"_a, "kind"_a = "scene",
        "The points of a coordinate file or point table as they stand (points N×2, ids, and "
        "the table's z, sigma and check columns, None where absent).");
}
