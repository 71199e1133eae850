// Target description files: every example reads, and a wrong file is refused with a message that
// names the file and the key to correct.
#include "targets/target_description.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "scratch_folder.h"

namespace zelv {
namespace {

TEST(TargetDescription, EveryExampleReadsAsTheKindItsNameStartsWith) {
  int count = 0;
  for (const auto& entry :
       std::filesystem::directory_iterator(std::string(ZELV_EXAMPLES_DIR) + "/targets")) {
    const std::string name = entry.path().filename().string();
    const Expected<TargetDescription> target = ReadTargetDescription(entry.path().string());
    ASSERT_TRUE(target) << name << ": " << target.error().text;
    EXPECT_EQ(name.rfind(TargetKindName(target->kind), 0), 0u) << name;
    EXPECT_FALSE(TargetCorners(*target).empty()) << name;
    ++count;
  }
  EXPECT_EQ(count, 8);
}

TEST(TargetDescription, TheRealPhotographsTargetGivesThePublishedSceneCorners) {
  const Expected<TargetDescription> target =
      ReadTargetDescription(std::string(ZELV_EXAMPLES_DIR) + "/zhang/target.yml");
  ASSERT_TRUE(target) << target.error().text;
  const std::vector<TargetCorner> corners = TargetCorners(*target);
  ASSERT_EQ(corners.size(), 256u);
  std::ifstream scene(std::string(ZELV_EXAMPLES_DIR) + "/zhang/scene.crd");
  for (const TargetCorner& corner : corners) {
    double x = 0, y = 0;
    char separator = 0;
    ASSERT_TRUE(scene >> x >> separator >> y);
    EXPECT_NEAR(corner.x, x, 2e-5) << corner.id;
    EXPECT_NEAR(corner.y, y, 2e-5) << corner.id;
  }
}

TEST(TargetDescription, OriginAndAxesPlaceTheBoardInTheScene) {
  testing::ScratchFolder folder;
  const std::string path =
      folder.Write("board.yml",
                   "%YAML:1.0\n---\nkind: chessboard\nrows: 3\ncolumns: 4\n"
                   "square_size: 10\norigin: [100, 50]\naxes: [0, -1, 1, 0]\n");
  const Expected<TargetDescription> target = ReadTargetDescription(path);
  ASSERT_TRUE(target) << target.error().text;
  const std::vector<TargetCorner> corners = TargetCorners(*target);
  ASSERT_EQ(corners.size(), 6u);
  // Corner 4: row 1, column 1, at u = v = 20 in the board frame.
  EXPECT_EQ(corners[4].id, 4);
  EXPECT_DOUBLE_EQ(corners[4].x, 100 - 20);
  EXPECT_DOUBLE_EQ(corners[4].y, 50 + 20);
}

TEST(TargetDescription, AWrongFileNamesTheFileAndTheKey) {
  testing::ScratchFolder folder;
  const struct {
    const char* text;
    const char* message;
  } cases[] = {
      {"%YAML:1.0\n---\nrows: 3\n", "ключ «kind» — не задан"},
      {"%YAML:1.0\n---\nkind: hexagons\n", "ключ «kind» — неизвестный вид мишени «hexagons»"},
      {"%YAML:1.0\n---\nkind: chessboard\nrows: 3\ncolumns: 4\n", "ключ «square_size» — не задан"},
      {"%YAML:1.0\n---\nkind: chessboard\nrows: 3\ncolumns: 4\nsquare_size: -2\n",
       "ключ «square_size» — размер должен быть больше нуля"},
      {"%YAML:1.0\n---\nkind: chessboard\nrows: 1\ncolumns: 4\nsquare_size: 2\n",
       "ключ «rows» — должен быть от 2 до 1000"},
      {"%YAML:1.0\n---\nkind: chessboard\nrows: 100000\ncolumns: 4\nsquare_size: 2\n",
       "ключ «rows» — должен быть от 2 до 1000"},
      {"%YAML:1.0\n---\nkind: charuco\nrows: 5\ncolumns: 7\nsquare_size: 2\nmarker_size: 3\n"
       "dictionary: DICT_4X4_50\n",
       "ключ «marker_size» — маркер должен быть меньше клетки"},
      {"%YAML:1.0\n---\nkind: charuco\nrows: 5\ncolumns: 7\nsquare_size: 4\nmarker_size: 3\n"
       "dictionary: DICT_9X9\n",
       "ключ «dictionary» — неизвестный словарь «DICT_9X9»"},
      {"%YAML:1.0\n---\nkind: aruco_board\nrows: 10\ncolumns: 10\nmarker_size: 3\nspacing: 1\n"
       "dictionary: DICT_4X4_50\n",
       "ключ «dictionary» — в словаре 50 маркеров, а на мишени их 100"},
      {"%YAML:1.0\n---\nkind: charuco\nrows: 5\ncolumns: 7\nsquare_size: 4\nmarker_size: 3\n"
       "dictionary: DICT_4X4_50\nlayout: sideways\n",
       "ключ «layout» — допустимы newer и older"},
      {"%YAML:1.0\n---\nkind: squares\nrows: 5\ncolumns: 7\nsquare_size: 4\nspacing: 3\n"
       "axes: [2, 0, 0, 1]\n",
       "ключ «axes» — оси должны быть единичными"},
      {"", "это не описание мишени"},
      {"kind: [unclosed\n", "это не описание мишени"},
  };
  for (const auto& c : cases) {
    const std::string path = folder.Write("target.yml", c.text);
    const Expected<TargetDescription> target = ReadTargetDescription(path);
    ASSERT_FALSE(target) << c.text;
    EXPECT_NE(target.error().text.find("Ошибка в файле мишени " + path), std::string::npos)
        << target.error().text;
    EXPECT_NE(target.error().text.find(c.message), std::string::npos) << target.error().text;
  }
  const Expected<TargetDescription> missing = ReadTargetDescription(folder.Path("none.yml"));
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error().text,
            "Не удается прочитать файл мишени " + folder.Path("none.yml") + "!");
}

}  // namespace
}  // namespace zelv
