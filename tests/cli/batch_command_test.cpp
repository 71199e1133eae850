// zelv-cli batch: one JSON line per orientation in input order, the failing ones as errors, the
// result files and the COLMAP images.txt, run as a real process.
#include <gtest/gtest.h>
#include <sys/stat.h>

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

TEST(BatchCommandTest, TheManifestIsReadThroughTheGuardedOpenAndSplitAsPointTablesAre) {
  ScratchFolder folder;
  // The survey's camera file named literally "camera", and an image whose name holds a comma.
  for (const char* file : {"table.txt", "scene.crd"})
    folder.Write(std::string("survey/") + file, ScratchFolder::Read(kExamples + "/survey/" + file));
  folder.Write("survey/camera", ScratchFolder::Read(kExamples + "/survey/camera.cam"));
  folder.Write("survey/image, one.crd", ScratchFolder::Read(kExamples + "/survey/image.crd"));
  const std::string row = "survey/camera, \"survey/image, one.crd\" ,survey/scene.crd\n";
  // A byte-order mark before the first row, that row no header although its camera is "camera";
  // and a header in other letters before the same row.
  for (const std::string& text : {"\xEF\xBB\xBF" + row, "Camera,IMAGE,scene\r\n" + row}) {
    SCOPED_TRACE(text);
    const CliRun run =
        RunCli("batch --level 1 --manifest " + Quote(folder.Write("manifest.csv", text)));
    EXPECT_EQ(run.exitCode, 0) << run.err;
    const std::vector<nlohmann::json> lines = JsonLines(run.out);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0]["camera"], "survey/camera");
    EXPECT_EQ(lines[0]["image"], "survey/image, one.crd");
    EXPECT_FALSE(lines[0].contains("error")) << lines[0].dump();
  }
  // A FIFO no program writes and a device are refused at once; a quote left open names its line.
  ASSERT_EQ(mkfifo(folder.Path("fifo.csv").c_str(), 0600), 0);
  const struct {
    std::string manifest;
    std::string message;
  } refused[] = {
      {folder.Path("fifo.csv"), "it is not a regular file"},
      {"/dev/zero", "it is not a regular file"},
      {folder.Write("open.csv", "# rows\n" + row + "survey/camera,\"survey/image.crd,s.crd\n"),
       "line 3 of the manifest has a quote left open"},
      {folder.Write("after.csv", "survey/camera,\"survey/image\".crd,s.crd\n"),
       "line 1 of the manifest has text after a closing quote"},
  };
  for (const auto& r : refused) {
    const CliRun run = RunCli("batch --manifest " + Quote(r.manifest));
    EXPECT_EQ(run.exitCode, 2) << r.manifest;
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find(r.message), std::string::npos) << run.err;
  }
}

TEST(BatchCommandTest, AnImageNameCOLMAPCannotReadBackIsRefusedBeforeAnythingIsWritten) {
  ScratchFolder folder;
  const std::string zhang = kExamples + "/zhang/";
  const std::string raw = ScratchFolder::Read(zhang + "image-raw.crd");
  const std::string images = folder.Path("images.txt");
  for (const std::string& name : {std::string("photo one.crd"), std::string("photo\none.crd")}) {
    SCOPED_TRACE(name);
    const CliRun run =
        RunCli("batch --camera " + Quote(zhang + "cameras.txt") + " --scene " +
               Quote(zhang + "scene.crd") + " --out-dir " + Quote(folder.Path("out")) +
               " --colmap-images " + Quote(images) + " " + Quote(folder.Write(name, raw)));
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err.rfind("zelv-cli batch: --colmap-images: the image name ", 0), 0u) << run.err;
    EXPECT_NE(run.err.find(name == "photo one.crd" ? "photo one.crd\" has a blank"
                                                   : "photo\\none.crd\" has a line break"),
              std::string::npos)
        << run.err;
    EXPECT_FALSE(std::filesystem::exists(images));
    EXPECT_FALSE(std::filesystem::exists(folder.Path("out")));
  }
}

TEST(BatchCommandTest, KnownValuesApplyToEveryOrientation) {
  const std::string zhang = kExamples + "/zhang/";
  const std::string image = Quote(zhang + "image-raw.crd");
  const std::string inputs = " --camera " + Quote(zhang + "cameras.txt") +
                             " --camera-id 1 --scene " + Quote(zhang + "scene.crd") + " " + image +
                             " " + image;
  const CliRun run = RunCli("batch --level 4 --known f=550" + inputs);
  EXPECT_EQ(run.exitCode, 0) << run.err;
  const std::vector<nlohmann::json> lines = JsonLines(run.out);
  ASSERT_EQ(lines.size(), 2u);
  for (const nlohmann::json& line : lines) EXPECT_EQ(line["focal_length"]["value"], 550.0);
  // Below the rigorous level each job is refused with the message; a bad value is a usage error.
  const CliRun low = RunCli("batch --level 1 --known roll=0" + inputs);
  EXPECT_EQ(low.exitCode, 1);
  EXPECT_NE(low.out.find("выберите строгий уровень оценки (4)"), std::string::npos) << low.out;
  const CliRun bad = RunCli("batch --level 4 --known roll=x" + inputs);
  EXPECT_EQ(bad.exitCode, 2);
  EXPECT_EQ(bad.err.rfind("zelv-cli batch: --known", 0), 0u) << bad.err;
}

}  // namespace
}  // namespace zelv
