// The calibration files (OpenCV FileStorage, COLMAP cameras.txt) and the lens model that turns
// raw pixels into the solver's corrected pixels.
#include "files/calibration_file.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "fake_ui.h"
#include "files/lens_model.h"
#include "scratch_folder.h"

namespace zelv {
namespace {

using testing::FakeUi;
using testing::ScratchFolder;

// A calibration as OpenCV writes it, with its skew and fy != fx.
const char kYaml[] =
    "%YAML:1.0\n"
    "---\n"
    "image_width: 1600\n"
    "image_height: 1200\n"
    "camera_matrix: !!opencv-matrix\n"
    "   rows: 3\n"
    "   cols: 3\n"
    "   dt: d\n"
    "   data: [ 1500., 0.75, 810.5, 0., 1530., 590.25, 0., 0., 1. ]\n"
    "distortion_coefficients: !!opencv-matrix\n"
    "   rows: 1\n"
    "   cols: 5\n"
    "   dt: d\n"
    "   data: [ -0.2, 0.05, 0.001, -0.0005, 0.01 ]\n";

const char kXml[] =
    "<?xml version=\"1.0\"?>\n"
    "<opencv_storage>\n"
    "<image_width>1600</image_width>\n"
    "<image_height>1200</image_height>\n"
    "<K type_id=\"opencv-matrix\"><rows>3</rows><cols>3</cols><dt>d</dt>\n"
    "  <data>1500. 0.75 810.5 0. 1530. 590.25 0. 0. 1.</data></K>\n"
    "<D type_id=\"opencv-matrix\"><rows>5</rows><cols>1</cols><dt>d</dt>\n"
    "  <data>-0.2 0.05 0.001 -0.0005 0.01</data></D>\n"
    "</opencv_storage>\n";

const char kJson[] =
    "{\n"
    "    \"image_width\": 1600,\n"
    "    \"image_height\": 1200,\n"
    "    \"camera_matrix\": {\n"
    "        \"type_id\": \"opencv-matrix\", \"rows\": 3, \"cols\": 3, \"dt\": \"d\",\n"
    "        \"data\": [ 1500.0, 0.75, 810.5, 0.0, 1530.0, 590.25, 0.0, 0.0, 1.0 ]\n"
    "    },\n"
    "    \"distortion_coefficients\": {\n"
    "        \"type_id\": \"opencv-matrix\", \"rows\": 1, \"cols\": 5, \"dt\": \"d\",\n"
    "        \"data\": [ -0.2, 0.05, 0.001, -0.0005, 0.01 ]\n"
    "    }\n"
    "}\n";

const char kColmap[] =
    "# Camera list with one line of data per camera:\n"
    "#   CAMERA_ID, MODEL, WIDTH, HEIGHT, PARAMS[]\n"
    "# Number of cameras: 2\n"
    "7 OPENCV 1600 1200 1500 1530 810.5 590.25 -0.2 0.05 0.001 -0.0005\n"
    "3 SIMPLE_RADIAL 800 600 700 400.5 300.5 -0.1\n";

// The OpenCV camera model written out (Brown–Conrady with k1 k2 p1 p2 k3, then the camera matrix
// with its skew): the raw pixel (x right, y down) of the ideal normalised point (x, y).
PixelPoint ProjectByHand(const LensCalibration& c, double x, double y) {
  const std::vector<double>& k = c.coefficients;
  const double r2 = x * x + y * y;
  const double radial = 1 + k[0] * r2 + k[1] * r2 * r2 + k[4] * r2 * r2 * r2;
  const double xd = x * radial + 2 * k[2] * x * y + k[3] * (r2 + 2 * x * x);
  const double yd = y * radial + k[2] * (r2 + 2 * y * y) + 2 * k[3] * x * y;
  return {c.fx * xd + c.skew * yd + c.cx, c.fy * yd + c.cy};
}

// The fisheye model written out: the distorted angle θd = θ(1 + k1θ² + k2θ⁴ + k3θ⁶ + k4θ⁸).
PixelPoint ProjectFisheyeByHand(const LensCalibration& c, double x, double y) {
  const std::vector<double>& k = c.coefficients;
  const double r = std::sqrt(x * x + y * y);
  const double t = std::atan(r);
  const double t2 = t * t;
  const double td =
      t * (1 + k[0] * t2 + k[1] * t2 * t2 + k[2] * t2 * t2 * t2 + k[3] * t2 * t2 * t2 * t2);
  const double scale = r > 0 ? td / r : 1;
  return {c.fx * x * scale + c.skew * y * scale + c.cx, c.fy * y * scale + c.cy};
}

std::string OnlyMessage(const FakeUi& ui) {
  if (ui.messages.size() != 1) return std::to_string(ui.messages.size()) + " messages";
  EXPECT_EQ(ui.messages[0].caption, "Ошибка!");
  return ui.messages[0].text;
}

TEST(CalibrationFileTest, TheFormatIsRecognisedByContentWhateverTheName) {
  ScratchFolder folder;
  EXPECT_EQ(DetectCameraFileFormat(folder.Write("a.cam", kYaml)), CameraFileFormat::OpenCvStorage);
  EXPECT_EQ(DetectCameraFileFormat(folder.Write("b.txt", kXml)), CameraFileFormat::OpenCvStorage);
  EXPECT_EQ(DetectCameraFileFormat(folder.Write("c", std::string("\xEF\xBB\xBF  ") + kJson)),
            CameraFileFormat::OpenCvStorage);
  EXPECT_EQ(DetectCameraFileFormat(folder.Write("d.yml", kColmap)),
            CameraFileFormat::ColmapCameras);
  EXPECT_EQ(DetectCameraFileFormat(folder.Write("e.yml", "1 PINHOLE 640 480 500 500 320 240\n")),
            CameraFileFormat::ColmapCameras);
  const std::string cam = std::string(ZELV_TEST_DATA_DIR) + "/golden/square/camera.cam";
  EXPECT_EQ(DetectCameraFileFormat(cam), CameraFileFormat::CamFile);
  EXPECT_EQ(DetectCameraFileFormat(folder.Write("f.yml", "")), CameraFileFormat::CamFile);
  EXPECT_EQ(DetectCameraFileFormat(folder.Path("missing.yml")), CameraFileFormat::CamFile);
}

TEST(CalibrationFileTest, YamlXmlJsonAndTheShortKeysReadTheSameCamera) {
  ScratchFolder folder;
  const LensCalibration yaml = LoadCalibrationFile(folder.Write("c.yml", kYaml), 0);
  EXPECT_EQ(yaml.kind, LensModelKind::OpenCv);
  EXPECT_EQ(yaml.fx, 1500.0);
  EXPECT_EQ(yaml.fy, 1530.0);
  EXPECT_EQ(yaml.skew, 0.75);
  EXPECT_EQ(yaml.cx, 810.5);
  EXPECT_EQ(yaml.cy, 590.25);
  EXPECT_EQ(yaml.coefficients, (std::vector<double>{-0.2, 0.05, 0.001, -0.0005, 0.01}));
  EXPECT_EQ(yaml.imageWidth, 1600.0);
  EXPECT_EQ(yaml.imageHeight, 1200.0);
  for (const char* text : {kXml, kJson}) {
    const LensCalibration other = LoadCalibrationFile(folder.Write("other", text), 0);
    EXPECT_EQ(other.fx, yaml.fx);
    EXPECT_EQ(other.fy, yaml.fy);
    EXPECT_EQ(other.skew, yaml.skew);
    EXPECT_EQ(other.cx, yaml.cx);
    EXPECT_EQ(other.cy, yaml.cy);
    EXPECT_EQ(other.coefficients, yaml.coefficients);
    EXPECT_EQ(other.imageWidth, yaml.imageWidth);
    EXPECT_EQ(other.imageHeight, yaml.imageHeight);
  }
  // A fisheye calibration says so; its four coefficients are then k1..k4.
  const std::string text = kYaml;
  const std::string fisheye = text.substr(0, text.find("distortion_coefficients")) +
                              "distortion_model: fisheye\n"
                              "D: [ 0.1, 0.01, -0.001, 0.0001 ]\n";
  EXPECT_EQ(LoadCalibrationFile(folder.Write("f.yml", fisheye), 0).kind, LensModelKind::Fisheye);
}

TEST(CalibrationFileTest, EachColmapModelGivesItsParametersInOpenCvsOrder) {
  ScratchFolder folder;
  struct Case {
    const char* line;
    double fx, fy, cx, cy;
    std::vector<double> coefficients;
    LensModelKind kind;
  };
  const Case cases[] = {
      {"1 SIMPLE_PINHOLE 640 480 500 320.5 240.5", 500, 500, 320, 240, {}, LensModelKind::Pinhole},
      {"1 PINHOLE 640 480 500 501 320.5 240.5", 500, 501, 320, 240, {}, LensModelKind::Pinhole},
      {"1 SIMPLE_RADIAL 640 480 500 320.5 240.5 0.1",
       500,
       500,
       320,
       240,
       {0.1, 0, 0, 0},
       LensModelKind::OpenCv},
      {"1 RADIAL 640 480 500 320.5 240.5 0.1 0.2",
       500,
       500,
       320,
       240,
       {0.1, 0.2, 0, 0},
       LensModelKind::OpenCv},
      {"1 OPENCV 640 480 500 501 320.5 240.5 1 2 3 4",
       500,
       501,
       320,
       240,
       {1, 2, 3, 4},
       LensModelKind::OpenCv},
      {"1 FULL_OPENCV 640 480 500 501 320.5 240.5 1 2 3 4 5 6 7 8",
       500,
       501,
       320,
       240,
       {1, 2, 3, 4, 5, 6, 7, 8},
       LensModelKind::OpenCv},
      {"1 OPENCV_FISHEYE 640 480 500 501 320.5 240.5 1 2 3 4",
       500,
       501,
       320,
       240,
       {1, 2, 3, 4},
       LensModelKind::Fisheye},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    const LensCalibration read = LoadCalibrationFile(folder.Write("cameras.txt", c.line), 0);
    EXPECT_EQ(read.fx, c.fx);
    EXPECT_EQ(read.fy, c.fy);
    EXPECT_EQ(read.cx, c.cx);
    EXPECT_EQ(read.cy, c.cy);
    EXPECT_EQ(read.skew, 0.0);
    EXPECT_EQ(read.coefficients, c.coefficients);
    EXPECT_EQ(read.kind, c.kind);
    EXPECT_EQ(read.imageWidth, 640.0);
    EXPECT_EQ(read.imageHeight, 480.0);
  }
  // The first camera listed, or the one asked for by its CAMERA_ID.
  const std::string list = folder.Write("cameras.txt", kColmap);
  EXPECT_EQ(LoadCalibrationFile(list, 0).modelName, "OPENCV");
  EXPECT_EQ(LoadCalibrationFile(list, 0).cameraId, 7);
  EXPECT_EQ(LoadCalibrationFile(list, 0).fy, 1530.0);
  EXPECT_EQ(LoadCalibrationFile(list, 3).modelName, "SIMPLE_RADIAL");
  EXPECT_EQ(LoadCalibrationFile(list, 3).cx, 400.0);
}

TEST(CalibrationFileTest, AFileThatCannotServeGivesItsReasonAndLeavesTheGeometry) {
  ScratchFolder folder;
  const std::string p = "Ошибка чтения файла калибровки камеры: ";
  const std::string yaml = kYaml;
  const auto replaced = [&yaml](const std::string& from, const std::string& to) {
    const std::size_t at = yaml.find(from);
    return yaml.substr(0, at) + to + yaml.substr(at + from.size());
  };
  const struct {
    std::string text;
    std::string message;
    int cameraId;
  } cases[] = {
      {replaced("camera_matrix", "cam_matrix"), p + "нет матрицы камеры (camera_matrix или K)!", 0},
      {replaced("0., 0., 1. ]", "0., 0., 2. ]"),
       p + "матрица камеры должна быть 3 × 3 вида [fx s cx; 0 fy cy; 0 0 1]!", 0},
      {replaced("distortion_coefficients", "dist"),
       p + "нет коэффициентов дисторсии (distortion_coefficients или D)!", 0},
      {yaml.substr(0, yaml.find("distortion_coefficients")) + "D: [ 0.1, 0, 0, 0, 0, 0 ]\n",
       p + "коэффициентов дисторсии должно быть 4, 5, 8, 12 или 14!", 0},
      {replaced("[ 1500.", "[ -1500."), p + "фокусные расстояния fx и fy должны быть больше нуля!",
       0},
      {replaced("-0.2,", ".nan,"), p + "недопустимое значение коэффициента дисторсии!", 0},
      {replaced("810.5", ".inf"), p + "недопустимое значение cx!", 0},
      {replaced("image_height: 1200\n", ""),
       p + "нет размера изображения (image_width и image_height)!", 0},
      {replaced("image_width: 1600", "image_width: 0"),
       p + "ширина и высота изображения должны быть от 1 до 10000000 пикселей!", 0},
      {replaced("data: [ 1500.", "data: [ [ 1500."), p + "файл не разбирается как файл OpenCV!", 0},
      {"%YAML:1.0\n---\n", p + "нет матрицы камеры (camera_matrix или K)!", 0},
      {yaml, p + "номер камеры задаётся только для списка камер COLMAP!", 2},
      {"1 THIN_PRISM_FISHEYE 640 480 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16",
       p + "модель камеры THIN_PRISM_FISHEYE не поддерживается!", 0},
      {"1 OPENCV 640 480 500 500 320 240 0.1", p + "у модели OPENCV должно быть 8 параметров!", 0},
      {"1 PINHOLE 640 480 500 500 320 x", p + "не читается параметр 4 камеры 1!", 0},
      {"1 PINHOLE 640 480 500 0 320 240",
       p + "фокусные расстояния fx и fy должны быть больше нуля!", 0},
      {"# no camera\n", p + "в списке нет ни одной камеры!", 0},
      {kColmap, p + "в списке нет камеры с номером 4!", 4},
      {std::string(kColmap) + "x y\n", p + "строка 6 не является описанием камеры!", 4},
      // A CAMERA_ID given twice is refused wherever it stands, naming both lines.
      {std::string(kColmap) + "7 PINHOLE 640 480 500 500 320 240\n",
       p + "камера с номером 7 описана дважды, в строках 4 и 6!", 0},
      {std::string(kColmap) + "7 PINHOLE 640 480 500 500 320 240\n",
       p + "камера с номером 7 описана дважды, в строках 4 и 6!", 3},
      {"1 PINHOLE 640.5 480 500 500 320 240",
       p + "ширина изображения камеры 1 «640.5» не целое число пикселей!", 0},
      {"1 PINHOLE 640 4x0 500 500 320 240", p + "высота изображения камеры 1 «4x0» не число!", 0},
      {"# cameras\n1 pinhole 640 480 500 500 320 240",
       p + "модель камеры pinhole записана не заглавными буквами: COLMAP пишет PINHOLE!", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const std::string path = folder.Write("calibration", c.text);
    InteriorGeometry geometry;
    geometry.FocalLength = 123;
    geometry.CorrectionTable = {"1"};
    FakeUi ui;
    EXPECT_FALSE(Shown(ui, ReadCalibrationFile(path, c.cameraId, geometry)));
    EXPECT_EQ(OnlyMessage(ui), c.message);
    EXPECT_EQ(geometry.FocalLength, 123.0);
    EXPECT_EQ(geometry.CorrectionTable.size(), 1u);
    EXPECT_FALSE(geometry.Lens.has_value());
  }
  // Nesting that would take OpenCV's parsers down the stack is refused before they see it.
  for (const std::string& deep :
       {"%YAML:1.0\n---\nK: " + std::string(100000, '[') + std::string(100000, ']') + "\n",
        "{ \"K\": " + std::string(100000, '{') + std::string(100000, '}') + " }\n",
        [] {
          std::string xml = "<?xml version=\"1.0\"?>\n<opencv_storage>";
          for (int i = 0; i < 50000; ++i) xml += "<a>";
          return xml + "</opencv_storage>\n";
        }(),
        "%YAML:1.0\n---\nK:\n" + std::string(300, ' ') + "a: 1\n"}) {
    FakeUi deepUi;
    InteriorGeometry geometry;
    EXPECT_FALSE(Shown(deepUi, ReadCalibrationFile(folder.Write("deep", deep), 0, geometry)));
    EXPECT_EQ(OnlyMessage(deepUi), p + "файл не разбирается как файл OpenCV!");
  }
  // A large file is no calibration and is not parsed at all.
  FakeUi ui;
  InteriorGeometry geometry;
  EXPECT_FALSE(
      Shown(ui, ReadCalibrationFile(
                    folder.Write("big.yml", "%YAML:1.0\n" + std::string(2 * 1024 * 1024, '#')), 0,
                    geometry)));
  EXPECT_EQ(OnlyMessage(ui), p + "файл слишком велик для файла калибровки!");
}

TEST(CalibrationFileTest, YamlSequenceIndicatorsNestedBeyondTheLimitAreRefusedUnparsed) {
  // Fifty thousand "- " overflowed the parser's stack; refused before it is parsed, on the key's
  // line or on a line of their own.
  ScratchFolder folder;
  const std::string head =
      "%YAML:1.0\n---\nimage_width: 640\nimage_height: 480\ndistortion_coefficients:";
  std::string dashes;
  for (int i = 0; i < 50000; ++i) dashes += "- ";
  for (const std::string& text : {head + " " + dashes + "\n", head + "\n" + dashes + "0.1\n",
                                  head + "\n" + std::string("? ") + dashes + "\n"}) {
    FakeUi ui;
    InteriorGeometry geometry;
    EXPECT_FALSE(Shown(ui, ReadCalibrationFile(folder.Write("deep.yml", text), 0, geometry)));
    EXPECT_EQ(OnlyMessage(ui),
              "Ошибка чтения файла калибровки камеры: файл не разбирается как файл OpenCV!");
  }
  // A sequence of numbers, negative ones included, still reads.
  const std::string flat = std::string(kYaml);
  EXPECT_NO_THROW(LoadCalibrationFile(folder.Write("flat.yml", flat), 0));
}

TEST(LensModelTest, SkewAndUnequalFocalLengthsAreFoldedIntoTheOneFocalLengthFrame) {
  ScratchFolder folder;
  const LensCalibration c = LoadCalibrationFile(folder.Write("c.yml", kYaml), 0);
  std::vector<PixelPoint> raw;
  std::vector<PixelPoint> ideal;
  for (double x = -0.5; x <= 0.5; x += 0.125)
    for (double y = -0.375; y <= 0.375; y += 0.125) {
      ideal.push_back({x, y});
      raw.push_back(ProjectByHand(c, x, y));
    }
  const std::vector<PixelPoint> corrected = RawToCorrected(c, raw);
  const std::vector<PixelPoint> back = CorrectedToRaw(c, corrected);
  ASSERT_EQ(corrected.size(), raw.size());
  for (std::size_t i = 0; i < raw.size(); ++i) {
    // Pixels of fx, origin at the principal point, y up.
    EXPECT_NEAR(corrected[i].x, c.fx * ideal[i].x, 1e-7) << i;
    EXPECT_NEAR(corrected[i].y, -c.fx * ideal[i].y, 1e-7) << i;
    EXPECT_NEAR(back[i].x, raw[i].x, 1e-7) << i;
    EXPECT_NEAR(back[i].y, raw[i].y, 1e-7) << i;
  }
}

TEST(LensModelTest, FisheyeAndTheFullModelRoundTrip) {
  LensCalibration fisheye;
  fisheye.kind = LensModelKind::Fisheye;
  fisheye.fx = 400;
  fisheye.fy = 410;
  fisheye.skew = -0.5;
  fisheye.cx = 640;
  fisheye.cy = 480;
  fisheye.coefficients = {0.05, -0.01, 0.002, -0.0003};
  LensCalibration full = fisheye;
  full.kind = LensModelKind::OpenCv;
  full.coefficients = {-0.1,  0.02,  0.001,   0.0005, 0.001,  0.01, 0.002,
                       0.001, 0.001, -0.0005, 0.0002, 0.0001, 0.01, -0.02};
  std::vector<PixelPoint> raw;
  std::vector<PixelPoint> ideal;
  for (double x = -1.0; x <= 1.0; x += 0.25)
    for (double y = -0.75; y <= 0.75; y += 0.25) {
      ideal.push_back({x, y});
      raw.push_back(ProjectFisheyeByHand(fisheye, x, y));
    }
  const std::vector<PixelPoint> corrected = RawToCorrected(fisheye, raw);
  for (std::size_t i = 0; i < raw.size(); ++i) {
    EXPECT_NEAR(corrected[i].x, fisheye.fx * ideal[i].x, 1e-6) << i;
    EXPECT_NEAR(corrected[i].y, -fisheye.fx * ideal[i].y, 1e-6) << i;
  }
  // Rational, thin-prism and tilted model: back and forth through OpenCV's two directions.
  std::vector<PixelPoint> points;
  for (double x = -300; x <= 300; x += 75)
    for (double y = -200; y <= 200; y += 50) points.push_back({x, y});
  const std::vector<PixelPoint> there = CorrectedToRaw(full, points);
  const std::vector<PixelPoint> again = RawToCorrected(full, there);
  for (std::size_t i = 0; i < points.size(); ++i) {
    EXPECT_NEAR(again[i].x, points[i].x, 1e-6) << i;
    EXPECT_NEAR(again[i].y, points[i].y, 1e-6) << i;
  }
}

TEST(LensModelTest, APointBeyondWhereTheModelInvertsIsRefusedByItsNumber) {
  // With k1 = -0.5 the radial distance r(1 - 0.5 r²) never exceeds 0.544: a raw point at 0.8 of
  // the focal length from the centre has no ideal point.
  LensCalibration c;
  c.kind = LensModelKind::OpenCv;
  c.fx = c.fy = 1000;
  c.cx = 500;
  c.cy = 400;
  c.coefficients = {-0.5, 0, 0, 0};
  const std::vector<PixelPoint> raw = {{500, 400}, {600, 400}, {1300, 400}};
  try {
    RawToCorrected(c, raw);
    FAIL() << "no error";
  } catch (const ZelvError& error) {
    EXPECT_STREQ(error.what(),
                 "Точка 3 изображения лежит вне области, где обратима модель объектива!");
  }

  ScratchFolder folder;
  FakeUi ui;
  VT_Points points(1);
  const std::string crd = folder.Write("image.crd", "500 ; 400\r\n600 ; 400\r\n1300 ; 400\r\n");
  EXPECT_FALSE(Shown(ui, ReadCalibratedImagePoints(crd, points, c)));
  EXPECT_EQ(OnlyMessage(ui),
            "Точка 3 изображения лежит вне области, где обратима модель объектива!");
  EXPECT_EQ(points.Count(), 0);  // no raw point is left to pass for a corrected one

  FakeUi badFile;
  const std::string broken = folder.Write("broken.crd", "500 ; 400\r\nx ; 1\r\n");
  EXPECT_FALSE(Shown(badFile, ReadCalibratedImagePoints(broken, points, c)));
  EXPECT_EQ(OnlyMessage(badFile),
            "Ошибка чтения файла координат точек изображения!\nВ строке 2 файла broken.crd "
            "значение x «x» не читается как число: «x ; 1».");
  EXPECT_EQ(points.Count(), 0);
}

}  // namespace
}  // namespace zelv
