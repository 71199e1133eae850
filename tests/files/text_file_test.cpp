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
  // Well under a second on an idle machine; a thread-sanitizer build runs many times slower.
#if defined(__SANITIZE_THREAD__)
  EXPECT_LT(seconds, 50.0);
#else
  EXPECT_LT(seconds, 5.0);
#endif
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

TEST(LoadTextLinesTest, ValidUtf8OrAByteOrderMarkIsReadAsUtf8) {
  ScratchFolder folder;
  // A comment with a Cyrillic letter, as every editor here writes it.
  EXPECT_EQ(LoadTextLines(folder.Write("utf8", "320 ; Координата X\r\n240 ; ё\n")),
            (Lines{"320 ; Координата X", "240 ; ё"}));
  // The mark is dropped, also before plain ASCII.
  EXPECT_EQ(LoadTextLines(folder.Write("bom",
                                       "\xEF\xBB\xBF"
                                       "1 ; 2\r\n")),
            (Lines{"1 ; 2"}));
  EXPECT_EQ(LoadTextLines(folder.Write("bom-only", "\xEF\xBB\xBF")), Lines{});
  // After the mark the text must be UTF-8 throughout.
  EXPECT_THROW(LoadTextLines(folder.Write("bom-bad", "\xEF\xBB\xBF\xce\xf8")), TextEncodingError);
  // Bytes that are not UTF-8 (a truncated sequence, an overlong form, a surrogate) are
  // Windows-1251 as before.
  EXPECT_EQ(LoadTextLines(folder.Write("cp", "\xd0\xe0\xe7")), (Lines{"Раз"}));
  EXPECT_EQ(LoadTextLines(folder.Write("overlong", "\xc0\xaf")), (Lines{"АЇ"}));
  EXPECT_EQ(LoadTextLines(folder.Write("surrogate", "\xed\xa0\x80")), (Lines{"н\u00a0Ђ"}));
  EXPECT_EQ(LoadTextLines(folder.Write("cut", "x\xd0")), (Lines{"xР"}));
  EXPECT_THROW(LoadTextLines(folder.Write("nul", std::string("\xd0\xb0\0", 3))), ZelvError);
}

TEST(LoadTextLinesTest, AFifoADeviceOrAnAbsurdSizeIsRefusedBeforeReading) {
  ScratchFolder folder;
  const std::string fifo = folder.Path("table.txt");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::filesystem::create_symlink("/dev/zero", folder.Path("zero.txt"));
  // Sparse: it takes no room, but its size is one byte beyond the limit.
  const std::string huge = folder.Write("huge.crd", "");
  ASSERT_EQ(truncate(huge.c_str(), static_cast<off_t>(kLargestDataFile) + 1), 0);
  const auto start = std::chrono::steady_clock::now();
  for (const std::string& path : {fifo, folder.Path("zero.txt"), std::string("/dev/null"), huge}) {
    try {
      LoadTextLines(path);
      ADD_FAILURE() << path << " was read";
    } catch (const ZelvError& error) {
      EXPECT_NE(std::string(error.what()).find(path), std::string::npos) << error.what();
    }
  }
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 5.0);
  EXPECT_TRUE(IsSpecialFile(fifo));
  EXPECT_TRUE(IsSpecialFile("/dev/zero"));
  EXPECT_FALSE(IsSpecialFile(huge));
  EXPECT_FALSE(IsSpecialFile(folder.Folder().string()));
  EXPECT_FALSE(IsSpecialFile(folder.Path("missing")));
}

TEST(SaveTextLinesTest, ACharacterWindows1251CannotHoldIsNamed) {
  ScratchFolder folder;
  try {
    SaveTextLines(folder.Path("a.cam"), {"Ёё€ ok", "1 ; 中"});
    FAIL() << "saved";
  } catch (const TextEncodingError& error) {
    EXPECT_EQ(std::string(error.what()),
              "Символ «中» (U+4E2D) нельзя записать в кодировке Windows-1251");
  }
  try {
    SaveTextLines(folder.Path("b.cam"), {"x\xc2\x85"});  // a control character: by its code
    FAIL() << "saved";
  } catch (const TextEncodingError& error) {
    EXPECT_EQ(std::string(error.what()), "Символ U+0085 нельзя записать в кодировке Windows-1251");
  }
  EXPECT_THROW(SaveTextLines(folder.Path("c.cam"), {"\xff"}), TextEncodingError);
  EXPECT_FALSE(std::filesystem::exists(folder.Path("a.cam")));
}

TEST(SaveTextLinesTest, NamesUpToTheLongestTheFolderAllowsAreSaved) {
  ScratchFolder folder;
  const long nameMax = pathconf(folder.Folder().c_str(), _PC_NAME_MAX);
  ASSERT_GT(nameMax, 13);
  for (long length = nameMax - 13; length <= nameMax; ++length) {
    const std::string name(static_cast<std::size_t>(length), 'n');
    SaveTextLines(folder.Path(name), {"1 ; 2"});
    EXPECT_EQ(ScratchFolder::Read(folder.Path(name)), "1 ; 2\r\n") << length;
    SaveTextLines(folder.Path(name), {"3 ; 4"});  // and replaced
    EXPECT_EQ(ScratchFolder::Read(folder.Path(name)), "3 ; 4\r\n") << length;
  }
  // Two-byte letters up to the limit: the temporary name is cut between letters.
  std::string cyrillic;
  while (cyrillic.size() + 2 <= static_cast<std::size_t>(nameMax)) cyrillic += "ж";
  SaveTextLines(folder.Path(cyrillic), {"5"});
  EXPECT_EQ(ScratchFolder::Read(folder.Path(cyrillic)), "5\r\n");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.Folder()),
                          std::filesystem::directory_iterator()),
            15);
}

TEST(SaveTextLinesTest, AnInterruptOrTerminationDuringASaveLeavesNoTemporaryFile) {
  for (const int signal : {SIGINT, SIGTERM}) {
    ScratchFolder folder;
    const std::string path = folder.Path("big.crd");
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      // Saves forever; the parent interrupts one of the saves while its temporary file exists.
      const Lines lines(400000, "1234.5678 ; 8765.4321");
      for (;;) SaveTextLines(path, lines);
    }
    bool seen = false;
    const auto start = std::chrono::steady_clock::now();
    while (!seen && std::chrono::steady_clock::now() - start < std::chrono::seconds(30)) {
      std::error_code ignored;
      for (const auto& entry : std::filesystem::directory_iterator(folder.Folder(), ignored))
        if (entry.path().extension() == ".tmp") seen = true;
    }
    kill(child, signal);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(seen) << "no save seen under way";
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), signal);  // the signal still ends the program
    for (const auto& entry : std::filesystem::directory_iterator(folder.Folder()))
      EXPECT_EQ(entry.path().filename(), "big.crd") << strsignal(signal);
  }
}

TEST(SaveTextLinesTest, ADanglingLinkGetsItsFileAndLinksInACircleAreRefused) {
  ScratchFolder folder;
  std::filesystem::create_directory(folder.Path("data"));
  // Relative, through two links: the file is made where the last one points.
  std::filesystem::create_symlink("data/new.ort", folder.Path("first.ort"));
  std::filesystem::create_symlink("first.ort", folder.Path("second.ort"));
  SaveTextLines(folder.Path("second.ort"), {"1"});
  EXPECT_TRUE(std::filesystem::is_symlink(folder.Path("second.ort")));
  EXPECT_TRUE(std::filesystem::is_symlink(folder.Path("first.ort")));
  EXPECT_EQ(ScratchFolder::Read(folder.Path("data/new.ort")), "1\r\n");

  std::filesystem::create_symlink("loop-b.ort", folder.Path("loop-a.ort"));
  std::filesystem::create_symlink("loop-a.ort", folder.Path("loop-b.ort"));
  std::filesystem::create_symlink("no/such/folder.ort", folder.Path("nowhere.ort"));
  for (const char* name : {"loop-a.ort", "nowhere.ort"}) {
    try {
      SaveTextLines(folder.Path(name), {"2"});
      ADD_FAILURE() << name << " saved";
    } catch (const ZelvError& error) {
      EXPECT_NE(std::string(error.what()).find(name), std::string::npos) << error.what();
    }
    EXPECT_TRUE(std::filesystem::is_symlink(folder.Path(name))) << name << " was replaced";
  }
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
