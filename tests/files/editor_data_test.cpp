// The data editor's conversions without a window: file lines to cells and back, with every value
// checked, so a file the editor saves reads back as it was shown.

#include "files/editor_data.h"

#include <gtest/gtest.h>

#include "base/zelv_error.h"

namespace zelv {
namespace {

TEST(EditorDataTest, PointLinesRoundTripThroughTheCellsWithEitherSeparator) {
  const std::vector<std::string> lines = {"12.5 ; -3", "1e3;0,25", "  7 ;  8  "};
  const std::vector<PointCells> cells = PointCellsFromLines(lines, ',');
  ASSERT_EQ(cells.size(), 3u);
  EXPECT_EQ(cells[0].x, "12,5");
  EXPECT_EQ(cells[1].y, "0,25");
  const std::vector<std::string> written = PointFileLines(cells, '.');
  EXPECT_EQ(written, (std::vector<std::string>{"12.5 ; -3", "1000 ; 0.25", "7 ; 8"}));
  EXPECT_EQ(PointFileLines(PointCellsFromLines(written, '.'), '.'), written);
}

TEST(EditorDataTest, BadPointRowsAreRefusedNamingTheRow) {
  EXPECT_THROW(PointCellsFromLines({"1 ; 2", "3 4"}), ZelvError);
  EXPECT_THROW(PointCellsFromLines({"1 ; x"}), ZelvError);
  try {
    PointFileLines({{"1", "2"}, {"3", ""}}, '.');
    FAIL() << "an empty cell was written";
  } catch (const ZelvError& e) {
    EXPECT_STREQ(e.what(), "Ошибка в 2-й строке координат изображения!");
  }
}

TEST(EditorDataTest, CameraCellsKeepTheTableNameAndRefuseWhatTheFileCannotHold) {
  const std::array<std::string, kCameraLineCount> cells =
      CameraCellsFromLines({"320 ; a", "240 ; b", "tables\\lens.txt ; c", " ; d", "640 ; e",
                            "480 ; f", "no separator", "1,5;h", "ignored"});
  EXPECT_EQ(cells[kCorrectionTableRow], "tables\\lens.txt ");
  EXPECT_EQ(cells[3], " ");
  EXPECT_EQ(cells[6], "");
  const std::vector<std::string> lines = CameraFileLines(cells, '.');
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(kCameraLineCount));
  EXPECT_EQ(lines[0].substr(0, 6), "320 ; ");
  EXPECT_EQ(lines[3].substr(0, 3), " ; ");
  EXPECT_EQ(lines[7].substr(0, 6), "1.5 ; ");
  EXPECT_THROW(CameraCellsFromLines({"1 ; a", "2 ; b"}), ZelvError);

  std::array<std::string, kCameraLineCount> bad = cells;
  bad[kCorrectionTableRow] = "a;b.txt";
  EXPECT_THROW(CameraFileLines(bad, '.'), ZelvError);
  bad = cells;
  bad[4] = "wide";
  EXPECT_THROW(CameraFileLines(bad, '.'), ZelvError);
}

}  // namespace
}  // namespace zelv
