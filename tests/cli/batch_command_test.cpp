// zelv-cli batch: one JSON line per orientation in input order, the failing ones as errors, the
// result files and the COLMAP images.txt, run as a real process.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "cli_runner.h"
#include "scratch_folder.h"

namespace zelv {
namespace {

using testing::CliRun;
using testing::Quote;
using testing::RunCli;
using testing::ScratchFolder;

std::vector<nlohmann::json> JsonLines(const std::string& text) {
  std::vector<nlohmann::json> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(nlohmann::json::parse(line));
  return lines;
}

const std::string kExamples = ZELV_EXAMPLES_DIR;

// The survey copied beside the manifest (its names relative to it), the photograph by absolute
// names, and a line whose image file is missing.
std::string WriteManifest(const ScratchFolder& folder) {
  for (const char* file : {"camera.cam", "table.txt", "image.crd", "scene.crd"})
    folder.Write(std::string("survey/") + file, ScratchFolder::Read(kExamples + "/survey/" + file));
  const std::string zhang = kExamples + "/zhang/";
  return folder.Write("manifest.csv",
                      "camera,image,scene,output\n"
                      "# the survey\n"
                      "survey/camera.cam, survey/image.crd, survey/scene.crd\n"
                      "\n" +
                          zhang + "calibration.yml," + zhang + "image-raw.crd," + zhang +
                          "scene.crd,zhang.ort\n"
                          "survey/camera.cam,survey/missing.crd,survey/scene.crd\n");
}

TEST(BatchCommandTest, OneLinePerOrientationInInputOrderAndAFailureExitsOne) {
  ScratchFolder folder;
  const std::string manifest = WriteManifest(folder);
  // An images.txt from before, with a second link to it: replacing the file leaves the link
  // with the old text, as every other output is replaced.
  folder.Write("images.txt", "old\n");
  std::filesystem::create_hard_link(folder.Path("images.txt"), folder.Path("images-link.txt"));
  const CliRun run = RunCli("batch --jobs 2 --manifest " + Quote(manifest) + " --out-dir " +
                            Quote(folder.Path("results")) + " --colmap-images " +
                            Quote(folder.Path("images.txt")));
  EXPECT_EQ(run.exitCode, 1) << run.err;
  EXPECT_EQ(run.err, "");
  const std::vector<nlohmann::json> lines = JsonLines(run.out);
  ASSERT_EQ(lines.size(), 3u) << run.out;
  EXPECT_EQ(lines[0]["image"], "survey/image.crd");
  EXPECT_EQ(lines[1]["camera"], kExamples + "/zhang/calibration.yml");
  EXPECT_EQ(lines[2]["image"], "survey/missing.crd");
  EXPECT_EQ(lines[2]["error"], "Файл " + folder.Path("survey/missing.crd") +
                                   " не найден!\nИскали в папке " + folder.Path("survey"));
  EXPECT_EQ(lines[2]["caption"], "Ошибка!");
  EXPECT_TRUE(lines[2]["warnings"].is_array());

  // The same members and values as orient --json of the same files.
  const std::string survey = folder.Path("survey/");
  const CliRun orient = RunCli("orient --json --out " + Quote(folder.Path("orient.ort")) + " " +
                               Quote(survey + "camera.cam") + " " + Quote(survey + "image.crd") +
                               " " + Quote(survey + "scene.crd"));
  ASSERT_EQ(orient.exitCode, 0) << orient.err;
  nlohmann::json single = nlohmann::json::parse(orient.out);
  for (auto it = single.begin(); it != single.end(); ++it)
    EXPECT_EQ(lines[0][it.key()], it.value()) << it.key();
  EXPECT_EQ(ScratchFolder::Read(folder.Path("results/image.ort")),
            ScratchFolder::Read(folder.Path("orient.ort")));
  EXPECT_TRUE(std::filesystem::exists(folder.Path("zhang.ort")));

  EXPECT_EQ(ScratchFolder::Read(folder.Path("images-link.txt")), "old\n");
  // images.txt: the two computed poses, each with its (empty) points line.
  std::istringstream images(ScratchFolder::Read(folder.Path("images.txt")));
  std::vector<std::string> data;
  for (std::string line; std::getline(images, line);)
    if (line.empty() || line[0] != '#') data.push_back(line);
  ASSERT_EQ(data.size(), 4u);
  for (int i = 0; i < 2; ++i) {
    std::istringstream fields(data[2 * i]);
    int id = 0, camera = 0;
    double q[4], t[3];
    std::string name;
    fields >> id >> q[0] >> q[1] >> q[2] >> q[3] >> t[0] >> t[1] >> t[2] >> camera >> name;
    ASSERT_FALSE(fields.fail()) << data[2 * i];
    EXPECT_EQ(id, i + 1);
    EXPECT_EQ(camera, 1);
    EXPECT_EQ(name, lines[i]["image"]);
    EXPECT_EQ(q[0], lines[i]["pose"]["colmap"]["qw"].get<double>());
    EXPECT_EQ(t[2], lines[i]["pose"]["colmap"]["tz"].get<double>());
    EXPECT_EQ(data[2 * i + 1], "");
  }
}

TEST(BatchCommandTest, OneCameraAndSceneForManyImagesAndTheUsageErrors) {
  const std::string zhang = kExamples + "/zhang/";
  const std::string image = Quote(zhang + "image-raw.crd");
  const CliRun run =
      RunCli("batch --level 1 --camera " + Quote(zhang + "cameras.txt") +
             " --camera-id 1 --scene " + Quote(zhang + "scene.crd") + " " + image + " " + image);
  EXPECT_EQ(run.exitCode, 0) << run.err;
  const std::vector<nlohmann::json> lines = JsonLines(run.out);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0]["level"], "normal");
  EXPECT_EQ(lines[0]["pose"], lines[1]["pose"]);

  ScratchFolder folder;
  const std::string bad = folder.Write("bad.csv", "a.cam,b.crd\n");
  for (const std::string& arguments :
       {std::string("batch"), "batch --manifest " + Quote(bad),
        std::string("batch --camera c.cam i.crd"),
        std::string("batch --jobs 0 --camera c --scene s i"),
        std::string("batch --level 2 --camera c --scene s i"),
        "batch --camera c --scene s --out-dir " + Quote(folder.Path("out")) + " a/p.crd b/p.crd",
        "batch --camera " + Quote(zhang + "cameras.txt") + " --scene s --colmap-images " +
            Quote(zhang + "cameras.txt") + " i"}) {
    const CliRun usage = RunCli(arguments);
    EXPECT_EQ(usage.exitCode, 2) << arguments;
    EXPECT_EQ(usage.out, "") << arguments;
    EXPECT_EQ(usage.err.rfind("zelv-cli batch: ", 0), 0u) << usage.err;
  }
}

}  // namespace
}  // namespace zelv
