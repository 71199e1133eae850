// Writing a calibrated camera: OpenCV YAML with the intrinsics' covariance, a COLMAP camera list,
// a camera file with a fitted correction table; and the covariance read back.
#include "files/calibration_writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "files/calibration_file.h"
#include "files/camera_file.h"
#include "files/correction_table.h"
#include "scratch_folder.h"

namespace zelv {
namespace {

using testing::ScratchFolder;

LensCalibration Camera(LensModelKind kind, std::vector<double> coefficients) {
  LensCalibration c;
  c.kind = kind;
  c.fx = 1502.25;
  c.fy = 1497.5;
  c.cx = 803.125;
  c.cy = 597.75;
  c.coefficients = std::move(coefficients);
  c.imageWidth = 1600;
  c.imageHeight = 1200;
  return c;
}

// A covariance of the camera's intrinsics with correlations, symmetric positive definite.
std::vector<double> Covariance(const LensCalibration& c) {
  const std::size_t n = IntrinsicNames(c).size();
  std::vector<double> m(n * n, 0.0);
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = 0; j < n; ++j) {
      const double si = i < 4 ? 0.7 + 0.1 * i : 1e-3 / (i - 2.0);
      const double sj = j < 4 ? 0.7 + 0.1 * j : 1e-3 / (j - 2.0);
      m[i * n + j] = si * sj * (i == j ? 1.0 : 0.3 / (1.0 + std::fabs(double(i) - double(j))));
    }
  return m;
}

std::vector<PixelPoint> Grid(const LensCalibration& c) {
  std::vector<PixelPoint> raw;
  for (int j = 0; j <= 12; ++j)
    for (int i = 0; i <= 16; ++i)
      raw.push_back({-0.5 + c.imageWidth * i / 16.0, -0.5 + c.imageHeight * j / 12.0});
  return raw;
}

void ExpectSameProjections(const LensCalibration& a, const LensCalibration& b) {
  const std::vector<PixelPoint> raw = Grid(a);
  const std::vector<PixelPoint> pa = RawToCorrected(a, raw), pb = RawToCorrected(b, raw);
  for (std::size_t i = 0; i < raw.size(); ++i) {
    EXPECT_NEAR(pa[i].x, pb[i].x, 1e-9) << i;
    EXPECT_NEAR(pa[i].y, pb[i].y, 1e-9) << i;
  }
}

TEST(CalibrationWriterTest, YamlAndColmapReReadToTheSameProjectionsAndCovariance) {
  ScratchFolder folder;
  const std::vector<LensCalibration> cameras = {
      Camera(LensModelKind::OpenCv, {-0.21, 0.047, 0.0011, -0.0006, 0.012}),
      Camera(LensModelKind::OpenCv, {-0.21, 0.047, 0.0011, -0.0006, 0.012, 0.01, -0.002, 0.003}),
      Camera(LensModelKind::Fisheye, {0.05, -0.01, 0.002, -0.0004}),
      Camera(LensModelKind::Pinhole, {})};
  for (LensCalibration camera : cameras) {
    SCOPED_TRACE(camera.coefficients.size());
    camera.intrinsicsCovariance = Covariance(camera);
    const std::string yaml = folder.Path("camera.yml");
    ASSERT_TRUE(WriteOpenCvCalibration(yaml, camera));
    const LensCalibration read = LoadCalibrationFile(yaml, 0);
    ExpectSameProjections(camera, read);
    // A pinhole camera comes back with four zero coefficients and their zero variances.
    const std::size_t n = IntrinsicNames(camera).size(), m = IntrinsicNames(read).size();
    ASSERT_EQ(read.intrinsicsCovariance.size(), m * m);
    for (std::size_t i = 0; i < m; ++i)
      for (std::size_t j = 0; j < m; ++j)
        EXPECT_DOUBLE_EQ(read.intrinsicsCovariance[i * m + j],
                         i < n && j < n ? camera.intrinsicsCovariance[i * n + j] : 0.0);

    const std::string colmap = folder.Path("cameras.txt");
    ASSERT_TRUE(WriteColmapCamera(colmap, camera));
    ExpectSameProjections(camera, LoadCalibrationFile(colmap, 0));
  }
}

TEST(CalibrationWriterTest, ColmapRefusesWhatItsModelsCannotHold) {
  ScratchFolder folder;
  const std::string path = folder.Path("cameras.txt");
  std::vector<double> prism = {-0.2, 0.05, 0.001, 0.0, 0.01, 0, 0, 0, 0.002, 0, 0, 0};
  Expected<void> written = WriteColmapCamera(path, Camera(LensModelKind::OpenCv, prism));
  ASSERT_FALSE(written);
  EXPECT_NE(written.error().text.find("тонкой призмы"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(path));
  // The same model with the prism at zero is FULL_OPENCV's.
  prism[8] = 0;
  ASSERT_TRUE(WriteColmapCamera(path, Camera(LensModelKind::OpenCv, prism)));
  EXPECT_EQ(LoadCalibrationFile(path, 0).modelName, "FULL_OPENCV");
}

TEST(CalibrationWriterTest, AMalformedCovarianceIsRefusedNamingTheKey) {
  ScratchFolder folder;
  const std::string head =
      "%YAML:1.0\n---\nimage_width: 640\nimage_height: 480\n"
      "camera_matrix: [ 800, 0, 320, 0, 800, 240, 0, 0, 1 ]\n"
      "distortion_coefficients: [ -0.1, 0.01, 0, 0 ]\n";
  auto identity = [](int n, double diagonal) {
    std::string text = "intrinsics_covariance: [";
    for (int i = 0; i < n * n; ++i)
      text += (i ? ", " : " ") + std::string(i / n == i % n ? std::to_string(diagonal) : "0");
    return text + " ]\n";
  };
  std::string notANumber = "intrinsics_covariance: [ .nan";
  for (int i = 1; i < 64; ++i) notANumber += i % 9 == 0 ? ", 1" : ", 0";
  notANumber += " ]\n";
  std::string unsymmetric = "intrinsics_covariance: [ 1, 0.5";
  for (int i = 2; i < 64; ++i) unsymmetric += i == 8 ? ", 0.25" : i % 9 == 0 ? ", 1" : ", 0";
  unsymmetric += " ]\n";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {identity(7, 1), "должна быть 8 × 8"},
      {identity(8, -1), "отрицательная дисперсия"},
      {unsymmetric, "несимметрична"},
      {notANumber, "intrinsics_covariance"},
  };
  for (const auto& [text, reason] : cases) {
    InteriorGeometry geometry;
    const Expected<void> read =
        ReadCalibrationFile(folder.Write("c.yml", head + text), 0, geometry);
    ASSERT_FALSE(read) << text;
    EXPECT_EQ(read.error().text.rfind("Ошибка чтения файла калибровки камеры: ", 0), 0u);
    EXPECT_NE(read.error().text.find(reason), std::string::npos) << read.error().text;
  }
  // Halves that differ in the last digits, as a writer rounds them, are made symmetric.
  std::string rounded = "intrinsics_covariance: [ 1, 0.5";
  for (int i = 2; i < 64; ++i) rounded += i == 8 ? ", 0.5000000000001" : i % 9 == 0 ? ", 1" : ", 0";
  InteriorGeometry geometry;
  ASSERT_TRUE(ReadCalibrationFile(folder.Write("c.yml", head + rounded + " ]\n"), 0, geometry));
  EXPECT_EQ(geometry.Lens->intrinsicsCovariance[1], geometry.Lens->intrinsicsCovariance[8]);
  const std::vector<std::string> lines = DescribeCalibration(*geometry.Lens, '.');
  EXPECT_EQ(lines.back(),
            "Sigma of the intrinsics: fx 1 ; fy 1 ; cx 1 ; cy 1 ; k1 1 ; k2 1 ; p1 1 ; p2 1");
}

TEST(CalibrationWriterTest, TheFittedTableFollowsAGentleLensWithinItsBound) {
  ScratchFolder folder;
  // The table corrects x by x alone and y by y alone: only a lens this near to the pinhole fits.
  LensCalibration camera = Camera(LensModelKind::OpenCv, {-1e-4, 2e-5, 0.0, 0.0});
  const std::string path = folder.Path("camera.cam");
  const Expected<CorrectionTableFit> fit = WriteCameraFileWithTable(path, camera);
  ASSERT_TRUE(fit) << fit.error().text;
  EXPECT_LE(fit->worstResidual, 0.05);
  EXPECT_LE(fit->rmsResidual, fit->worstResidual);
  // Read back as the orientation reads it, the table's corrections follow the lens model
  // within the bound at points between the fit's samples.
  InteriorGeometry geometry;
  ASSERT_TRUE(ReadCameraFile(path, geometry));
  EXPECT_EQ(geometry.FocalLength, camera.fx);
  EXPECT_EQ(geometry.ImageCentreX, camera.cx);
  const std::vector<PixelPoint> raw = {{3.3, 7.1}, {1598.2, 1190.4}, {811.7, 603.2}, {5, 1190}};
  const std::vector<PixelPoint> model = RawToCorrected(camera, raw);
  for (std::size_t i = 0; i < raw.size(); ++i) {
    const double dx =
        CorrectImageX(raw[i].x, geometry.CorrectionTable, geometry.ImageCentreX) - model[i].x;
    const double dy =
        CorrectImageY(raw[i].y, geometry.CorrectionTable, geometry.ImageCentreY) - model[i].y;
    EXPECT_LE(std::hypot(dx, dy), fit->worstResidual + 1e-9) << i;
  }
}

TEST(CalibrationWriterTest, AWildFisheyeIsRefusedWithItsWorstResidualAndNothingWritten) {
  ScratchFolder folder;
  const std::string path = folder.Path("camera.cam");
  const Expected<CorrectionTableFit> fit =
      WriteCameraFileWithTable(path, Camera(LensModelKind::Fisheye, {0.3, -0.1, 0.05, -0.01}));
  ASSERT_FALSE(fit);
  EXPECT_NE(fit.error().text.find("таблица коррекции отличается от модели объектива до "),
            std::string::npos)
      << fit.error().text;
  EXPECT_NE(fit.error().text.find(" пикс. при допустимых 0.05 пикс."), std::string::npos);
  EXPECT_TRUE(std::filesystem::is_empty(folder.Folder()));
}

}  // namespace
}  // namespace zelv
