// zelv-cli calibrate run as the user runs it, on the renders of examples/calibration: fifteen
// views of a chessboard by the camera of truth.yml, one with a misprinted corner (id 31 of
// view15.png), and a photograph of another size that must be passed over.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "cli_runner.h"
#include "files/calibration_file.h"
#include "scratch_folder.h"

namespace zelv {
namespace {

using nlohmann::json;
using testing::Quote;
using testing::RunCli;
using testing::ScratchFolder;

const std::string kExample = std::string(ZELV_EXAMPLES_DIR) + "/calibration/";

std::string Views() {
  std::string views;
  for (int i = 1; i <= 15; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "view%02d.png", i);
    views += Quote(kExample + name) + " ";
  }
  return views;
}

const json* Intrinsic(const json& out, const std::string& name) {
  for (const json& p : out["intrinsics"])
    if (p["name"] == name) return &p;
  return nullptr;
}

TEST(CalibrateCommand, TheRendersGiveTheTrueCameraAndFilesThatReadBack) {
  ScratchFolder folder;
  const std::string yml = folder.Path("camera.yml"), colmap = folder.Path("cameras.txt"),
                    cam = folder.Path("camera.cam"), report = folder.Path("calibration.html");
  // The photograph of examples/zhang is 640 × 480: listed as skipped, not fatal.
  const testing::CliRun run =
      RunCli("calibrate " + Views() + Quote(std::string(ZELV_EXAMPLES_DIR) + "/zhang/photo.png") +
             " --target " + Quote(kExample + "target.yml") + " --out " + Quote(yml) + " --colmap " +
             Quote(colmap) + " --cam " + Quote(cam) + " --report " + Quote(report) +
             " --cross-validate --json");
  ASSERT_EQ(run.exitCode, 0) << run.err << run.out;
  const json out = json::parse(run.out);

  ASSERT_EQ(out["skipped_photographs"].size(), 1u) << run.out;
  EXPECT_NE(out["skipped_photographs"][0]["photograph"].get<std::string>().find("photo.png"),
            std::string::npos);
  EXPECT_NE(out["skipped_photographs"][0]["reason"].get<std::string>().find("640×480"),
            std::string::npos);
  ASSERT_EQ(out["views"].size(), 15u);
  EXPECT_EQ(out["image_width"], 800);
  EXPECT_EQ(out["image_height"], 600);

  // The view with the misprinted corner, moved 3 px on the photograph, is left out, or that
  // corner is; either way it is named.
  bool listed = false;
  for (const json& r : out["rejected_views"])
    if (r["photograph"] == "view15.png") listed = !r["reason"].get<std::string>().empty();
  for (const json& r : out["rejected_corners"])
    if (r["photograph"] == "view15.png" && r["id"] == 31) listed = r["residual"] > 1.0;
  EXPECT_TRUE(listed) << out["rejected_views"].dump() << out["rejected_corners"].dump();

  // The true camera within a few σ (and σ not absurdly large either).
  for (const auto& [name, truth] :
       {std::pair<std::string, double>{"fx", 720}, {"fy", 718}, {"cx", 403.5}, {"cy", 297.25}}) {
    const json* p = Intrinsic(out, name);
    ASSERT_NE(p, nullptr) << name;
    const double value = (*p)["value"], sigma = (*p)["sigma"];
    EXPECT_GT(sigma, 0) << name;
    EXPECT_LT(sigma, 1.0) << name;
    EXPECT_LT(std::abs(value - truth), 4 * sigma + 0.05) << name << " " << value << " ± " << sigma;
  }
  EXPECT_LT(out["rms"].get<double>(), 0.2);
  EXPECT_GT(out["projection_uncertainty"]["worst"].get<double>(),
            out["projection_uncertainty"]["median"].get<double>());
  EXPECT_TRUE(out.contains("cross_validation")) << out["warnings"].dump();

  // The OpenCV file reads back as the camera printed, with its covariance.
  const LensCalibration read = LoadCalibrationFile(yml, 0);
  EXPECT_DOUBLE_EQ(read.fx, (*Intrinsic(out, "fx"))["value"].get<double>());
  EXPECT_DOUBLE_EQ(read.cy, (*Intrinsic(out, "cy"))["value"].get<double>());
  ASSERT_EQ(read.intrinsicsCovariance.size(), 81u);
  EXPECT_NEAR(std::sqrt(read.intrinsicsCovariance[0]),
              (*Intrinsic(out, "fx"))["sigma"].get<double>(), 1e-9);
  EXPECT_TRUE(std::filesystem::exists(colmap));
  // The report holds the views' table and the maps as drawings, and no non-finite number.
  const std::string html = ScratchFolder::Read(report);
  EXPECT_NE(html.find("<td>view14.png</td>"), std::string::npos);
  EXPECT_NE(html.find("<svg"), std::string::npos);
  EXPECT_EQ(html.find("nan"), std::string::npos);
  EXPECT_EQ(html.find("inf"), std::string::npos);
  // The camera file is written with its table's worst residual, or refused with a warning that
  // says it; never silently missing.
  if (out.contains("correction_table")) {
    EXPECT_TRUE(std::filesystem::exists(cam));
    EXPECT_LE(out["correction_table"]["worst_residual"].get<double>(), 0.05);
  } else {
    EXPECT_FALSE(std::filesystem::exists(cam));
    ASSERT_FALSE(out["warnings"].empty());
    EXPECT_NE(out["warnings"][0].get<std::string>().find("camera.cam"), std::string::npos);
  }
}

// Four views as a person reads them; the lens's k1 of −0.15 is more than the camera file's table
// can follow, so that file is refused with its worst miss named while the others are written.
TEST(CalibrateCommand, TheTextNamesEveryFigureAndARefusedTableLeavesTheOtherFiles) {
  ScratchFolder folder;
  std::string views;
  for (const char* name : {"view01.png", "view02.png", "view03.png", "view05.png"})
    views += Quote(kExample + name) + " ";
  const std::string yml = folder.Path("camera.yml"), cam = folder.Path("camera.cam");
  const testing::CliRun run =
      RunCli("calibrate " + views + "--target " + Quote(kExample + "target.yml") +
             " --model pinhole4 --out " + Quote(yml) + " --cam " + Quote(cam));
  ASSERT_EQ(run.exitCode, 0) << run.err;
  for (const char* line :
       {"target found on 4, image 800 x 600 px", "view05.png 54", "Model: pinhole4", "  fx  ",
        "  p2  ", "RMS, px: ", "sigma0, px: ", "Image the corners never reached: ",
        "Projection uncertainty (1 sigma), px: median ", "Written: "})
    EXPECT_NE(run.out.find(line), std::string::npos) << line << "\n" << run.out;
  EXPECT_EQ(run.out.find("  k3  "), std::string::npos);
  EXPECT_TRUE(std::filesystem::exists(yml));
  EXPECT_FALSE(std::filesystem::exists(cam));
  EXPECT_NE(run.err.find(cam), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("0.05"), std::string::npos) << run.err;
  // Four views leave most of the image without a corner: the warning says so.
  EXPECT_NE(run.err.find("Углы мишени не попали"), std::string::npos) << run.err;
}

TEST(CalibrateCommand, WrongCommandLinesAreUsageErrorsAndNoTargetFoundFails) {
  ScratchFolder folder;
  const std::string photo = Quote(kExample + "view01.png");
  const std::string target = " --target " + Quote(kExample + "target.yml");
  const std::string out = " --out " + Quote(folder.Path("camera.yml"));
  EXPECT_EQ(RunCli("calibrate " + photo + out).exitCode, 2);
  EXPECT_EQ(RunCli("calibrate " + photo + target).exitCode, 2);
  EXPECT_EQ(RunCli("calibrate " + photo + target + out + " --model pinhole6").exitCode, 2);
  // The output over one of the photographs is refused before anything is read.
  const testing::CliRun over = RunCli("calibrate " + photo + target + " --out " + photo);
  EXPECT_EQ(over.exitCode, 2);
  EXPECT_NE(over.err.find("zelv-cli calibrate:"), std::string::npos) << over.err;
  EXPECT_TRUE(RunCli("calibrate --help").out.find("--cross-validate") != std::string::npos);

  // A photograph without the target: a failure with its message, nothing written.
  const testing::CliRun none =
      RunCli("calibrate " + Quote(std::string(ZELV_EXAMPLES_DIR) + "/zhang/photo.png") + target +
             out + " --json");
  EXPECT_EQ(none.exitCode, 1);
  EXPECT_NE(none.out.find("\"error\""), std::string::npos) << none.out;
  EXPECT_FALSE(std::filesystem::exists(folder.Path("camera.yml")));
}

}  // namespace
}  // namespace zelv
