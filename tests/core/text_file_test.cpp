// Windows-1251 text files: line ends, code page, large files and the atomic replace.
#include "files/text_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>

#include "base/zelv_error.h"
#include "scratch_folder.h"

namespace zelv {
namespace {

using testing::ScratchFolder;
using Lines = std::vector<std::string>;

TEST(LoadTextLinesTest, CrLfAndCrLfAllEndALineAndTheLastEndMakesNoEmptyLine) {
  ScratchFolder folder;
  EXPECT_EQ(LoadTextLines(folder.Write("a", "one\r\ntwo\rthree\nfour")),
            (Lines{"one", "two", "three", "four"}));
  EXPECT_EQ(LoadTextLines(folder.Write("b", "one\r\n")), (Lines{"one"}));
  EXPECT_EQ(LoadTextLines(folder.Write("c", "one\r")), (Lines{"one"}));
  EXPECT_EQ(LoadTextLines(folder.Write("d", "one\r\n\r\n")), (Lines{"one", ""}));
  EXPECT_EQ(LoadTextLines(folder.Write("e", "one\n\rtwo")), (Lines{"one", "", "two"}));
  EXPECT_EQ(LoadTextLines(folder.Write("f", "")), Lines{});
  EXPECT_EQ(LoadTextLines(folder.Write("g", "\r\n")), (Lines{""}));
}

TEST(LoadTextLinesTest, DecodesWindows1251IntoUtf8) {
  ScratchFolder folder;
  // "Ошибка!" and the whole upper half of the code page that is defined.
  const std::string path = folder.Write("cyr", "\xce\xf8\xe8\xe1\xea\xe0!\r\n\xa8\xb8\x88\r\n");
  EXPECT_EQ(LoadTextLines(path), (Lines{"Ошибка!", "Ёё€"}));
}

TEST(LoadTextLinesTest, InvalidWindows1251AndNulBytesFailTheLoad) {
  ScratchFolder folder;
  EXPECT_THROW(LoadTextLines(folder.Write("undefined", "12 ; 3\r\n4\x98 ; 5\r\n")), ZelvError);
  EXPECT_THROW(LoadTextLines(folder.Write("nul", std::string("12 ; 3\r\n4\0 ; 5", 14))), ZelvError);
}

TEST(LoadTextLinesTest, AMissingFileOrAFolderFailsTheLoad) {
  ScratchFolder folder;
  EXPECT_THROW(LoadTextLines(folder.Path("missing.crd")), ZelvError);
  EXPECT_THROW(LoadTextLines(folder.Folder().string()), ZelvError);
}

TEST(LoadTextLinesTest, ATenMegabyteLineAndAMillionLinesLoadQuickly) {
  ScratchFolder folder;
  const std::string longLine(10 * 1024 * 1024, '7');
  std::string many;
  many.reserve(12 * 1000000);
  for (int i = 0; i < 1000000; ++i) many += std::to_string(i) + " ; 1\r\n";
  const std::string longPath = folder.Write("long", longLine + "\r\nend");
  const std::string manyPath = folder.Write("many", many);

  const auto start = std::chrono::steady_clock::now();
  const Lines longLines = LoadTextLines(longPath);
  const Lines manyLines = LoadTextLines(manyPath);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  ASSERT_EQ(longLines.size(), 2u);
  EXPECT_EQ(longLines[0].size(), longLine.size());
  EXPECT_EQ(longLines[1], "end");
  ASSERT_EQ(manyLines.size(), 1000000u);
  EXPECT_EQ(manyLines[999999], "999999 ; 1");
  EXPECT_LT(seconds, 5.0);  // well under a second on an idle machine
}

TEST(SaveTextLinesTest, WritesWindows1251WithCrLfAfterEveryLine) {
  ScratchFolder folder;
  const std::string path = folder.Path("camera.cam");
  SaveTextLines(path, {"320 ; Координата X", "", "x"});
  EXPECT_EQ(ScratchFolder::Read(path),
            "320 ; \xca\xee\xee\xf0\xe4\xe8\xed\xe0\xf2\xe0 X\r\n\r\nx\r\n");
  EXPECT_EQ(LoadTextLines(path), (Lines{"320 ; Координата X", "", "x"}));
  SaveTextLines(path, {});
  EXPECT_EQ(ScratchFolder::Read(path), "");
}

TEST(SaveTextLinesTest, ReplacingKeepsTheOldPermissionsAndLeavesNoTemporaryFile) {
  ScratchFolder folder;
  const std::string path = folder.Write("points.crd", "old\r\n");
  ASSERT_EQ(chmod(path.c_str(), 0640), 0);
  SaveTextLines(path, {"new"});
  struct stat info {};
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
  EXPECT_EQ(ScratchFolder::Read(path), "new\r\n");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.Folder()),
                          std::filesystem::directory_iterator()),
            1);
}

TEST(SaveTextLinesTest, ANewFileGetsTheUsualPermissions) {
  ScratchFolder folder;
  const mode_t mask = umask(022);
  const std::string path = folder.Path("new.crd");
  SaveTextLines(path, {"1 ; 2"});
  umask(mask);
  struct stat info {};
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0644u);
}

TEST(SaveTextLinesTest, TextOutsideWindows1251FailsAndKeepsTheOldFile) {
  ScratchFolder folder;
  const std::string path = folder.Write("scene.crd", "old\r\n");
  EXPECT_THROW(SaveTextLines(path, {"1 ; 2", "中"}), ZelvError);
  EXPECT_EQ(ScratchFolder::Read(path), "old\r\n");
}

TEST(SaveTextLinesTest, AWriteThatFailsHalfwayKeepsTheOldFileAndRemovesTheTemporary) {
  ScratchFolder folder;
  const std::string path = folder.Write("image.crd", "old\r\n");
  Lines lines(1000, "1234.5678 ; 8765.4321");
  // The child may write at most 100 bytes per file, so the write fails midway (EFBIG).
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit {
      100, 100
    };
    setrlimit(RLIMIT_FSIZE, &limit);
    try {
      SaveTextLines(path, lines);
    } catch (const ZelvError&) {
      _exit(0);
    }
    _exit(1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the failed write was not reported";
  EXPECT_EQ(ScratchFolder::Read(path), "old\r\n");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.Folder()),
                          std::filesystem::directory_iterator()),
            1);
}

TEST(SaveTextLinesTest, AFolderOrADeviceIsNeverReplaced) {
  ScratchFolder folder;
  std::filesystem::create_directory(folder.Path("sub"));
  EXPECT_THROW(SaveTextLines(folder.Path("sub"), {"x"}), ZelvError);
  EXPECT_TRUE(std::filesystem::is_directory(folder.Path("sub")));
  EXPECT_THROW(SaveTextLines("/dev/full", {"x"}), ZelvError);
  EXPECT_TRUE(std::filesystem::is_character_file("/dev/full"));
  EXPECT_THROW(SaveTextLines(folder.Path("no/such/folder.crd"), {"x"}), ZelvError);
}

TEST(SaveTextLinesTest, SavingThroughALinkReplacesTheFileItPointsAt) {
  ScratchFolder folder;
  const std::string target = folder.Write("target.crd", "old\r\n");
  std::filesystem::create_symlink(target, folder.Path("link.crd"));
  SaveTextLines(folder.Path("link.crd"), {"new"});
  EXPECT_TRUE(std::filesystem::is_symlink(folder.Path("link.crd")));
  EXPECT_EQ(ScratchFolder::Read(target), "new\r\n");
}

TEST(FileExistsTest, OnlyFilesExist) {
  ScratchFolder folder;
  EXPECT_TRUE(FileExists(folder.Write("a.crd", "")));
  EXPECT_FALSE(FileExists(folder.Path("b.crd")));
  EXPECT_FALSE(FileExists(folder.Folder().string()));
  EXPECT_FALSE(FileExists(""));
}

TEST(PathPartsTest, FolderAndNameSplitAtTheLastSeparator) {
  EXPECT_EQ(FolderOf("/data/survey/camera.cam"), "/data/survey/");
  EXPECT_EQ(FileNameOf("/data/survey/camera.cam"), "camera.cam");
  EXPECT_EQ(FolderOf("C:\\data\\t.txt"), "C:\\data\\");
  EXPECT_EQ(FileNameOf("tables\\t.txt"), "t.txt");
  EXPECT_EQ(FolderOf("camera.cam"), "");
  EXPECT_EQ(FileNameOf("camera.cam"), "camera.cam");
  EXPECT_EQ(FolderOf("/x.cam"), "/");
}

}  // namespace
}  // namespace zelv
