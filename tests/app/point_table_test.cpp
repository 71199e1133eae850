// Point tables with identifiers: telling them from ".crd" files, reading them, and the orientation
// pairing their points by identifier.
#include "files/point_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <map>
#include <memory>
#include <random>

#include "app/orientation_residuals.h"
#include "app/orientation_session.h"
#include "app/point_pairing.h"
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
  EXPECT_EQ(ui.messages[0].text,
            "Ошибка чтения файла сцены!\nВ строке 2 файла b.crd нет «;» между x и y: «# no».");
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

TEST(PointTableTest, PlainAndQuotedLinesReadAlikeAndADuplicateIsFoundAmongMany) {
  // Plain lines are split in place, quoted ones field by field: both give the same points.
  std::string plain = "id;x;y\n";
  std::string quoted = "id;x;y\n";
  for (int i = 0; i < 100000; ++i) {
    std::string id = i % 3 == 0 ? "P" : "";
    id += std::to_string(i * 7);
    const std::string x = std::to_string(i) + ".25";
    plain += id + " ; " + x + ";-" + std::to_string(i) + "\n";
    quoted += "\"" + id + "\";\"" + x + "\"; -" + std::to_string(i) + "\n";
  }
  const PointTable a = ParsePointTable(plain, "a.csv");
  const PointTable b = ParsePointTable(quoted, "b.csv");
  ASSERT_EQ(a.points.size(), 100000u);
  EXPECT_EQ(a.ids, b.ids);
  EXPECT_EQ(a.lines, b.lines);
  for (std::size_t i = 0; i < a.points.size(); ++i) {
    EXPECT_EQ(a.points[i].x, b.points[i].x);
    EXPECT_EQ(a.points[i].y, b.points[i].y);
  }
  EXPECT_EQ(a.ids[3], "P21");
  EXPECT_EQ(a.points[3].x, 3.25);
  // The one repeated identifier, at the end of a long table, is named at its second line.
  try {
    ParsePointTable(plain + "P693 ; 1 ; 2\n", "a.csv");
    ADD_FAILURE() << "read";
  } catch (const PointTableError& error) {
    EXPECT_EQ(std::string(error.what()),
              "Повторяющийся номер точки «P693» в строке 100002 файла a.csv: номера точек "
              "должны быть разными.");
  }
}

TEST(PointPairingTest, ManyIdentifiersPairInPointIdLessOrderAsAnOrderedMapWould) {
  // Identifiers of digits (leading zeros too) and of letters, shuffled in each file, some in
  // one file only: the pairing is the walk of two ordered maps.
  std::mt19937 random(29);
  std::vector<std::string> image, scene;
  for (int i = 0; i < 20000; ++i) {
    std::string id = i % 5 == 0 ? "A" : i % 7 == 0 ? "0" : "";
    id += std::to_string(i);
    if (i % 11 != 0) image.push_back(id);
    if (i % 13 != 0) scene.push_back(id);
  }
  std::shuffle(image.begin(), image.end(), random);
  std::shuffle(scene.begin(), scene.end(), random);
  VT_Points imagePoints(1), scenePoints(1);
  for (std::size_t i = 0; i < image.size(); ++i) imagePoints.Emplace(static_cast<double>(i), 0.0);
  for (std::size_t i = 0; i < scene.size(); ++i) scenePoints.Emplace(0.0, static_cast<double>(i));
  const PointPairing pairing = PairPoints(imagePoints, image, scenePoints, scene);

  const auto less = [](const std::string& a, const std::string& b) { return PointIdLess(a, b); };
  std::map<std::string, int, decltype(less)> imageIndex(less), sceneIndex(less);
  for (std::size_t i = 0; i < image.size(); ++i) imageIndex.emplace(image[i], static_cast<int>(i));
  for (std::size_t i = 0; i < scene.size(); ++i) sceneIndex.emplace(scene[i], static_cast<int>(i));
  std::vector<std::string> ids, onlyInImage, onlyInScene;
  for (const auto& [id, i] : imageIndex)
    (sceneIndex.count(id) != 0 ? ids : onlyInImage).push_back(id);
  for (const auto& entry : sceneIndex)
    if (imageIndex.count(entry.first) == 0) onlyInScene.push_back(entry.first);
  EXPECT_TRUE(pairing.byIdentifier);
  EXPECT_EQ(pairing.ids, ids);
  EXPECT_EQ(pairing.onlyInImage, onlyInImage);
  EXPECT_EQ(pairing.onlyInScene, onlyInScene);
  ASSERT_EQ(imagePoints.Count(), static_cast<int>(ids.size()));
  ASSERT_EQ(scenePoints.Count(), static_cast<int>(ids.size()));
  for (std::size_t k = 0; k < ids.size(); ++k) {
    EXPECT_EQ(imagePoints.Get(static_cast<int>(k))->x, imageIndex.at(ids[k]));
    EXPECT_EQ(scenePoints.Get(static_cast<int>(k))->y, sceneIndex.at(ids[k]));
  }
}

TEST(PointPairingTest, LongIdentifiersAndLongListsAreCutInTheWarnings) {
  // A million identifiers left out make a warning of a line, not of megabytes; an identifier of a
  // megabyte is shown by its first 40 characters. The pairing itself keeps every identifier.
  const std::string huge(1 << 20, 'x');
  std::vector<std::string> image = {"1", "2", "3", huge}, scene = {"1", "2", "3"};
  for (int i = 0; i < 1000000; ++i) {
    std::string id = "s";
    id += std::to_string(i);
    scene.push_back(std::move(id));
  }
  VT_Points imagePoints(1), scenePoints(1);
  for (std::size_t i = 0; i < image.size(); ++i) imagePoints.Emplace(static_cast<double>(i), 1.0);
  for (std::size_t i = 0; i < scene.size(); ++i) scenePoints.Emplace(1.0, static_cast<double>(i));
  const PointPairing pairing = PairPoints(imagePoints, image, scenePoints, scene);
  ASSERT_EQ(pairing.onlyInScene.size(), 1000000u);
  const std::vector<std::string> warnings = PairingWarnings(pairing);
  ASSERT_EQ(warnings.size(), 2u);
  std::string cutHuge = "Точки «";
  cutHuge.append(40, 'x');
  EXPECT_EQ(warnings[0], cutHuge +
                             "…» нет в файле сцены, она не вошла в расчёт. Если это одна и та же "
                             "точка, дайте ей в обоих файлах один номер.");
  EXPECT_LT(warnings[1].size(), 600u);
  EXPECT_NE(warnings[1].find("», … и ещё 999980 нет в файле координат изображения, они не вошли"),
            std::string::npos)
      << warnings[1];
  // The numbered lists of the other warnings: twenty names, then the count of the rest.
  std::vector<int> numbers;
  for (int i = 1; i <= 25; ++i) numbers.push_back(i);
  EXPECT_EQ(PointNameList({}, numbers),
            "1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, … и ещё 5");
  std::string longName = "а", cutName = "а";
  for (int i = 0; i < 60; ++i) longName += "б";
  for (int i = 0; i < 39; ++i) cutName += "б";
  EXPECT_EQ(PointNameList({longName, "b"}, {2, 1}), "b, " + cutName + "…");
  EXPECT_EQ(
      UncoveredPointsWarning(numbers).rfind(
          "Координаты изображения точек 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, "
          "17, 18, 19, 20, … и ещё 5 не попадают",
          0),
      0u);
}

TEST(PointTableTest, HeightsRolesAndSigmasReadAndOldTablesAreUnchanged) {
  // A heading brings z, role and σ in any order and case; an empty role is a control point and
  // an empty σ the precision of the whole file.
  const PointTable t = ParsePointTable(
      "Id;X;Y;Высота;Роль;sigma\n1;10;20;3,5;check;0.02\n2;11;21;0;;\n3;12;22;-1;ОПОРНАЯ;0.5\n"
      "4;13;23;2;Контрольная;\n",
      "s.csv");
  ASSERT_EQ(t.points.size(), 4u);
  EXPECT_TRUE(t.hasZ && t.hasRole && t.hasSigma);
  EXPECT_EQ(t.points[0].z, 3.5);
  EXPECT_TRUE(t.points[0].check);
  EXPECT_EQ(t.points[0].sigma, 0.02);
  EXPECT_FALSE(t.points[1].check);
  EXPECT_EQ(t.points[1].sigma, 0);
  EXPECT_FALSE(t.points[2].check);
  EXPECT_EQ(t.points[2].z, -1);
  EXPECT_TRUE(t.points[3].check);
  // Four values without a heading: id, x, y, z.
  const PointTable four = ParsePointTable("7 1 2 3\n8 4 5 6\n", "s.txt");
  EXPECT_TRUE(four.hasZ);
  EXPECT_EQ(four.points[1].z, 6);
  EXPECT_TRUE(IsPointTable("a.crd", "7;1;2;3\r\n"));
  // An old table reads as before: no z, role or σ.
  const PointTable old = ParsePointTable("id,x,y\n1,2,3\n", "s.csv");
  EXPECT_FALSE(old.hasZ || old.hasRole || old.hasSigma);
  EXPECT_EQ(old.points[0].z, 0);

  const auto message = [](const std::string& text) {
    try {
      ParsePointTable(text, "/data/scene.csv");
    } catch (const PointTableError& error) {
      return std::string(error.what());
    }
    return std::string("no error");
  };
  EXPECT_NE(message("id;x;y;role\n1;2;3;опорная\n2;2;3;reference\n")
                .find("Роль «reference» в строке 3 файла scene.csv"),
            std::string::npos);
  EXPECT_NE(message("id;x;y;sigma\n1;2;3;0\n")
                .find("σ точки в строке 2 файла scene.csv должно "
                      "быть больше нуля"),
            std::string::npos);
  EXPECT_NE(message("id;x;y;sigma\n1;2;3;-0.1\n").find("больше нуля"), std::string::npos);
  EXPECT_NE(message("1;2;3;4;5\n").find("только со строкой заголовка"), std::string::npos);

  // Through the readers: the scene's extras follow the points; an image table with heights is
  // refused, one with σ gives them.
  ScratchFolder folder;
  FakeUi ui;
  VT_Points points(1);
  std::vector<std::string> ids;
  PointExtras extras;
  ASSERT_TRUE(Shown(ui, ReadScenePoints(folder.Write("s.csv", "id;x;y;z;role\na;1;2;3;check\n"),
                                        points, &ids, &extras)));
  EXPECT_EQ(extras.z, std::vector<double>{3});
  EXPECT_EQ(extras.check, std::vector<char>{1});
  EXPECT_TRUE(extras.sigma.empty());
  ASSERT_TRUE(Shown(ui, ReadScenePoints(folder.Write("s.crd", "1;2\n"), points, &ids, &extras)));
  EXPECT_TRUE(extras.z.empty() && extras.check.empty());
  EXPECT_FALSE(Shown(
      ui, ReadRawImagePoints(folder.Write("i.csv", "id;x;y;z\na;1;2;3\n"), points, &ids, &extras)));
  ASSERT_FALSE(ui.messages.empty());
  EXPECT_NE(ui.messages.back().text.find("таблице точек изображения i.csv столбец z"),
            std::string::npos);
  ASSERT_TRUE(Shown(ui, ReadRawImagePoints(folder.Write("i2.csv", "id;x;y;sigma_px\na;1;2;0.3\n"),
                                           points, &ids, &extras)));
  EXPECT_EQ(extras.sigma, std::vector<double>{0.3});
}

}  // namespace
}  // namespace zelv
