// zelv-cli detect, orient --photo --target and target draw, run as the user runs them, on the
// real photograph of separate squares in examples/zhang (photo.png, its published corners in
// image-raw.crd and its published pose in truth.json).
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>

#include "cli_runner.h"
#include "files/point_table.h"
#include "scratch_folder.h"

namespace zelv {
namespace {

using testing::Quote;
using testing::RunCli;
using testing::ScratchFolder;

const std::string kZhang = std::string(ZELV_EXAMPLES_DIR) + "/zhang/";

TEST(TargetCommand, DetectWritesPairedTablesNearThePublishedCorners) {
  ScratchFolder folder;
  const testing::CliRun run =
      RunCli("detect " + Quote(kZhang + "photo.png") + " --target " + Quote(kZhang + "target.yml") +
             " --out-image " + Quote(folder.Path("image.csv")) + " --out-scene " +
             Quote(folder.Path("scene.csv")) + " --json");
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(run.out.find("\"found\": 256"), std::string::npos) << run.out;
  const PointTable image =
      ParsePointTable(ScratchFolder::Read(folder.Path("image.csv")), "image.csv");
  const PointTable scene =
      ParsePointTable(ScratchFolder::Read(folder.Path("scene.csv")), "scene.csv");
  ASSERT_EQ(image.ids, scene.ids);
  ASSERT_EQ(image.ids.size(), 256u);
  // The published corners, one a line in identifier order.
  std::ifstream published(kZhang + "image-raw.crd");
  double sum = 0;
  for (std::size_t i = 0; i < image.points.size(); ++i) {
    double x = 0, y = 0;
    char separator = 0;
    ASSERT_TRUE(published >> x >> separator >> y);
    EXPECT_EQ(image.ids[i], std::to_string(i));
    const double d = std::hypot(image.points[i].x - x, image.points[i].y - y);
    EXPECT_LT(d, 0.6) << "corner " << i;
    sum += d * d;
  }
  EXPECT_LT(std::sqrt(sum / 256), 0.2);
}

TEST(TargetCommand, OrientFromThePhotographFindsThePublishedCentre) {
  const testing::CliRun run =
      RunCli("orient --photo " + Quote(kZhang + "photo.png") + " --target " +
             Quote(kZhang + "target.yml") + " " + Quote(kZhang + "calibration.yml") + " --json");
  ASSERT_EQ(run.exitCode, 0) << run.err;
  // The published centre: 5.2876, 2.4152, 12.5658 inches.
  const std::size_t at = run.out.find("\"projection_centre\": [");
  ASSERT_NE(at, std::string::npos) << run.out;
  std::istringstream numbers(run.out.substr(at + 22));
  double x = 0, y = 0, z = 0;
  char comma = 0;
  ASSERT_TRUE(numbers >> x >> comma >> y >> comma >> z);
  EXPECT_NEAR(x, 5.2876, 0.02) << run.out;
  EXPECT_NEAR(y, 2.4152, 0.02);
  EXPECT_NEAR(z, 12.5658, 0.02);
}

TEST(TargetCommand, BatchOrientsEachPhotographOfTheTargetAndReportsOneThatIsNone) {
  const testing::CliRun run =
      RunCli("batch --camera " + Quote(kZhang + "calibration.yml") + " --target " +
             Quote(kZhang + "target.yml") + " " + Quote(kZhang + "photo.png") + " " +
             Quote(kZhang + "scene.crd"));
  EXPECT_EQ(run.exitCode, 1);
  const std::size_t second = run.out.find('\n');
  ASSERT_NE(second, std::string::npos);
  EXPECT_NE(run.out.substr(0, second).find("\"projection_centre\": [5.28"), std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("не читается как снимок", second), std::string::npos) << run.out;
}

TEST(TargetCommand, AWrongTargetOrAMissingBoardFailsWithTheMessage) {
  ScratchFolder folder;
  const std::string wrong = folder.Write("wrong.yml", "%YAML:1.0\n---\nkind: hexagons\n");
  testing::CliRun run = RunCli("detect " + Quote(kZhang + "photo.png") + " --target " +
                               Quote(wrong) + " --out-image " + Quote(folder.Path("i.csv")) +
                               " --out-scene " + Quote(folder.Path("s.csv")));
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.err.find("Ошибка в файле мишени " + wrong + ": ключ «kind»"), std::string::npos)
      << run.err;
  run = RunCli("orient --photo " + Quote(kZhang + "photo.png") + " --target " +
               Quote(std::string(ZELV_EXAMPLES_DIR) + "/targets/charuco_7x10_DICT_5X5_100.yml") +
               " " + Quote(kZhang + "calibration.yml"));
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.err.find("Мишень (charuco) не найдена на снимке"), std::string::npos) << run.err;
  EXPECT_FALSE(std::ifstream(folder.Path("i.csv")).good());
}

TEST(TargetCommand, DrawWritesAPictureAndAnSvgToScale) {
  ScratchFolder folder;
  const std::string target = std::string(ZELV_EXAMPLES_DIR) + "/targets/chessboard_7x10_30mm.yml";
  ASSERT_EQ(
      RunCli("target draw " + Quote(target) + " --out " + Quote(folder.Path("b.svg"))).exitCode, 0);
  const std::string svg = ScratchFolder::Read(folder.Path("b.svg"));
  // 10 x 7 squares of 30 mm and a margin of one square each side.
  EXPECT_NE(svg.find("width=\"360mm\" height=\"270mm\""), std::string::npos) << svg.substr(0, 300);
  ASSERT_EQ(
      RunCli("target draw " + Quote(target) + " --out " + Quote(folder.Path("b.png")) + " --dpi 50")
          .exitCode,
      0);
  EXPECT_EQ(ScratchFolder::Read(folder.Path("b.png")).substr(1, 3), "PNG");
}

}  // namespace
}  // namespace zelv
