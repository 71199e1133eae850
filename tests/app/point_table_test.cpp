// Point tables with identifiers: telling them from ".crd" files, reading them, and the orientation
// pairing their points by identifier.
#include "files/point_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <memory>
#include <random>

#include "app/orientation_residuals.h"
#include "app/orientation_session.h"
#include "fake_ui.h"
#include "files/coordinate_file.h"
#include "files/text_file.h"
#include "orientation_shims.h"
#include "scratch_folder.h"

namespace zelv {
namespace {

using testing::FakeUi;
using testing::ScratchFolder;

TEST(PointTableTest, ReadsCsvWithHeadingQuotesAndCommentsAndBlankSeparatedTables) {
  const PointTable csv = ParsePointTable(
      "# survey 2026\r\nName,X,Y\r\n\"P 1\",\"1,5\",2.25\r\n\r\n\"say \"\"hi\"\"\", -3, 4e2\r\n",
      "/data/scene.csv");
  EXPECT_EQ(csv.ids, (std::vector<std::string>{"P 1", "say \"hi\""}));
  ASSERT_EQ(csv.points.size(), 2u);
  EXPECT_EQ(csv.points[0].x, 1.5);
  EXPECT_EQ(csv.points[0].y, 2.25);
  EXPECT_EQ(csv.points[1].x, -3);
  EXPECT_EQ(csv.points[1].y, 400);
  EXPECT_EQ(csv.lines, (std::vector<int>{3, 5}));

  // Blanks, no heading: two values are x and y (decimal commas), three are id, x and y; a heading
  // may put the columns in any order.
  const PointTable xy = ParsePointTable("  1,5   2,5\n\t-7 8\n", "a.txt");
  EXPECT_TRUE(xy.ids.empty());
  ASSERT_EQ(xy.points.size(), 2u);
  EXPECT_EQ(xy.points[0].x, 1.5);
  EXPECT_EQ(xy.points[1].y, 8);
  const PointTable tabs = ParsePointTable("y\tx\tid\n2\t1\t12\n", "a.tsv");
  EXPECT_EQ(tabs.ids, (std::vector<std::string>{"12"}));
  EXPECT_EQ(tabs.points[0].x, 1);
  EXPECT_EQ(tabs.points[0].y, 2);
}

TEST(PointTableTest, RefusalsNameTheFileAndTheLine) {
  const auto message = [](const std::string& text) {
    try {
      ParsePointTable(text, "/data/scene.csv");
    } catch (const PointTableError& error) {
      return std::string(error.what());
    }
    return std::string("no error");
  };
  EXPECT_EQ(message("id;x;y\n12;1;2\n# moved\n5;3;4\n\n12;5;6\n"),
            "Повторяющийся номер точки «12» в строке 6 файла scene.csv: номера точек должны "
            "быть разными.");
  EXPECT_NE(message("1,2,3\n4,5\n").find("в строке 2 файла scene.csv"), std::string::npos);
  EXPECT_NE(message("1;2;inf\n").find("«inf» в строке 1"), std::string::npos);
  EXPECT_NE(message("1;2;1e999\n").find("«1e999»"), std::string::npos);
  EXPECT_NE(message("a;b;c\n").find("Заголовок в строке 1"), std::string::npos);
  EXPECT_NE(message("\"1;2;3\n").find("Незакрытая кавычка в строке 1"), std::string::npos);
}

TEST(PointTableTest, OnlyTablesLeaveTheCrdReader) {
  // Every first line a ".crd" file reads, an empty file and a failing first line that shows no
  // table stay with the ".crd" reader; a table name or a table's first line does not.
  EXPECT_FALSE(IsPointTable("a.crd", ""));
  EXPECT_FALSE(IsPointTable("a.crd", "12.5;7\r\nid;x;y\r\n"));
  EXPECT_FALSE(IsPointTable("a.crd", " 1,5 ; 2 \r\n"));
  EXPECT_FALSE(IsPointTable("a.crd", "\r\n1;2\r\n"));
  EXPECT_FALSE(IsPointTable("a.crd", "1 2\r\n"));
  EXPECT_TRUE(IsPointTable("a.CSV", "1;2\r\n"));
  EXPECT_TRUE(IsPointTable("a.crd", "# points\r\n1;2\r\n"));
  EXPECT_TRUE(IsPointTable("a.crd", "x;y\r\n1;2\r\n"));
  EXPECT_TRUE(IsPointTable("a.crd", "7;1;2\r\n"));

  // Through the readers: a ".crd" file as before, with its own message at a bad line, and a
  // table's message naming the line.
  ScratchFolder folder;
  FakeUi ui;
  VT_Points points(1);
  std::vector<std::string> ids{"stale"};
  ASSERT_TRUE(
      Shown(ui, ReadScenePoints(folder.Write("s.crd", "1 ; 2\r\n3,5;4\r\n"), points, &ids)));
  EXPECT_EQ(points.Count(), 2);
  EXPECT_EQ(points.Get(1)->x, 3.5);
  EXPECT_TRUE(ids.empty());
  EXPECT_FALSE(Shown(ui, ReadScenePoints(folder.Write("b.crd", "1 ; 2\r\n# no\r\n"), points)));
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text, "Ошибка чтения файла сцены!");
  EXPECT_FALSE(Shown(ui, ReadScenePoints(folder.Write("b.csv", "a,1,2\nb,1\n"), points)));
  ASSERT_EQ(ui.messages.size(), 2u);
  EXPECT_EQ(ui.messages[1].text.rfind("Ошибка чтения файла сцены!\n", 0), 0u);
  EXPECT_NE(ui.messages[1].text.find("в строке 2 файла b.csv"), std::string::npos);
}

TEST(PointIdLessTest, NumbersByValueBeforeOtherIdentifiers) {
  std::vector<std::string> ids = {"B", "10", "A2", "9", "007", "7", "A10"};
  std::sort(ids.begin(), ids.end(), PointIdLess);
  EXPECT_EQ(ids, (std::vector<std::string>{"007", "7", "9", "10", "A10", "A2", "B"}));
}

// The lines of a ".crd" file as "id ; x ; y" table lines, the k-th point (from 0) named 5·(k+1),
// in the order of `order`; tab-separated with a heading, or CSV without.
std::string TableOf(const std::string& crd, const std::vector<int>& order, bool csv) {
  const std::vector<std::string> lines = LoadTextLines(crd);
  std::string text = csv ? "" : "# shuffled\r\nid\tx\ty\r\n";
  for (int k : order) {
    const SplitLine split = SplitAtFirstSemicolon(lines[static_cast<std::size_t>(k)]);
    text += std::to_string(5 * (k + 1)) + (csv ? "," : "\t") + split.first + (csv ? "," : "\t") +
            split.rest + "\r\n";
  }
  return text;
}

std::vector<std::uint64_t> BitsOf(const OrientationRun& state) {
  std::vector<std::uint64_t> bits;
  for (double v : state.Values.values) bits.push_back(std::bit_cast<std::uint64_t>(v));
  return bits;
}

TEST(PointPairingTest, ShuffledTablesGiveTheCrdFilesResultsToTheLastBit) {
  // The identifiers 5, 10, … 45 sort by value in the ".crd" files' order (as text "10" would
  // come before "5").
  const std::string golden = std::string(ZELV_TEST_DATA_DIR) + "/golden/synthetic3/";
  const int count = static_cast<int>(LoadTextLines(golden + "image.crd").size());
  ASSERT_GE(count, 9);
  std::vector<int> imageOrder(static_cast<std::size_t>(count));
  for (int k = 0; k < count; ++k) imageOrder[static_cast<std::size_t>(k)] = k;
  std::vector<int> sceneOrder = imageOrder;
  std::mt19937 random(7);
  std::shuffle(imageOrder.begin(), imageOrder.end(), random);
  std::shuffle(sceneOrder.begin(), sceneOrder.end(), random);
  ScratchFolder folder;
  const std::string image = folder.Write("image.txt", TableOf(golden + "image.crd", imageOrder, 0));
  const std::string scene = folder.Write("scene.csv", TableOf(golden + "scene.crd", sceneOrder, 1));

  for (int level : {0, 1}) {
    const auto run = [&](const std::string& imageFile, const std::string& sceneFile) {
      auto state = std::make_unique<OrientationRun>();
      state->CameraFileName = golden + "camera.cam";
      state->ImageFileName = imageFile;
      state->SceneFileName = sceneFile;
      state->StartDirectory = folder.Folder().string();
      state->DecimalSeparator = '.';
      state->Settings.EstimateLevel = level;
      FakeUi ui;
      EXPECT_TRUE(RunOrientation(*state, ui));
      return state;
    };
    const std::unique_ptr<OrientationRun> crdState =
        run(golden + "image.crd", golden + "scene.crd");
    const std::unique_ptr<OrientationRun> tableState = run(image, scene);
    const OrientationRun& crd = *crdState;
    const OrientationRun& table = *tableState;
    EXPECT_EQ(BitsOf(table), BitsOf(crd)) << "level " << level;
    EXPECT_TRUE(crd.PointIds.empty());
    ASSERT_EQ(table.PointIds.size(), static_cast<std::size_t>(count));
    EXPECT_EQ(table.PointIds[0], "5");
    EXPECT_EQ(table.PointIds[1], "10");
    // The residuals carry the identifiers; the cost is that of the ".crd" files.
    const Residuals residuals = ResidualsOf(table);
    EXPECT_EQ(residuals.points[1].id, "10");
    EXPECT_EQ(ResidualCell(residuals.points[1], 0, '.'), "10");
    EXPECT_EQ(residuals.summary.cost, ResidualsOf(crd).summary.cost);
  }
}

TEST(PointPairingTest, PointsOfOneFileOnlyAreLeftOutWithAWarningNamingThem) {
  ScratchFolder folder;
  const std::string golden = std::string(ZELV_TEST_DATA_DIR) + "/golden/synthetic3/";
  const int count = static_cast<int>(LoadTextLines(golden + "image.crd").size());
  std::vector<int> all(static_cast<std::size_t>(count));
  for (int k = 0; k < count; ++k) all[static_cast<std::size_t>(k)] = k;
  std::vector<int> withoutThird = all;
  withoutThird.erase(withoutThird.begin() + 2);
  OrientationRun state;
  state.CameraFileName = golden + "camera.cam";
  state.ImageFileName = folder.Write("image.csv", TableOf(golden + "image.crd", all, 1));
  state.SceneFileName = folder.Write("scene.csv", TableOf(golden + "scene.crd", withoutThird, 1));
  state.StartDirectory = folder.Folder().string();
  state.Settings.EstimateLevel = 0;
  FakeUi ui;
  ASSERT_TRUE(RunOrientation(state, ui));
  ASSERT_FALSE(state.Warnings.empty());
  EXPECT_EQ(state.Warnings[0].text,
            "Точки «15» нет в файле сцены, она не вошла в расчёт. Если это одна и та же точка, "
            "дайте ей в обоих файлах один номер.");
  EXPECT_EQ(state.ImagePoints.Count(), count - 1);
  EXPECT_EQ(state.ScenePoints.Count(), count - 1);
  EXPECT_EQ(state.PointIds[2], "20");
}

}  // namespace
}  // namespace zelv
