// The camera file reader: every step, every message, and the table found beside the camera file.
#include "files/camera_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>

#include "fake_ui.h"
#include "files/text_file.h"
#include "scratch_folder.h"

namespace zelv {
namespace {

using testing::CurrentFolderGuard;
using testing::FakeUi;
using testing::ScratchFolder;
using Lines = std::vector<std::string>;

const char kReadError[] = "Ошибка чтения cam-файла!";

// The eight lines the editor writes: value, then the comment of that line.
Lines EditorLines(const Lines& values) {
  Lines lines;
  for (std::size_t i = 0; i < values.size(); ++i)
    lines.push_back(values[i] + (i < 8 ? kCameraLineComments[i] : " ; extra"));
  return lines;
}

// A geometry whose every field shows whether the reader touched it.
InteriorGeometry Untouched() {
  InteriorGeometry g;
  g.ImageCentreX = 11;
  g.ImageCentreY = 22;
  g.FocalLength = 33;
  g.ImageWidth = 44;
  g.ImageHeight = 55;
  g.CorrectionTable = {"old"};
  return g;
}

class CameraFileTest : public ::testing::Test {
 protected:
  // Writes camera.cam (editor style) and t.txt into the scratch folder; returns the camera path.
  std::string WriteCamera(const Lines& values, const std::string& name = "camera.cam") {
    SaveTextLines(folder.Path("t.txt"), {"1", "0 0 4000 4000 X 0 1 - Y 0 1 - ; "});
    const std::string path = folder.Path(name);
    SaveTextLines(path, EditorLines(values));
    return path;
  }
  void ExpectOneMessage(const std::string& text) {
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text, text);
    EXPECT_EQ(ui.messages[0].caption, "Ошибка!");
    EXPECT_EQ(ui.messages[0].icon, MessageIcon::None);
    EXPECT_EQ(ui.messages[0].owner, nullptr);
  }

  ScratchFolder folder;
  FakeUi ui;
  InteriorGeometry geometry = Untouched();
};

TEST_F(CameraFileTest, AnEditorWrittenFileFillsEveryFieldAndLoadsTheTable) {
  const std::string path =
      WriteCamera({"320.5", "240,25", "t.txt ", "1000", "640", "480", "320", "240"});
  ASSERT_TRUE(Shown(ui, ReadCameraFile(path, geometry)));
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_EQ(geometry.ImageCentreX, 320.5);
  EXPECT_EQ(geometry.ImageCentreY, 240.25);
  EXPECT_EQ(geometry.FocalLength, 1000.0);
  EXPECT_EQ(geometry.ImageWidth, 640.0);
  EXPECT_EQ(geometry.ImageHeight, 480.0);
  EXPECT_EQ(geometry.CorrectionTable, (Lines{"1", "0 0 4000 4000 X 0 1 - Y 0 1 - ; "}));
  EXPECT_STREQ(kCameraRowLabels[3], "Фокусное расстояние (пикс.)");
  EXPECT_STREQ(kCameraLineComments[4], " ; Размер изображения по горизонтали");
}

TEST_F(CameraFileTest, ASixLineFileReads) {
  const std::string path = WriteCamera({"1", "2", "t.txt", "3", "4", "5"});
  ASSERT_TRUE(Shown(ui, ReadCameraFile(path, geometry)));
  EXPECT_EQ(geometry.ImageHeight, 5.0);
}

TEST_F(CameraFileTest, AMissingFileNamesThePathAsGivenAndChangesNothing) {
  const std::string path = folder.Path("nowhere.cam");
  EXPECT_FALSE(Shown(ui, ReadCameraFile(path, geometry)));
  ExpectOneMessage("Файл " + path + " не найден!\nИскали в папке " + folder.Folder().string());
  EXPECT_EQ(geometry.ImageCentreX, 11.0);
  EXPECT_EQ(geometry.CorrectionTable, Lines{"old"});
}

TEST_F(CameraFileTest, CheckFileExistsIsQuietForAnExistingFile) {
  EXPECT_TRUE(Shown(ui, CheckFileExists(WriteCamera({"1"}))));
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_FALSE(Shown(ui, CheckFileExists("relative/none.crd")));
  ExpectOneMessage("Файл relative/none.crd не найден!\nПапки " +
                   std::filesystem::current_path().string() + "/relative нет.");
}

TEST_F(CameraFileTest, FewerThanSixLinesFailAfterAssigningTheLinesBefore) {
  const std::string path = WriteCamera({"1", "2", "t.txt", "3", "4"});
  EXPECT_FALSE(Shown(ui, ReadCameraFile(path, geometry)));
  ExpectOneMessage(kReadError);
  EXPECT_EQ(geometry.ImageCentreX, 1.0);
  EXPECT_EQ(geometry.FocalLength, 3.0);
  EXPECT_EQ(geometry.ImageWidth, 4.0);
  EXPECT_EQ(geometry.ImageHeight, 55.0);
}

TEST_F(CameraFileTest, AValueThatDoesNotConvertEndsTheReadAtItsLine) {
  const std::string path = WriteCamera({"1", "2x", "t.txt", "3", "4", "5"});
  EXPECT_FALSE(Shown(ui, ReadCameraFile(path, geometry)));
  ExpectOneMessage(kReadError);
  EXPECT_EQ(geometry.ImageCentreX, 1.0);
  EXPECT_EQ(geometry.ImageCentreY, 22.0);
  EXPECT_EQ(geometry.CorrectionTable, Lines{"old"});
}

TEST_F(CameraFileTest, ANumberLineWithoutSemicolonFails) {
  SaveTextLines(folder.Path("t.txt"), {"1", "0 0 9 9 X - Y - ; "});
  for (int line = 0; line < 6; ++line) {
    if (line == 2) continue;
    Lines lines = EditorLines({"1", "2", "t.txt", "3", "4", "5"});
    lines[static_cast<std::size_t>(line)] = std::string(1, '7');
    SaveTextLines(folder.Path("c.cam"), lines);
    FakeUi lineUi;
    EXPECT_FALSE(Shown(lineUi, ReadCameraFile(folder.Path("c.cam"), geometry)))
        << "line " << line + 1;
    ASSERT_EQ(lineUi.messages.size(), 1u);
    EXPECT_EQ(lineUi.messages[0].text, kReadError);
  }
}

TEST_F(CameraFileTest, AMissingOrUnnamedTableFailsAndKeepsTheOldTableLines) {
  for (const char* name : {"none.txt", "", "   "}) {
    FakeUi nameUi;
    InteriorGeometry g = Untouched();
    EXPECT_FALSE(Shown(nameUi, ReadCameraFile(WriteCamera({"1", "2", name, "3", "4", "5"}), g)))
        << name;
    ASSERT_EQ(nameUi.messages.size(), 1u);
    EXPECT_EQ(nameUi.messages[0].text, kReadError);
    EXPECT_EQ(g.ImageCentreY, 2.0);
    EXPECT_EQ(g.CorrectionTable, Lines{"old"});
    EXPECT_EQ(g.FocalLength, 33.0);
  }
}

TEST_F(CameraFileTest, AnEmptyOrOneBlankFocalLengthIsMinusOneButTwoBlanksFail) {
  SaveTextLines(folder.Path("t.txt"), {"1", "0 0 9 9 X - Y - ; "});
  const std::pair<const char*, double> accepted[] = {
      {" ; Фокусное расстояние", -1.0}, {"; Фокусное расстояние", -1.0}, {"1826.48;", 1826.48}};
  for (const auto& [line4, focal] : accepted) {
    SaveTextLines(folder.Path("c.cam"), {"1 ; a", "2 ; b", "t.txt ; c", line4, "4 ; e", "5 ; f"});
    ASSERT_TRUE(Shown(ui, ReadCameraFile(folder.Path("c.cam"), geometry))) << line4;
    EXPECT_EQ(geometry.FocalLength, focal) << line4;
  }
  SaveTextLines(folder.Path("c.cam"), {"1 ; a", "2 ; b", "t.txt ; c", "  ; d", "4 ; e", "5 ; f"});
  EXPECT_FALSE(Shown(ui, ReadCameraFile(folder.Path("c.cam"), geometry)));
  ExpectOneMessage(kReadError);
}

TEST_F(CameraFileTest, TheTableIsFoundBesideTheCameraFileWhateverTheCurrentFolder) {
  const std::string path = WriteCamera({"1", "2", "t.txt    ", "3", "4", "5"});
  ScratchFolder elsewhere;
  SaveTextLines(elsewhere.Path("t.txt"), {"decoy"});
  CurrentFolderGuard guard;
  std::filesystem::current_path(elsewhere.Folder());
  ASSERT_TRUE(Shown(ui, ReadCameraFile(path, geometry)));
  EXPECT_EQ(geometry.CorrectionTable[0], "1");
}

TEST_F(CameraFileTest, ACameraPathWithoutFolderTakesTheTableFromTheCurrentFolder) {
  WriteCamera({"1", "2", "t.txt", "3", "4", "5"});
  CurrentFolderGuard guard;
  std::filesystem::current_path(folder.Folder());
  ASSERT_TRUE(Shown(ui, ReadCameraFile("camera.cam", geometry)));
  EXPECT_EQ(geometry.CorrectionTable[0], "1");
}

TEST_F(CameraFileTest, ABackslashInTheTableNameIsAFolderSeparator) {
  const std::string path = WriteCamera({"1", "2", "tables\\lens.txt", "3", "4", "5"});
  std::filesystem::create_directory(folder.Path("tables"));
  SaveTextLines(folder.Path("tables/lens.txt"), {"2", "0 0 1 1 X - Y - ; "});
  ASSERT_TRUE(Shown(ui, ReadCameraFile(path, geometry)));
  EXPECT_EQ(geometry.CorrectionTable[0], "2");
}

TEST_F(CameraFileTest, AFileThatIsNotWindows1251FailsTheRead) {
  const std::string path =
      folder.Write("bad.cam", "1 ; a\r\n2 ; \x98\r\nt.txt ; c\r\n3;\r\n4;\r\n5;\r\n");
  EXPECT_FALSE(Shown(ui, ReadCameraFile(path, geometry)));
  ExpectOneMessage(kReadError);
  EXPECT_EQ(geometry.ImageCentreX, 11.0);
}

TEST_F(CameraFileTest, AFifoOrADeviceAsTableOrCameraFileFailsTheReadAtOnce) {
  ASSERT_EQ(mkfifo(folder.Path("ff").c_str(), 0600), 0);
  std::filesystem::create_symlink("/dev/zero", folder.Path("zero"));
  const auto start = std::chrono::steady_clock::now();
  for (const char* table : {"ff", "zero"}) {
    FakeUi tableUi;
    InteriorGeometry g = Untouched();
    const std::string path =
        WriteCamera({"1", "2", table, "3", "4", "5"}, std::string(table) + ".cam");
    EXPECT_FALSE(Shown(tableUi, ReadCameraFile(path, g))) << table;
    ASSERT_EQ(tableUi.messages.size(), 1u);
    EXPECT_EQ(tableUi.messages[0].text, kReadError);
    EXPECT_EQ(g.CorrectionTable, Lines{"old"});
  }
  // The camera file itself: it exists, and its reader refuses it.
  EXPECT_FALSE(Shown(ui, ReadCameraFile(folder.Path("ff"), geometry)));
  ExpectOneMessage(kReadError);
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 5.0);
}

TEST_F(CameraFileTest, AUtf8FileWithACyrillicCommentReads) {
  SaveTextLines(folder.Path("t.txt"), {"1", "0 0 4000 4000 X 0 1 - Y 0 1 - ; "});
  const std::string path = folder.Write(
      "utf8.cam",
      "320 ; Центр X\n240 ; Центр Y\nt.txt ; Таблица\n1000 ; Фокус\n640 ; Ширина\n480 ; Высота\n");
  ASSERT_TRUE(Shown(ui, ReadCameraFile(path, geometry)));
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_EQ(geometry.ImageCentreY, 240.0);
  EXPECT_EQ(geometry.ImageHeight, 480.0);
}

TEST_F(CameraFileTest, AFileInAFormatNotRecognisedSaysWhyOnItsSecondLine) {
  // UTF-16 (with and without its mark), OpenCV's YAML without the "%YAML" line, and a COLMAP list
  // in small letters are no camera file, and none is taken for its own format.
  std::string utf16;
  for (const char c : std::string("1 PINHOLE 640 480 500 500 320 240\n")) utf16 += {c, '\0'};
  const std::string f = std::string(kReadError) + "\nФормат файла не распознан: ";
  const struct {
    std::string text;
    std::string message;
  } cases[] = {
      {"\xFF\xFE" + utf16, f + "файл в кодировке UTF-16; сохраните его в UTF-8 или Windows-1251."},
      {utf16, f + "файл в кодировке UTF-16; сохраните его в UTF-8 или Windows-1251."},
      {"image_width: 640\nimage_height: 480\ncamera_matrix: !!opencv-matrix\n",
       f + "похож на файл калибровки OpenCV в YAML, но в его начале нет строки «%YAML:1.0», без "
           "которой OpenCV его не читает; добавьте её первой строкой."},
      {"1 pinhole 640 480 500 500 320 240\n",
       f + "похож на список камер COLMAP, но модель камеры «pinhole» записана не заглавными "
           "буквами; COLMAP пишет PINHOLE."},
      // A camera file that is only damaged keeps the one line it always had.
      {"1 ; a\r\n2\r\n", kReadError},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    FakeUi caseUi;
    InteriorGeometry g = Untouched();
    EXPECT_FALSE(Shown(caseUi, ReadCameraFile(folder.Write("camera", c.text), g)));
    ASSERT_EQ(caseUi.messages.size(), 1u);
    EXPECT_EQ(caseUi.messages[0].text, c.message);
    EXPECT_EQ(g.FocalLength, 33.0);
  }
}

}  // namespace
}  // namespace zelv
