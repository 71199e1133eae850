// The one guarded way in: every reader opens its file without blocking, reads only a regular file
// or a pipe given on purpose, refuses what is too large before reading it, and reads the bytes of
// the descriptor it checked. One test per rule, each over every reader.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#include "base/zelv_error.h"
#include "fake_ui.h"
#include "files/calibration_file.h"
#include "files/camera_file.h"
#include "files/coordinate_file.h"
#include "files/point_table.h"
#include "files/text_file.h"
#include "scratch_folder.h"

namespace zelv {
namespace {

using testing::ScratchFolder;

const char kYaml[] =
    "%YAML:1.0\n---\nimage_width: 640\nimage_height: 480\ncamera_matrix: !!opencv-matrix\n"
    "   rows: 3\n   cols: 3\n   dt: d\n   data: [ 800., 0., 320., 0., 800., 240., 0., 0., 1. ]\n"
    "distortion_coefficients: !!opencv-matrix\n   rows: 1\n   cols: 5\n   dt: d\n"
    "   data: [ -0.1, 0.01, 0., 0., 0. ]\n";

struct Reader {
  const char* name;
  // Reads `path` as this reader does; true when it read. `folder` holds a camera file's table.
  std::function<bool(const std::string& path, ScratchFolder& folder)> read;
};

// Every reader of an input, each given the path of the input under test.
std::vector<Reader> EveryReader() {
  return {
      {"camera file",
       [](const std::string& path, ScratchFolder&) {
         testing::FakeUi ui;
         InteriorGeometry geometry;
         return Shown(ui, ReadCameraFile(path, geometry));
       }},
      {"correction table",
       [](const std::string& path, ScratchFolder& folder) {
         testing::FakeUi ui;
         InteriorGeometry geometry;
         // The table is named beside the camera file; a link there leads to the input.
         std::filesystem::remove(folder.Path("linked-table"));
         std::filesystem::create_symlink(path, folder.Path("linked-table"));
         const std::string camera = folder.Write(
             "named.cam",
             "320 ; x\r\n240 ; y\r\nlinked-table ; t\r\n1000 ; f\r\n640 ; w\r\n480 ; h\r\n");
         return Shown(ui, ReadCameraFile(camera, geometry));
       }},
      {"calibration file",
       [](const std::string& path, ScratchFolder&) {
         testing::FakeUi ui;
         InteriorGeometry geometry;
         DetectCameraFileFormat(path);
         return Shown(ui, ReadCalibrationFile(path, 0, geometry));
       }},
      {"image points",
       [](const std::string& path, ScratchFolder&) {
         testing::FakeUi ui;
         VT_Points points(1);
         return Shown(ui, ReadImagePoints(path, points, {"1"}, 320, 240));
       }},
      {"raw image points",
       [](const std::string& path, ScratchFolder&) {
         testing::FakeUi ui;
         VT_Points points(1);
         return Shown(ui, ReadRawImagePoints(path, points));
       }},
      {"scene points",
       [](const std::string& path, ScratchFolder&) {
         testing::FakeUi ui;
         VT_Points points(1);
         std::vector<std::string> ids;
         return Shown(ui, ReadScenePoints(path, points, &ids));
       }},
      {"list of names",
       [](const std::string& path, ScratchFolder&) {
         try {
           ReadInputLines(path, 1 << 20);
           return true;
         } catch (const InputFileError&) {
           return false;
         }
       }},
  };
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

TEST(GuardedInputTest, AFifoNoProgramWritesIsRefusedAtOnceByEveryReader) {
  ScratchFolder folder;
  const std::string fifo = folder.Path("points.csv");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  for (const Reader& reader : EveryReader()) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(reader.read(fifo, folder)) << reader.name;
    EXPECT_LT(SecondsSince(start), 2.0) << reader.name;
  }
  EXPECT_EQ(DetectCameraFileFormat(fifo), CameraFileFormat::CamFile);
}

TEST(GuardedInputTest, ADeviceOrAFolderIsRefusedUnreadByEveryReader) {
  ScratchFolder folder;
  std::filesystem::create_symlink("/dev/zero", folder.Path("zero.csv"));
  for (const std::string& path : {folder.Path("zero.csv"), folder.Folder().string()})
    for (const Reader& reader : EveryReader()) {
      const auto start = std::chrono::steady_clock::now();
      EXPECT_FALSE(reader.read(path, folder)) << reader.name << " " << path;
      // /dev/zero read to the size cap would take seconds and a gigabyte.
      EXPECT_LT(SecondsSince(start), 2.0) << reader.name;
    }
}

TEST(GuardedInputTest, AFileBeyondItsSizeCapIsRefusedBeforeItIsRead) {
  ScratchFolder folder;
  // Sparse: no room taken, a size one byte beyond the cap of every data file.
  const std::string huge = folder.Write("huge.csv", "");
  ASSERT_EQ(truncate(huge.c_str(), static_cast<off_t>(kLargestDataFile) + 1), 0);
  for (const Reader& reader : EveryReader()) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(reader.read(huge, folder)) << reader.name;
    EXPECT_LT(SecondsSince(start), 2.0) << reader.name;
  }
  try {
    ReadInputFile(huge);
    ADD_FAILURE() << "read";
  } catch (const InputFileError& error) {
    EXPECT_EQ(error.reason(), InputFileError::Reason::kTooLarge);
  }
  // A calibration is refused beyond its own, smaller cap, with its reader's message.
  const std::string yaml = folder.Write("big.yml", std::string(kYaml) + std::string(1 << 20, '#'));
  testing::FakeUi ui;
  InteriorGeometry geometry;
  EXPECT_FALSE(Shown(ui, ReadCalibrationFile(yaml, 0, geometry)));
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text,
            "Ошибка чтения файла калибровки камеры: файл слишком велик для файла калибровки!");
}

// A pipe as a shell's "<(...)" gives it: the name /dev/fd/N of the read end, the text written
// by another thread.
class Pipe {
 public:
  explicit Pipe(std::string text) {
    if (::pipe(ends_) != 0) throw std::runtime_error("pipe");
    writer_ = std::thread([this, text = std::move(text)] {
      std::size_t done = 0;
      while (done < text.size()) {
        const ssize_t n = ::write(ends_[1], text.data() + done, text.size() - done);
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
      }
      ::close(ends_[1]);
    });
  }
  ~Pipe() {
    writer_.join();
    ::close(ends_[0]);
  }
  std::string Name() const { return "/dev/fd/" + std::to_string(ends_[0]); }

 private:
  int ends_[2];
  std::thread writer_;
};

TEST(GuardedInputTest, APipeGivenOnPurposeIsReadOnceFormatDetectionIncluded) {
  {
    // The detection reads the pipe; the reader that follows gets the same bytes.
    Pipe pipe(kYaml);
    EXPECT_EQ(DetectCameraFileFormat(pipe.Name()), CameraFileFormat::OpenCvStorage);
    testing::FakeUi ui;
    InteriorGeometry geometry;
    EXPECT_TRUE(Shown(ui, ReadCalibrationFile(pipe.Name(), 0, geometry)))
        << (ui.messages.empty() ? "" : ui.messages[0].text);
    EXPECT_EQ(geometry.FocalLength, 800);
  }
  {
    Pipe pipe("# list\n1 PINHOLE 640 480 800 800 320.5 240.5\n");
    EXPECT_EQ(DetectCameraFileFormat(pipe.Name()), CameraFileFormat::ColmapCameras);
    EXPECT_EQ(LoadCalibrationFile(pipe.Name(), 0).cx, 320);
  }
  {
    // A reader alone reads the pipe to its end, beyond any one write.
    std::string text;
    for (int i = 0; i < 20000; ++i) text += std::to_string(i) + " ; 1\r\n";
    Pipe pipe(text);
    testing::FakeUi ui;
    VT_Points points(1);
    EXPECT_TRUE(Shown(ui, ReadScenePoints(pipe.Name(), points)));
    EXPECT_EQ(points.Count(), 20000);
  }
}

TEST(GuardedInputTest, AWriterThatStaysSilentIsNotWaitedForForEver) {
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  const auto start = std::chrono::steady_clock::now();
  try {
    ReadInputFile("/dev/fd/" + std::to_string(ends[0]));
    ADD_FAILURE() << "read";
  } catch (const InputFileError& error) {
    EXPECT_EQ(error.reason(), InputFileError::Reason::kCannotRead);
  }
  EXPECT_LT(SecondsSince(start), 15.0);
  ::close(ends[0]);
  ::close(ends[1]);
}

TEST(GuardedInputTest, ListsOfNamesDropTheByteOrderMarkAndKeepTheirBytes) {
  ScratchFolder folder;
  const std::string manifest = folder.Write("batch.csv",
                                            "\xEF\xBB\xBF"
                                            "a.cam,b.crd,c.crd\r\n\xD0\xB0.cam,x,y\n");
  EXPECT_EQ(ReadInputLines(manifest, 1024),
            (std::vector<std::string>{"a.cam,b.crd,c.crd", "\xD0\xB0.cam,x,y"}));
  EXPECT_THROW(ReadInputLines(manifest, 8), InputFileError);
}

}  // namespace
}  // namespace zelv
