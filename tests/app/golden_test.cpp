// The worked orientation cases end to end: every value of the expected result files and every
// line of the expected refinement logs, at each estimate level given.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/orientation_session.h"
#include "app/result_file.h"
#include "fake_ui.h"
#include "files/text_file.h"
#include "orientation_shims.h"
#include "scratch_folder.h"

namespace zelv {
namespace {

namespace fs = std::filesystem;

// "-0.0000" and "0.0000" are the same four-decimal value.
std::string NormalisedValue(std::string v) {
  while (!v.empty() && v.front() == ' ') v.erase(v.begin());
  while (!v.empty() && v.back() == ' ') v.pop_back();
  if (v == "-0.0000") v = "0.0000";
  return v;
}

// A line with its " ; "- or "  ;  "-separated values normalised.
std::string NormalisedLine(const std::string& line) {
  std::string out;
  std::string field;
  std::istringstream in(line);
  bool first = true;
  while (std::getline(in, field, ';')) {
    if (!first) out += ";";
    out += NormalisedValue(field);
    first = false;
  }
  return out;
}

struct GoldenCase {
  std::string folder;  // relative to the test data
  int level;
};

std::vector<GoldenCase> AllCases() {
  std::vector<GoldenCase> cases;
  const fs::path root = ZELV_TEST_DATA_DIR;
  for (const char* group : {"golden", "realdata/zhang"}) {
    std::vector<fs::path> folders;
    for (const auto& entry : fs::directory_iterator(root / group))
      if (entry.is_directory()) folders.push_back(entry.path());
    std::sort(folders.begin(), folders.end());
    for (const fs::path& folder : folders)
      for (int level : {0, 1, 3})
        if (fs::exists(folder / ("expected-level" + std::to_string(level) + ".ort")))
          cases.push_back({fs::relative(folder, root).string(), level});
  }
  return cases;
}

class GoldenOrientation : public ::testing::TestWithParam<GoldenCase> {};

TEST_P(GoldenOrientation, ReproducesTheResultFileAndTheLog) {
  const GoldenCase& c = GetParam();
  const fs::path folder = fs::path(ZELV_TEST_DATA_DIR) / c.folder;
  const fs::path expectedLog = folder / ("expected-level" + std::to_string(c.level) + ".log");
  testing::ScratchFolder scratch;
  const fs::path work = scratch.Folder();

  OrientationRun state;
  state.CameraFileName = (folder / "camera.cam").string();
  state.ImageFileName = (folder / "image.crd").string();
  state.SceneFileName = (folder / "scene.crd").string();
  state.StartDirectory = work.string();
  state.DecimalSeparator = '.';
  state.Settings.EstimateLevel = c.level;
  state.Settings.KeepLog = fs::exists(expectedLog);
  testing::FakeUi ui;

  ASSERT_TRUE(RunOrientation(state, ui));
  for (const auto& m : ui.messages) EXPECT_EQ(m.caption, "Предупреждение!") << m.text;

  const fs::path ort = work / "result.ort";
  ASSERT_TRUE(WriteResultFile(ort.string(), OrientationOf(state)));
  const auto expected =
      LoadTextLines((folder / ("expected-level" + std::to_string(c.level) + ".ort")).string());
  const auto actual = LoadTextLines(ort.string());
  ASSERT_EQ(actual.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i)
    EXPECT_EQ(NormalisedLine(actual[i]), NormalisedLine(expected[i])) << "line " << i + 1;

  if (state.Settings.KeepLog) {
    const auto expectedLines = LoadTextLines(expectedLog.string());
    const auto logLines = LoadTextLines((work / "ZELV1.log").string());
    ASSERT_EQ(logLines.size(), expectedLines.size());
    for (std::size_t i = 0; i + 1 < expectedLines.size(); ++i)
      ASSERT_EQ(NormalisedLine(logLines[i]), NormalisedLine(expectedLines[i])) << "line " << i + 1;
    EXPECT_EQ(expectedLines.back(), "Время счета: ");
    EXPECT_EQ(logLines.back().rfind("Время счета: ", 0), 0u) << logLines.back();
  }
}

// The three numbers of "projection_centre": [x, y, z] in a truth.json.
std::vector<double> TruthCentre(const fs::path& file) {
  std::ifstream in(file);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::size_t at = text.find("\"projection_centre\"");
  at = text.find('[', at);
  std::vector<double> centre;
  char* end = nullptr;
  const char* p = text.c_str() + at + 1;
  for (int i = 0; i < 3; ++i) {
    centre.push_back(std::strtod(p, &end));
    p = end;
    while (*p == ',' || std::isspace(static_cast<unsigned char>(*p))) ++p;
  }
  return centre;
}

TEST(RealDataTest, LevelOneIsWithinTwoHundredthsOfAnInchOfThePublishedCentre) {
  const fs::path root = fs::path(ZELV_TEST_DATA_DIR) / "realdata/zhang";
  for (int photo = 1; photo <= 5; ++photo) {
    const fs::path folder = root / ("image" + std::to_string(photo));
    OrientationRun state;
    state.CameraFileName = (folder / "camera.cam").string();
    state.ImageFileName = (folder / "image.crd").string();
    state.SceneFileName = (folder / "scene.crd").string();
    state.Settings.EstimateLevel = 1;
    testing::FakeUi ui;
    ASSERT_TRUE(RunOrientation(state, ui)) << photo;
    const std::vector<double> truth = TruthCentre(folder / "truth.json");
    const double dx = state.ProjectionCentre.x - truth[0];
    const double dy = state.ProjectionCentre.y - truth[1];
    const double dz = state.ProjectionCentre.z - truth[2];
    EXPECT_LT(std::sqrt(dx * dx + dy * dy + dz * dz), 0.02) << "photograph " << photo;
  }
}

std::string CaseName(const ::testing::TestParamInfo<GoldenCase>& info) {
  std::string name = info.param.folder + "_level" + std::to_string(info.param.level);
  for (char& ch : name)
    if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
  return name;
}

INSTANTIATE_TEST_SUITE_P(WorkedCases, GoldenOrientation, ::testing::ValuesIn(AllCases()), CaseName);

}  // namespace
}  // namespace zelv
