// The coordinate file readers: format, separators, failures and the list they leave behind.
#include "files/coordinate_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <limits>

#include "fake_ui.h"
#include "scratch_folder.h"

namespace zelv {
namespace {

using testing::FakeUi;
using testing::ScratchFolder;

const char kImageError[] = "Ошибка чтения файла координат точек изображения!";
const char kSceneError[] = "Ошибка чтения файла сцены!";
const std::vector<std::string> kIdentity = {"1", "0 0 4000 4000 X 0 1 - Y 0 1 - ; "};

std::vector<std::pair<double, double>> PointsOf(const VT_Points& list) {
  std::vector<std::pair<double, double>> points;
  for (int i = 0; i < list.Count(); ++i) points.emplace_back(list.Get(i)->x, list.Get(i)->y);
  return points;
}

void ExpectOnlyMessage(const FakeUi& ui, const std::string& text) {
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text, text);
  EXPECT_EQ(ui.messages[0].caption, "Ошибка!");
  EXPECT_EQ(ui.messages[0].icon, MessageIcon::None);
  EXPECT_EQ(ui.messages[0].owner, nullptr);
}

using Points = std::vector<std::pair<double, double>>;

TEST(SplitAtFirstSemicolonTest, SplitsAtTheFirstSemicolonOnly) {
  const SplitLine a = SplitAtFirstSemicolon("1;2;3");
  EXPECT_EQ(a.first, "1");
  EXPECT_EQ(a.rest, "2;3");
  EXPECT_TRUE(a.hasSemicolon);
  const SplitLine b = SplitAtFirstSemicolon("12.5");
  EXPECT_EQ(b.first, "");
  EXPECT_EQ(b.rest, "12.5");
  EXPECT_FALSE(b.hasSemicolon);
}

TEST(ReadScenePointsTest, BlanksAroundValuesAndEitherSeparatorGiveTheSamePoint) {
  ScratchFolder folder;
  const std::string path = folder.Write(
      "scene.crd", "12.5;7\r\n12.5 ; 7\r\n   12.5 ; 7   \r\n12,5;7\n-3e2 ; +0,25\r1e-3;0");
  FakeUi ui;
  VT_Points points(1);
  ASSERT_TRUE(Shown(ui, ReadScenePoints(path, points)));
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_EQ(PointsOf(points),
            (Points{{12.5, 7}, {12.5, 7}, {12.5, 7}, {12.5, 7}, {-300, 0.25}, {0.001, 0}}));
}

TEST(ReadScenePointsTest, AnEmptyFileGivesAnEmptyListAndSuccess) {
  ScratchFolder folder;
  FakeUi ui;
  VT_Points points(1);
  points.Add(new VT_Point(1, 1));
  ASSERT_TRUE(Shown(ui, ReadScenePoints(folder.Write("empty.crd", ""), points)));
  EXPECT_EQ(points.Count(), 0);
}

TEST(ReadScenePointsTest, ABadLineFailsTheReadKeepsThePointsBeforeItAndIsNamedWithItsText) {
  ScratchFolder folder;
  const std::string where = "В строке 3 файла scene.crd ";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"", "Строка 3 файла scene.crd пустая: в файле координат не должно быть пустых строк."},
      {"  \t", "Строка 3 файла scene.crd пустая: в файле координат не должно быть пустых строк."},
      {"1;2;3", where + "значение y «2;3» не читается как число: «1;2;3»."},
      {"5", where + "нет «;» между x и y: «5»."},
      {"12 5", where + "нет «;» между x и y: «12 5»."},
      {"x ; 1", where + "значение x «x» не читается как число: «x ; 1»."},
      {"12a ; 5", where + "значение x «12a» не читается как число: «12a ; 5»."},
      {"1 ; ", where + "значение y «» не читается как число: «1 ; »."},
      {"1 2 ; 3", where + "значение x «1 2» не читается как число: «1 2 ; 3»."},
      {"1e999 ; 0", where + "значение x «1e999» не читается как число: «1e999 ; 0»."},
      {"inf ; 1", where + "значение x «inf» не читается как число: «inf ; 1»."},
      {"Точка ; 1", where + "значение x «Точка» не читается как число: «Точка ; 1»."}};
  for (const auto& [bad, second] : cases) {
    const std::string path =
        folder.Write("scene.crd", std::string("1 ; 2\r\n3 ; 4\r\n") + bad + "\r\n5 ; 6\r\n");
    FakeUi ui;
    VT_Points points(1);
    EXPECT_FALSE(Shown(ui, ReadScenePoints(path, points))) << "'" << bad << "'";
    ExpectOnlyMessage(ui, std::string(kSceneError) + "\n" + second);
    EXPECT_EQ(PointsOf(points), (Points{{1, 2}, {3, 4}})) << "'" << bad << "'";
  }
}

TEST(ReadScenePointsTest, ALongBadLineIsQuotedCutAfterSixtyCharactersWholeLettersKept) {
  ScratchFolder folder;
  // 59 letters and then Cyrillic ones: the cut falls after the first of them, never inside it.
  const std::string line = std::string(59, 'a') + "ЖЖЖЖ ; 1";
  FakeUi ui;
  VT_Points points(1);
  EXPECT_FALSE(Shown(ui, ReadScenePoints(folder.Write("long.crd", "1 ; 2\n" + line), points)));
  const std::string cut = "«" + std::string(59, 'a') + "Ж…»";
  ExpectOnlyMessage(ui, std::string(kSceneError) + "\nВ строке 2 файла long.crd значение x " + cut +
                            " не читается как число: " + cut + ".");
}

TEST(ReadImagePointsTest, ABadLineNamesItsNumberAndTextUnderTheImageMessage) {
  ScratchFolder folder;
  const std::string path = folder.Write("image.crd", "100 ; 50\r\n100,5 50\r\n");
  FakeUi ui;
  VT_Points points(1);
  EXPECT_FALSE(Shown(ui, ReadImagePoints(path, points, kIdentity, 320, 240)));
  ExpectOnlyMessage(ui, std::string(kImageError) +
                            "\nВ строке 2 файла image.crd нет «;» между x и y: «100,5 50».");
  EXPECT_EQ(points.Count(), 1);
}

TEST(ReadScenePointsTest, AMissingFileLeavesThePreviousListUnchanged) {
  ScratchFolder folder;
  const std::string path = folder.Path("gone.crd");
  FakeUi ui;
  VT_Points points(1);
  points.Add(new VT_Point(9, 9));
  EXPECT_FALSE(Shown(ui, ReadScenePoints(path, points)));
  ExpectOnlyMessage(ui, "Файл " + path + " не найден!\nИскали в папке " + folder.Folder().string());
  EXPECT_EQ(PointsOf(points), (Points{{9, 9}}));
}

TEST(ReadScenePointsTest, AFileThatIsNoTextFailsWithTheSceneMessageNamingTheLine) {
  ScratchFolder folder;
  const std::vector<std::pair<std::string, std::string>> cases = {
      {std::string("1 ; 2\0", 6),
       "В строке 1 файла s.crd нулевой байт: это не текстовый файл "
       "координат."},
      {"1 ; 2\r\n3 ; 4\r5 ; \x98\xFF\n",
       "В строке 3 файла s.crd байт, которого нет в кодировке Windows-1251: сохраните файл как "
       "текст в Windows-1251 или UTF-8."},
      {"\xEF\xBB\xBF"
       "1 ; 2\r\n\xFF ; 1\r\n",
       "Текст файла s.crd не в кодировке UTF-8, хотя начинается с её метки."}};
  for (const auto& [bytes, second] : cases) {
    FakeUi ui;
    VT_Points points(1);
    EXPECT_FALSE(Shown(ui, ReadScenePoints(folder.Write("s.crd", bytes), points)));
    ExpectOnlyMessage(ui, std::string(kSceneError) + "\n" + second);
  }
  // A photograph given as the scene file.
  FakeUi png;
  VT_Points points(1);
  EXPECT_FALSE(Shown(
      png,
      ReadScenePoints(folder.Write("photo.png", std::string("\x89PNG\r\n\x1A\n\0\0\0\rIHDR", 16)),
                      points)));
  ExpectOnlyMessage(png, std::string(kSceneError) +
                             "\nВ строке 3 файла photo.png нулевой байт: это не текстовый файл "
                             "координат.");
}

TEST(ReadScenePointsTest, AFifoFailsWithTheSceneMessageAndUtf8WithAMarkReads) {
  ScratchFolder folder;
  ASSERT_EQ(mkfifo(folder.Path("fifo.crd").c_str(), 0600), 0);
  FakeUi ui;
  VT_Points points(1);
  EXPECT_FALSE(Shown(ui, ReadScenePoints(folder.Path("fifo.crd"), points)));
  ExpectOnlyMessage(ui, std::string(kSceneError) + "\nНе удалось прочитать файл " +
                            folder.Path("fifo.crd") + ": это не обычный файл");
  FakeUi utf8Ui;
  ASSERT_TRUE(Shown(utf8Ui, ReadScenePoints(folder.Write("s.crd",
                                                         "\xEF\xBB\xBF"
                                                         "1,5 ; 2\r\n3 ; 4\r\n"),
                                            points)));
  EXPECT_TRUE(utf8Ui.messages.empty());
  EXPECT_EQ(PointsOf(points), (Points{{1.5, 2}, {3, 4}}));
}

TEST(ReadImagePointsTest, PointsAreCorrectedWithTheTableAndTheCentre) {
  ScratchFolder folder;
  const std::string path = folder.Write("image.crd", "100;50\r\n320 ; 240\r\n5000 ; 10\r\n");
  FakeUi ui;
  VT_Points points(1);
  ASSERT_TRUE(Shown(ui, ReadImagePoints(path, points, kIdentity, 320, 240)));
  EXPECT_TRUE(ui.messages.empty());
  // A coordinate outside every band becomes -1 and the read goes on.
  EXPECT_EQ(PointsOf(points), (Points{{-220, 190}, {0, 0}, {-1, 230}}));
}

TEST(ReadImagePointsTest, AFailingCorrectionFailsTheReadWithTheImageMessage) {
  ScratchFolder folder;
  const std::string path = folder.Write("image.crd", "100 ; 50\r\n0 ; 50\r\n7 ; 7\r\n");
  const std::vector<std::vector<std::string>> tables = {
      {"1"},                                          // no band line: even the first point
      {"1", "-9 -9 4000 4000 X 0 1 - 5 Y 0 1 - ; "},  // 0 to a negative power
      {"0", "0 0 4000 4000 X 0 1 - Y 0 1 - ; "}};     // s = 0
  const std::size_t kept[] = {0, 1, 0};
  for (std::size_t t = 0; t < tables.size(); ++t) {
    FakeUi ui;
    VT_Points points(1);
    EXPECT_FALSE(Shown(ui, ReadImagePoints(path, points, tables[t], 320, 240))) << t;
    ExpectOnlyMessage(ui, kImageError);
    EXPECT_EQ(points.Count(), static_cast<int>(kept[t])) << t;
  }
}

TEST(ReadImagePointsTest, AMissingFileNamesThePathAsPassedAndKeepsTheList) {
  FakeUi ui;
  VT_Points points(1);
  points.Add(new VT_Point(1, 2));
  EXPECT_FALSE(Shown(ui, ReadImagePoints("no/such/image.crd", points, kIdentity, 0, 0)));
  ExpectOnlyMessage(ui, "Файл no/such/image.crd не найден!\nПапки " +
                            std::filesystem::current_path().string() + "/no/such нет.");
  EXPECT_EQ(points.Count(), 1);
}

TEST(ReadImagePointsTest, AHundredThousandPointsReadWellUnderASecond) {
  ScratchFolder folder;
  std::string text;
  for (int i = 0; i < 100000; ++i) {
    char line[64];
    std::snprintf(line, sizeof line, "%d.%03d ; %d.%03d\r\n", i % 1500 + 1, i % 1000, i % 1100 + 1,
                  (i * 7) % 1000);
    text += line;
  }
  text += "0.5 ; 0.5\r\n";  // a duplicate of nothing, and duplicates are fine
  text += "0.5 ; 0.5\r\n";
  const std::string path = folder.Write("many.crd", text);
  const std::vector<std::string> table = {
      "1", "0 0 700 700 X 0.5 1.001 1e-7 - 0.25 Y -0.5 0.999 - 0.25 ; ",
      "0 0 4000 4000 X 0 1 - Y 0 1 - ; "};
  FakeUi ui;
  VT_Points points(1);
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(Shown(ui, ReadImagePoints(path, points, table, 750, 550)));
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(points.Count(), 100002);
  EXPECT_LT(seconds, 2.0);  // about 0.1 s on an idle machine
}

// Points given in memory read as the same lines of a file: corrected alike, the uncovered points
// and the identifiers alike; what a file could not hold is refused with the reason.
TEST(GivenPointsTest, GivenPointsReadAsTheFileWithTheSameLines) {
  ScratchFolder folder;
  const std::string path =
      folder.Write("image.csv", "id,x,y\r\nA,100,50\r\nB,320,240\r\nC,5000,10\r\n");
  const GivenPoints given{{{100, 50}, {320, 240}, {5000, 10}}, {"A", "B", "C"}};
  VT_Points fromFile(1);
  VT_Points fromMemory(1);
  std::vector<int> uncoveredFile, uncoveredMemory;
  std::vector<std::string> idsFile, idsMemory;
  ASSERT_TRUE(ReadImagePoints(path, fromFile, kIdentity, 320, 240, &uncoveredFile, &idsFile));
  ASSERT_TRUE(
      ReadImagePoints(given, fromMemory, kIdentity, 320, 240, &uncoveredMemory, &idsMemory));
  EXPECT_EQ(PointsOf(fromMemory), PointsOf(fromFile));
  EXPECT_EQ(uncoveredMemory, uncoveredFile);
  EXPECT_EQ(idsMemory, idsFile);
  ASSERT_TRUE(ReadScenePoints(given, fromMemory, &idsMemory));
  EXPECT_EQ(PointsOf(fromMemory), (Points{{100, 50}, {320, 240}, {5000, 10}}));
}

TEST(GivenPointsTest, UnsoundGivenPointsFailWithTheReason) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const std::vector<std::pair<GivenPoints, std::string>> cases = {
      {{{{1, 2}, {nan, 4}}, {}}, "Координаты точки 2"},
      {{{{1, 2}, {3, -inf}}, {}}, "Координаты точки 2"},
      {{{{1, 2}, {3, 4}}, {"A"}}, "Идентификаторов 1, а точек 2"},
      {{{{1, 2}, {3, 4}}, {"A", "A"}}, "Идентификатор «A» повторяется"},
      {{{{1, 2}, {3, 4}}, {"A", ""}}, "Пустой идентификатор"}};
  for (const auto& [given, reason] : cases) {
    VT_Points points(1);
    const Expected<void> image = ReadImagePoints(given, points, kIdentity, 320, 240);
    ASSERT_FALSE(image) << reason;
    EXPECT_EQ(image.error().text.rfind("Ошибка в точках изображения!\n" + reason, 0), 0u)
        << image.error().text;
    const Expected<void> scene = ReadScenePoints(given, points);
    ASSERT_FALSE(scene) << reason;
    EXPECT_EQ(scene.error().text.rfind("Ошибка в точках сцены!\n" + reason, 0), 0u)
        << scene.error().text;
  }
}

TEST(GivenPointsTest, GivenExtrasReachTheReaderAsATableColumns) {
  ScratchFolder folder;
  const std::string path = folder.Write(
      "scene.csv", "id,x,y,z,role,sigma\nA,1,2,3,control,0.5\nB,4,5,-6,check,\nC,7,8,9,,2\n");
  GivenPoints given{{{1, 2}, {4, 5}, {7, 8}}, {"A", "B", "C"}};
  given.extras.z = {3, -6, 9};
  given.extras.sigma = {0.5, 0, 2};
  given.extras.check = {0, 7, 0};  // any non-zero marks a check point
  VT_Points fromFile(1);
  VT_Points fromMemory(1);
  PointExtras extrasFile;
  PointExtras extrasMemory;
  ASSERT_TRUE(ReadScenePoints(path, fromFile, nullptr, &extrasFile));
  ASSERT_TRUE(ReadScenePoints(given, fromMemory, nullptr, &extrasMemory));
  EXPECT_EQ(PointsOf(fromMemory), PointsOf(fromFile));
  EXPECT_EQ(extrasMemory.z, extrasFile.z);
  EXPECT_EQ(extrasMemory.sigma, extrasFile.sigma);
  EXPECT_EQ(extrasMemory.check, extrasFile.check);
}

TEST(GivenPointsTest, GivenExtrasATableCouldNotHoldFail) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const GivenPoints base{{{1, 2}, {3, 4}}, {}};
  GivenPoints shortZ = base;
  shortZ.extras.z = {1};
  GivenPoints nanZ = base;
  nanZ.extras.z = {1, nan};
  GivenPoints negativeSigma = base;
  negativeSigma.extras.sigma = {1, -0.1};
  for (const auto& [given, reason] :
       std::vector<std::pair<GivenPoints, std::string>>{{shortZ, "Высот 1, а точек 2"},
                                                        {nanZ, "Высота точки 2"},
                                                        {negativeSigma, "СКО точки 2"}}) {
    VT_Points points(1);
    const Expected<void> scene = ReadScenePoints(given, points);
    ASSERT_FALSE(scene) << reason;
    EXPECT_EQ(scene.error().text.rfind("Ошибка в точках сцены!\n" + reason, 0), 0u)
        << scene.error().text;
  }
  // Heights and roles belong to the scene, as in a table.
  GivenPoints imageWithRoles = base;
  imageWithRoles.extras.check = {0, 1};
  VT_Points points(1);
  EXPECT_FALSE(ReadRawImagePoints(imageWithRoles, points));
  GivenPoints imageWithSigma = base;
  imageWithSigma.extras.sigma = {0.3, 0};
  PointExtras extras;
  ASSERT_TRUE(ReadRawImagePoints(imageWithSigma, points, nullptr, &extras));
  EXPECT_EQ(extras.sigma, (std::vector<double>{0.3, 0}));
}

}  // namespace
}  // namespace zelv
