// zelv-cli orient --report and batch --report-dir: the report of the real photograph holds what
// the JSON of the same orientation holds, to the digits it shows, refers to nothing outside
// itself, and a report that cannot be written is a failure that leaves the old file alone.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli_runner.h"
#include "non_finite_text.h"

namespace zelv::testing {
namespace {

const std::string kZhang = std::string(ZELV_EXAMPLES_DIR) + "/zhang/";

std::string ZhangInputs() {
  return Quote(kZhang + "calibration.yml") + " " + Quote(kZhang + "image-raw.crd") + " " +
         Quote(kZhang + "scene.crd");
}

// The rows of the first table after `heading`, each as the texts of its <td> cells.
std::vector<std::vector<std::string>> TableAfter(const std::string& html,
                                                 const std::string& heading) {
  std::vector<std::vector<std::string>> rows;
  const std::size_t start = html.find(heading);
  if (start == std::string::npos) return rows;
  const std::size_t end = html.find("</table>", start);
  const std::string table = html.substr(start, end - start);
  // The text between the end of each opening `tag` ("<tr", "<td") and its closing tag.
  const auto inner = [](const std::string& text, const std::string& tag) {
    std::vector<std::string> found;
    const std::string close = "</" + tag.substr(1) + ">";
    for (std::size_t at = text.find(tag); at != std::string::npos; at = text.find(tag, at)) {
      const std::size_t open = text.find('>', at);
      const std::size_t closed = text.find(close, open);
      if (open == std::string::npos || closed == std::string::npos) break;
      found.push_back(text.substr(open + 1, closed - open - 1));
      at = closed + close.size();
    }
    return found;
  };
  for (const std::string& row : inner(table, "<tr")) {
    const std::vector<std::string> cells = inner(row, "<td");
    if (!cells.empty()) rows.push_back(cells);
  }
  return rows;
}

// `shown` is `value` to the digits it shows (half a unit of its last digit).
::testing::AssertionResult ShowsValue(const std::string& shown, double value) {
  const std::size_t point = shown.find('.');
  const int decimals = point == std::string::npos ? 0 : static_cast<int>(shown.size() - point - 1);
  char* end = nullptr;
  const double number = std::strtod(shown.c_str(), &end);
  if (end == shown.c_str() || *end != '\0')
    return ::testing::AssertionFailure() << "\"" << shown << "\" is no number";
  if (std::fabs(number - value) <= 0.5000001 * std::pow(10.0, -decimals))
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "\"" << shown << "\" does not show " << value;
}

// The JSON's 21 values in the order of the report's table.
std::vector<double> JsonValues(const nlohmann::json& json, const char* member = nullptr) {
  const nlohmann::json& from = member ? json.at(member) : json;
  std::vector<double> values;
  for (const char* key : {"projection_centre", "sighting_point", "distance",
                          "photogrammetric_angles_deg", "stand_angles_deg", "direction_cosines"}) {
    const nlohmann::json& v = from.at(key);
    if (v.is_array())
      for (const nlohmann::json& x : v) values.push_back(x.get<double>());
    else
      values.push_back(v.get<double>());
  }
  return values;
}

TEST(ReportCommandTest, TheRealPhotographsReportHoldsTheJsonsValuesAndNothingElseFromOutside) {
  ScratchFolder folder;
  const std::string report = folder.Path("zhang.html");
  const CliRun run =
      RunOrient(ZhangInputs() + " --level 4 --json --residuals --report " + Quote(report));
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const nlohmann::json json = nlohmann::json::parse(run.out);
  const std::string html = ScratchFolder::Read(report);

  // The 21 values, their σ and 95 % intervals.
  const std::vector<std::vector<std::string>> values = TableAfter(html, "<h2>Результат</h2>");
  const std::vector<double> expected = JsonValues(json), sigma = JsonValues(json, "sigma");
  ASSERT_EQ(values.size(), 21u);
  const double t = 1.96;  // Student's t of 506 redundant measurements, to the digits it matters
  for (std::size_t i = 0; i < 21; ++i) {
    ASSERT_EQ(values[i].size(), 5u);
    EXPECT_TRUE(ShowsValue(values[i][2], expected[i])) << "value " << i;
    EXPECT_TRUE(ShowsValue(values[i][3], sigma[i])) << "σ " << i;
    const std::size_t dots = values[i][4].find(" … ");
    ASSERT_NE(dots, std::string::npos) << values[i][4];
    EXPECT_NEAR(std::strtod(values[i][4].c_str(), nullptr), expected[i] - t * sigma[i],
                0.01 * sigma[i] + 0.00005);
    EXPECT_NEAR(std::strtod(values[i][4].c_str() + dots + 5, nullptr), expected[i] + t * sigma[i],
                0.01 * sigma[i] + 0.00005);
  }
  // Every residual of the JSON, in the sortable table.
  const std::vector<std::vector<std::string>> residuals =
      TableAfter(html, "<table class=\"sortable\">");
  const nlohmann::json& points = json.at("residuals");
  ASSERT_EQ(residuals.size(), points.size());
  for (std::size_t i = 0; i < points.size(); ++i) {
    const nlohmann::json& p = points[i];
    const std::vector<std::string>& row = residuals[i];
    ASSERT_EQ(row.size(), 9u);
    EXPECT_EQ(row[0], std::to_string(p.at("number").get<int>()));
    int column = 1;
    for (const char* key : {"x", "y", "X", "Y", "ex", "ey", "length"})
      EXPECT_TRUE(ShowsValue(row[column++], p.at(key).get<double>())) << "point " << i << key;
    EXPECT_EQ(row[8], p.at("flagged").get<bool>() ? "!" : "");
  }
  EXPECT_NE(html.find("σ0 = 0.25 пикс."), std::string::npos);
  EXPECT_TRUE(ShowsValue("832.5000", json.at("focal_length").at("value").get<double>()));
  EXPECT_NE(html.find("832.5000 (задано)"), std::string::npos);

  // Each input with its size and SHA-256 (sha256sum of examples/zhang/scene.crd).
  EXPECT_NE(html.find("<td>4576</td><td class=\"t hash\">"
                      "576e5b02aeca01bce8917de3ba7258c19779e895bd68a6896a257ce062583419</td>"),
            std::string::npos);

  // Nothing from outside, nothing that is no number.
  for (const char* outside : {"http:", "https:", "src=", "url(", "@import", "<link", "file:"})
    EXPECT_EQ(html.find(outside), std::string::npos) << outside;
  EXPECT_EQ(test::NonFiniteWord(html), "");
  // Three figures, inline.
  int figures = 0;
  for (std::size_t at = html.find("<svg "); at != std::string::npos;
       at = html.find("<svg ", at + 1))
    ++figures;
  EXPECT_EQ(figures, 3);
}

TEST(ReportCommandTest, TheSpatialScenesReportListsItsCheckPointsAndTheKnownValuesAsTheJson) {
  const std::string space = std::string(ZELV_EXAMPLES_DIR) + "/space/";
  ScratchFolder folder;
  const std::string report = folder.Path("space.html");
  const CliRun run = RunOrient(Quote(space + "camera.cam") + " " + Quote(space + "image.csv") +
                               " " + Quote(space + "scene.csv") +
                               " --level 4 --json --decimal-separator . --known z=5:0.01 "
                               "--known f=1500 --report " +
                               Quote(report));
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const nlohmann::json json = nlohmann::json::parse(run.out);
  const std::string html = ScratchFolder::Read(report);
  const nlohmann::json& checks = json.at("check_points");

  // Each check point with its image residual and its miss in the scene, as the JSON has them.
  const std::vector<std::vector<std::string>> rows = TableAfter(html, "<h2>Контрольные точки</h2>");
  const nlohmann::json& points = checks.at("points");
  ASSERT_EQ(rows.size(), points.size());
  ASSERT_EQ(rows.size(), 4u);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    ASSERT_EQ(rows[i].size(), 7u);
    EXPECT_EQ(rows[i][0], points[i].at("id").get<std::string>());
    const nlohmann::json& e = points[i].at("image_residual");
    const nlohmann::json& d = points[i].at("scene_miss");
    EXPECT_TRUE(ShowsValue(rows[i][1], e[0].get<double>())) << i;
    EXPECT_TRUE(ShowsValue(rows[i][2], e[1].get<double>())) << i;
    EXPECT_TRUE(ShowsValue(rows[i][4], d[0].get<double>())) << i;
    EXPECT_TRUE(ShowsValue(rows[i][5], d[1].get<double>())) << i;
  }
  // The two RMSE a surveyor signs, under the table, to the digits shown.
  const std::string rmseRow = "<tr class=\"rmse\"><th>СКП</th><th></th><th></th><th>";
  const std::size_t rmseAt = html.find(rmseRow);
  ASSERT_NE(rmseAt, std::string::npos);
  const std::string rmseEnd =
      html.substr(rmseAt + rmseRow.size(), html.find("</tr>", rmseAt) - rmseAt - rmseRow.size());
  // "<image RMSE></th><th></th><th></th><th><scene RMSE></th>"
  const std::string between = "</th><th></th><th></th><th>";
  const std::size_t split = rmseEnd.find(between);
  ASSERT_NE(split, std::string::npos) << rmseEnd;
  const std::string rmse[3] = {
      "", rmseEnd.substr(0, split),
      rmseEnd.substr(split + between.size(),
                     rmseEnd.size() - split - between.size() - std::string("</th>").size())};
  EXPECT_TRUE(ShowsValue(rmse[1], checks.at("image_rmse").get<double>()));
  EXPECT_TRUE(ShowsValue(rmse[2], checks.at("scene_rmse").get<double>()));
  EXPECT_GT(checks.at("image_rmse").get<double>(), 0);
  EXPECT_GT(checks.at("scene_rmse").get<double>(), 0);
  // Marked as such over the frame, out of the control points' count.
  EXPECT_NE(html.find("лиловыми квадратами — контрольные точки"), std::string::npos);
  EXPECT_NE(html.find("<td>Опорных / контрольных точек</td><td>14 / 4</td>"), std::string::npos);

  // The known values the adjustment used, and what the sighting point of a scene in space is.
  EXPECT_NE(html.find("<td>Известные значения</td><td class=\"t\">Z0 = 5.0000 ± 0.0100 ед. сцены; "
                      "F = 1500.0000 пикс. (закреплено)</td>"),
            std::string::npos);
  EXPECT_NE(html.find("Сцена пространственная"), std::string::npos);
  EXPECT_NE(html.find("пересечение оптической оси с плоскостью Z = 0"), std::string::npos);
  EXPECT_EQ(test::NonFiniteWord(html), "");
}

TEST(ReportCommandTest, AReportThatCannotBeWrittenFailsAndLeavesTheOldFileAlone) {
  ScratchFolder folder;
  // A folder where the report should go: nothing can replace it.
  const std::string taken = folder.Path("taken.html");
  std::filesystem::create_directory(taken);
  const CliRun blocked = RunOrient(ZhangInputs() + " --report " + Quote(taken));
  EXPECT_EQ(blocked.exitCode, 1);
  EXPECT_NE(blocked.err.find("Ошибка записи отчёта!"), std::string::npos) << blocked.err;
  EXPECT_TRUE(std::filesystem::is_directory(taken));

  // A run that fails computes nothing and writes no report over the old one.
  const std::string old = folder.Path("old.html");
  { std::ofstream(old) << "old report"; }
  const CliRun failed =
      RunOrient(Quote(kZhang + "calibration.yml") + " " + Quote(kZhang + "image-raw.crd") + " " +
                Quote(folder.Path("missing.crd")) + " --report " + Quote(old));
  EXPECT_EQ(failed.exitCode, 1);
  EXPECT_EQ(ScratchFolder::Read(old), "old report");

  // A name that is no report, and a report over an input, are usage errors before anything runs.
  EXPECT_EQ(RunOrient(ZhangInputs() + " --report " + Quote(folder.Path("r.txt"))).exitCode, 2);
  EXPECT_EQ(RunOrient(ZhangInputs() + " --report " + Quote(kZhang + "scene.crd")).exitCode, 2);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.Folder()),
                          std::filesystem::directory_iterator()),
            2);  // taken.html and old.html: no temporary file left behind
}

TEST(ReportCommandTest, ABatchWritesOneReportPerPhotographItComputed) {
  ScratchFolder folder;
  std::filesystem::copy_file(kZhang + "image-raw.crd", folder.Path("second.crd"));
  const std::string reports = folder.Path("reports");
  const CliRun run = RunCli("batch --camera " + Quote(kZhang + "calibration.yml") + " --scene " +
                            Quote(kZhang + "scene.crd") + " " + Quote(kZhang + "image-raw.crd") +
                            " " + Quote(folder.Path("second.crd")) + " " +
                            Quote(folder.Path("missing.crd")) + " --report-dir " + Quote(reports));
  EXPECT_EQ(run.exitCode, 1);  // the missing photograph failed
  EXPECT_NE(run.out.find("\"report\": \"" + reports + "/second.html\""), std::string::npos);
  for (const char* name : {"image-raw.html", "second.html"})
    EXPECT_EQ(ScratchFolder::Read(reports + "/" + name).rfind("<!DOCTYPE html>", 0), 0u) << name;
  EXPECT_FALSE(std::filesystem::exists(reports + "/missing.html"));
}

}  // namespace
}  // namespace zelv::testing
