// "Найти мишень..." in the photograph workspace, driven as the user drives it: the menu's action,
// the target file chosen in the open dialog, the points and scene points that come back, undo.
#include <QAction>
#include <QImage>
#include <QTemporaryDir>
#include <QUndoStack>
#include <QtTest>
#include <cmath>
#include <fstream>

#include "app/windows/photo_window.h"
#include "fake_ui.h"
#include "targets/target_drawing.h"

using zelv::PhotoWindow;

namespace {

const char kCharuco[] =
    "%YAML:1.0\n---\nkind: charuco\nrows: 5\ncolumns: 7\nsquare_size: 30\nmarker_size: 21\n"
    "dictionary: DICT_5X5_100\n";

}  // namespace

class PhotoTargetTest : public QObject {
  Q_OBJECT

 private slots:
  void findTargetFillsThePointsAndTheScenePointsInIdentifierOrder() {
    QTemporaryDir folder;
    const std::string targetPath = folder.filePath("board.yml").toStdString();
    std::ofstream(targetPath) << kCharuco;
    const zelv::Expected<zelv::TargetDescription> target = zelv::ReadTargetDescription(targetPath);
    QVERIFY(target);
    // The board seen square on, drawn at 4 pixels per scene unit with a margin of 30 units.
    const zelv::Expected<zelv::TargetPicture> picture = zelv::DrawTarget(*target, 4, 30);
    QVERIFY(picture);
    QImage image(picture->image.pixels.data(), picture->image.width, picture->image.height,
                 picture->image.width, QImage::Format_Grayscale8);
    const QString photo = folder.filePath("photo.png");
    QVERIFY(image.save(photo));

    zelv::testing::FakeUi ui;
    PhotoWindow window(ui);
    window.resize(900, 650);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(window.OpenPhoto(photo.toStdString(), ""));
    ui.files = {targetPath};
    window.TargetAction->trigger();
    QVERIFY2(ui.messages.empty(), ui.messages.empty() ? "" : ui.messages[0].text.c_str());
    const std::vector<zelv::TargetCorner> corners = zelv::TargetCorners(*target);
    QCOMPARE(window.Points().size(), corners.size());
    QVERIFY(window.ScenePoints());
    for (std::size_t i = 0; i < corners.size(); ++i) {
      const double x = (corners[i].x - picture->uMin) * 4 - 0.5;
      const double y = (corners[i].y - picture->vMin) * 4 - 0.5;
      QVERIFY2(std::hypot(window.Points()[i].x - x, window.Points()[i].y - y) < 0.1,
               qPrintable(QString::number(i)));
      QCOMPARE((*window.ScenePoints())[i].x, corners[i].x);
      QCOMPARE((*window.ScenePoints())[i].y, corners[i].y);
    }
    QVERIFY(window.Modified());
    // One undo step takes the target back.
    window.UndoStack->undo();
    QVERIFY(window.Points().empty());

    // A wrong target file: its message, nothing changes.
    const std::string wrong = folder.filePath("wrong.yml").toStdString();
    std::ofstream(wrong) << "%YAML:1.0\n---\nkind: charuco\nrows: 5\n";
    ui.files = {wrong};
    window.TargetAction->trigger();
    QCOMPARE(ui.messages.size(), 1u);
    QVERIFY(ui.messages[0].text.find("ключ «columns» — не задан") != std::string::npos);
    QVERIFY(window.Points().empty());
    // Cancelled: nothing at all.
    ui.files = {std::nullopt};
    window.TargetAction->trigger();
    QCOMPARE(ui.messages.size(), 1u);
  }
};

QTEST_MAIN(PhotoTargetTest)
#include "photo_target_test.moc"
