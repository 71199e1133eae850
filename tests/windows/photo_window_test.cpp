// The photograph workspace driven as a user would: opening a photograph with its points, adding,
// moving, nudging, renumbering and deleting points with undo, the corner refinement, saving and the
// close question, the chessboard finder on a rendered board, and the orientation overlay with the
// point selection shared with the residuals window.
#include "app/windows/photo_window.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QFile>
#include <QGraphicsScene>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QScrollBar>
#include <QSpinBox>
#include <QStatusBar>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolBar>
#include <QUndoStack>
#include <QtTest>
#include <cmath>
#include <filesystem>
#include <memory>

#include "app/photo_points.h"
#include "app/windows/Orient_form.h"
#include "app/windows/photo_chessboard_dialog.h"
#include "app/windows/photo_items.h"
#include "app/windows/photo_point_model.h"
#include "app/windows/photo_view.h"
#include "app/windows/residuals_window.h"
#include "fake_ui.h"
#include "files/text_file.h"

using zelv::PhotoView;
using zelv::PhotoWindow;
using zelv::PixelPoint;
using zelv::RawPoints;
using zelv::TOrientation_Form;
using zelv::testing::FakeUi;

namespace {

const std::string kZhang = std::string(ZELV_TEST_DATA_DIR) + "/realdata/zhang/image1";
const std::string kSquare = std::string(ZELV_TEST_DATA_DIR) + "/golden/square";

// A rendered chessboard: `columns` × `rows` inner corners, squares of `square` pixels, turned by
// `degrees` about its first corner at `origin` (painter coordinates), so its corners lie between
// pixel centres. Corners() gives them in raw pixels (the centre of the top-left pixel
// at (0, 0)), row by row.
struct RenderedBoard {
  int columns = 9, rows = 6;
  double square = 36;
  double degrees = 4;
  QPointF origin{100.3, 90.7};
  QSize size{640, 480};

  QTransform Placement() const {
    QTransform t;
    t.translate(origin.x(), origin.y());
    t.rotate(degrees);
    return t;
  }
  // Drawn eight times larger without antialiasing and averaged down, so each pixel is the
  // board's true coverage to 1/64 (the antialiasing of the painter is coarser than that).
  QImage Image() const {
    constexpr int kSuper = 8;
    QImage big(size * kSuper, QImage::Format_RGB32);
    big.fill(Qt::white);
    QPainter painter(&big);
    painter.setTransform(Placement() * QTransform::fromScale(kSuper, kSuper));
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::black);
    // Squares from -1 to columns (rows): the inner corners are where four squares meet.
    for (int r = -1; r < rows; ++r)
      for (int c = -1; c < columns; ++c)
        if (((r + c) & 1) == 0) painter.drawRect(QRectF(c * square, r * square, square, square));
    painter.end();
    return big.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  }
  RawPoints Corners() const {
    RawPoints corners;
    for (int r = 0; r < rows; ++r)
      for (int c = 0; c < columns; ++c) {
        const QPointF p = Placement().map(QPointF(c * square, r * square));
        corners.push_back(PixelPoint{p.x() - 0.5, p.y() - 0.5});
      }
    return corners;
  }
};

double Distance(PixelPoint a, PixelPoint b) { return std::hypot(a.x - b.x, a.y - b.y); }

QString Q(const std::string& text) { return QString::fromStdString(text); }

// Runs `script` on the next modal dialog of type T that opens.
template <typename T>
void OnNextDialog(std::function<void(T*)> script) {
  auto* timer = new QTimer;
  timer->setInterval(20);
  QObject::connect(timer, &QTimer::timeout, [timer, script] {
    if (auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget())) {
      timer->stop();
      timer->deleteLater();
      script(dialog);
    }
  });
  timer->start();
}

// Selects a row as a click does. (Through the model: the view's own selectRow follows the
// keyboard modifiers that earlier simulated clicks may have left behind.)
void SelectRow(QAbstractItemView* view, int row) {
  view->selectionModel()->select(view->model()->index(row, 0),
                                 QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

// The viewport position of a photograph pixel.
QPoint ViewportAt(PhotoView* view, PixelPoint p) {
  return view->viewportTransform().map(QPointF(p.x, p.y)).toPoint();
}

// Saves a picture when ZELV_SCREENSHOT_DIR names a folder (to look at it, not to test it).
void MaybeSave(QWidget* widget, const QString& name) {
  const QString folder = qEnvironmentVariable("ZELV_SCREENSHOT_DIR");
  if (!folder.isEmpty()) widget->grab().save(folder + "/" + name);
}

struct Workspace {
  FakeUi ui;
  std::unique_ptr<PhotoWindow> window = std::make_unique<PhotoWindow>(ui);
  QTemporaryDir folder;

  std::string Path(const char* name) const { return folder.filePath(name).toStdString(); }
  // Opens a rendered board as photo.png, with `points` written as image.crd when given.
  void OpenBoard(const RenderedBoard& board, const RawPoints* points = nullptr) {
    QVERIFY(board.Image().save(Q(Path("photo.png"))));
    if (points != nullptr) zelv::SavePointFile(Path("image.crd"), *points, '.');
    window->resize(900, 650);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    QVERIFY(window->OpenPhoto(Path("photo.png"), Path("image.crd")));
  }
};

}  // namespace

class PhotoWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void realPhotographOpensWithItsPointsInViewAndList() {
    Workspace w;
    w.window->resize(1000, 700);
    w.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.window.get()));
    QVERIFY(w.window->OpenPhoto(kZhang + "/photo.png", kZhang + "/image-raw.crd"));
    QCOMPARE(w.window->PhotoSize(), QSize(640, 480));
    QCOMPARE(w.window->Points().size(), 256u);
    QCOMPARE(w.window->Model->rowCount(), 256);
    QCOMPARE(w.window->Model->index(0, 1).data().toString(), QStringLiteral("63.4392"));
    int drawn = 0;
    for (QGraphicsItem* item : w.window->Scene->items())
      if (item->type() == zelv::PhotoPointItem::Type) ++drawn;
    QCOMPARE(drawn, 256);
    QVERIFY(w.window->windowTitle().contains(QStringLiteral("photo.png")));
    QVERIFY(!w.window->Modified());
    // Fitted: the whole photograph is in view.
    const QRectF shown =
        w.window->View->mapToScene(w.window->View->viewport()->rect()).boundingRect();
    QVERIFY(shown.contains(QRectF(0, 0, 639, 479)));

    // Selecting a row selects the point and tells the others; selecting the point selects the row.
    QSignalSpy selected(w.window.get(), &PhotoWindow::PointSelected);
    SelectRow(w.window->List, 16);
    QCOMPARE(w.window->SelectedPoints(), std::vector<int>{17});
    QCOMPARE(selected.takeLast().at(0).toInt(), 17);
    w.window->SelectPoint(5);
    QCOMPARE(w.window->List->selectionModel()->selectedRows().size(), 1);
    QCOMPARE(w.window->List->selectionModel()->selectedRows().front().row(), 4);
    MaybeSave(w.window.get(), "photo-zhang.png");

    // A file that does not read is reported and the photograph stays without points.
    FakeUi ui;
    PhotoWindow other(ui);
    QVERIFY(other.OpenPhoto(kZhang + "/photo.png", kZhang + "/truth.json"));
    QCOMPARE(other.Points().size(), 0u);
    QCOMPARE(ui.messages.size(), 1u);
    QCOMPARE(Q(ui.messages[0].text),
             QStringLiteral("Ошибка чтения файла координат точек изображения!"));
    // A picture that does not decode leaves the window as it was.
    QVERIFY(!w.window->OpenPhoto(kZhang + "/image.crd", ""));
    QCOMPARE(w.window->Points().size(), 256u);
    QVERIFY(Q(w.ui.messages.back().text).startsWith(QStringLiteral("Не удалось открыть снимок")));
  }

  void zoomAndPanKeepThePixelUnderTheCursor() {
    Workspace w;
    w.OpenBoard(RenderedBoard{});
    PhotoView* view = w.window->View;
    const QPoint cursor(300, 200);
    const QPointF before = view->viewportTransform().inverted().map(QPointF(cursor));
    const double scale = view->Scale();
    QWheelEvent wheel(cursor, view->viewport()->mapToGlobal(cursor), QPoint(), QPoint(0, 480),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(view->viewport(), &wheel);
    QVERIFY(std::fabs(view->Scale() / scale - 2) < 1e-9);  // four notches double
    const QPointF after = view->viewportTransform().inverted().map(QPointF(cursor));
    QVERIFY(std::hypot(after.x() - before.x(), after.y() - before.y()) < 1.0 / view->Scale());
    w.window->ActualSizeAction->trigger();
    QCOMPARE(view->Scale(), 1.0);
    QTest::keyClick(view, Qt::Key_Plus);
    QCOMPARE(view->Scale(), 1.25);
    for (int i = 0; i < 100; ++i) QTest::keyClick(view, Qt::Key_Plus);
    QCOMPARE(view->Scale(), PhotoView::kMaximumScale);
    // Dragging the picture pans it.
    const int x = view->horizontalScrollBar()->value();
    QTest::mousePress(view->viewport(), Qt::LeftButton, {}, QPoint(400, 300));
    QMouseEvent move(QEvent::MouseMove, QPointF(300, 300),
                     view->viewport()->mapToGlobal(QPointF(300, 300)), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(view->viewport(), &move);
    QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, QPoint(300, 300));
    QCOMPARE(view->horizontalScrollBar()->value(), x + 100);
    QVERIFY(w.window->Points().empty());
    w.window->FitAction->trigger();
    QVERIFY(view->Scale() < 1.5);
  }

  // The middle button, and the left one with Space held, pan in every mode: in the adding mode
  // they add no point. The two zooms lead the tool bar, so a narrow window keeps them.
  void theMiddleButtonAndSpaceDragPanInEveryMode() {
    Workspace w;
    w.OpenBoard(RenderedBoard{});
    PhotoView* view = w.window->View;
    view->ZoomBy(8, view->viewport()->rect().center());
    w.window->AddModeAction->setChecked(true);
    const auto drag = [view](Qt::MouseButton button, QPoint from, QPoint to) {
      QTest::mousePress(view->viewport(), button, {}, from);
      QMouseEvent move(QEvent::MouseMove, QPointF(to), view->viewport()->mapToGlobal(QPointF(to)),
                       Qt::NoButton, button, Qt::NoModifier);
      QApplication::sendEvent(view->viewport(), &move);
      QTest::mouseRelease(view->viewport(), button, {}, to);
    };
    int x = view->horizontalScrollBar()->value();
    int y = view->verticalScrollBar()->value();
    drag(Qt::MiddleButton, QPoint(300, 200), QPoint(260, 170));
    QCOMPARE(view->horizontalScrollBar()->value(), x + 40);
    QCOMPARE(view->verticalScrollBar()->value(), y + 30);
    QVERIFY(w.window->Points().empty());

    view->setFocus();
    x = view->horizontalScrollBar()->value();
    QTest::keyPress(view, Qt::Key_Space);
    drag(Qt::LeftButton, QPoint(300, 200), QPoint(250, 200));
    QTest::keyRelease(view, Qt::Key_Space);
    QCOMPARE(view->horizontalScrollBar()->value(), x + 50);
    QVERIFY(w.window->Points().empty());
    // Space let go, a click adds a point again, at what a click measures: a hundredth.
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, QPoint(301, 203));
    QCOMPARE(w.window->Points().size(), 1u);
    for (double v : {w.window->Points()[0].x, w.window->Points()[0].y})
      QVERIFY2(std::fabs(v * 100 - std::round(v * 100)) < 1e-6,
               qPrintable(QString::number(v, 'g', 17)));

    auto* tools = w.window->findChild<QToolBar*>(QStringLiteral("PhotoToolBar"));
    QVERIFY(tools != nullptr);
    QCOMPARE(tools->actions().value(0), w.window->FitAction);
    QCOMPARE(tools->actions().value(1), w.window->ActualSizeAction);
  }

  // A point added below a long list shows its row, and saving says where it went.
  void aNewPointsRowScrollsIntoViewAndSavingSaysWhere() {
    Workspace w;
    RawPoints many;
    for (int i = 0; i < 80; ++i) many.push_back(PixelPoint{10.0 + i, 20.0 + i});
    w.OpenBoard(RenderedBoard{}, &many);
    w.window->resize(700, 400);
    QCoreApplication::processEvents();
    w.window->List->scrollToTop();
    w.window->AddPoint(PixelPoint{300, 200}, false);
    QCoreApplication::processEvents();
    const QRect row = w.window->List->visualRect(w.window->List->model()->index(80, 0));
    QVERIFY2(w.window->List->viewport()->rect().contains(row.center()),
             qPrintable(QStringLiteral("row at %1").arg(row.y())));
    QVERIFY(w.window->Save());
    QCOMPARE(w.window->statusBar()->currentMessage(),
             QStringLiteral("Сохранено в ") + Q(w.Path("image.crd")));
  }

  void pointsAreAddedMovedRenumberedAndDeletedWithUndo() {
    Workspace w;
    w.OpenBoard(RenderedBoard{});
    PhotoView* view = w.window->View;
    w.window->ActualSizeAction->trigger();
    view->centerOn(320, 240);

    // Ctrl+click adds a point where the click was.
    const PixelPoint first{300, 200}, second{350, 260};
    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::ControlModifier,
                      ViewportAt(view, first));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::ControlModifier,
                      ViewportAt(view, second));
    QCOMPARE(w.window->Points().size(), 2u);
    QVERIFY(Distance(w.window->Points()[0], first) <= 0.5);
    QVERIFY(Distance(w.window->Points()[1], second) <= 0.5);
    QVERIFY(w.window->Modified());
    QVERIFY(w.window->windowTitle().endsWith(QStringLiteral("[*]")));
    QCOMPARE(w.window->SelectedPoints(), std::vector<int>{2});  // the new point is selected
    // A click outside the photograph adds nothing.
    w.window->AddPoint(PixelPoint{-3, 10}, false);
    QCOMPARE(w.window->Points().size(), 2u);

    // The arrow keys move the selected point by a tenth of a pixel; the presses undo as one.
    const PixelPoint placed = w.window->Points()[1];
    view->setFocus();
    QTest::keyClick(view, Qt::Key_Right);
    QTest::keyClick(view, Qt::Key_Right);
    QTest::keyClick(view, Qt::Key_Up);
    QTest::keyClick(view, Qt::Key_Down, Qt::ShiftModifier);
    QVERIFY(std::fabs(w.window->Points()[1].x - (placed.x + 0.2)) < 1e-12);
    QVERIFY(std::fabs(w.window->Points()[1].y - (placed.y - 0.1 + 1)) < 1e-12);
    QCOMPARE(w.window->UndoStack->count(), 3);
    w.window->UndoStack->undo();
    QCOMPARE(w.window->Points()[1], placed);

    // Dragging a point moves it by the mouse's travel.
    const QPoint grab = ViewportAt(view, w.window->Points()[0]);
    QTest::mousePress(view->viewport(), Qt::LeftButton, {}, grab);
    for (int step = 1; step <= 4; ++step) {
      const QPointF at = grab + QPointF(5 * step, 3 * step);
      QMouseEvent move(QEvent::MouseMove, at, view->viewport()->mapToGlobal(at), Qt::NoButton,
                       Qt::LeftButton, Qt::NoModifier);
      QApplication::sendEvent(view->viewport(), &move);
    }
    QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, grab + QPoint(20, 12));
    QVERIFY(Distance(w.window->Points()[0], PixelPoint{first.x + 20, first.y + 12}) <= 0.75);
    QCOMPARE(w.window->UndoStack->undoText(), QStringLiteral("Перемещение точки"));

    // Renumbering moves point 2 to number 1; the dialog asks for the number.
    const RawPoints beforeRenumber = w.window->Points();
    w.window->SelectPoint(2);
    OnNextDialog<QDialog>([](QDialog* dialog) {
      dialog->findChild<QSpinBox*>()->setValue(1);
      dialog->accept();
    });
    w.window->RenumberAction->trigger();
    QCOMPARE(w.window->Points()[0], beforeRenumber[1]);
    QCOMPARE(w.window->Points()[1], beforeRenumber[0]);
    QCOMPARE(w.window->SelectedPoints(), std::vector<int>{1});

    // Delete removes the selected point; undo brings it back, redo takes it again.
    w.window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(w.window.get()));
    view->setFocus();
    QTest::keyClick(view, Qt::Key_Delete);
    QCOMPARE(w.window->Points().size(), 1u);
    QCOMPARE(w.window->Points()[0], beforeRenumber[0]);
    QCOMPARE(w.window->Model->rowCount(), 1);
    w.window->UndoAction->trigger();
    QCOMPARE(w.window->Points(), (RawPoints{beforeRenumber[1], beforeRenumber[0]}));
    w.window->RedoAction->trigger();
    QCOMPARE(w.window->Points().size(), 1u);
    // Undoing everything is the file as opened: nothing to save.
    while (w.window->UndoStack->canUndo()) w.window->UndoStack->undo();
    QVERIFY(w.window->Points().empty());
    QVERIFY(!w.window->Modified());
  }

  void aClickNearACornerRefinesToItWithinATenthOfAPixel() {
    const RenderedBoard board;
    Workspace w;
    w.OpenBoard(board);
    w.window->AddModeAction->setChecked(true);
    w.window->ActualSizeAction->trigger();
    const PixelPoint corner = board.Corners()[13];
    w.window->View->centerOn(corner.x, corner.y);
    const PixelPoint click{corner.x + 2.6, corner.y - 1.8};
    // In the adding mode a plain click adds; with Shift it goes to the refined corner.
    QTest::mouseClick(w.window->View->viewport(), Qt::LeftButton, Qt::ShiftModifier,
                      ViewportAt(w.window->View, click));
    QCOMPARE(w.window->Points().size(), 1u);
    QVERIFY2(Distance(w.window->Points()[0], corner) < 0.1,
             qPrintable(QString::number(Distance(w.window->Points()[0], corner))));
    // "Уточнить по углу" does the same for a point put by hand, as one undo step.
    w.window->AddPoint(PixelPoint{board.Corners()[20].x - 1.5, board.Corners()[20].y + 2}, false);
    w.window->RefineAction->trigger();
    QVERIFY(Distance(w.window->Points()[1], board.Corners()[20]) < 0.1);
    QCOMPARE(w.window->UndoStack->undoText(), QStringLiteral("Уточнение по углу"));
    // In the middle of a white square there is no corner: the point stays where it was put.
    const QPointF white = board.Placement().map(QPointF(1.5 * board.square, 0.5 * board.square));
    w.window->AddPoint(PixelPoint{white.x(), white.y()}, true);
    QVERIFY(Distance(w.window->Points()[2], PixelPoint{white.x(), white.y()}) < 1e-9);
  }

  void savingWritesTheFileAndTheCloseQuestionNeverLosesPoints() {
    Workspace w;
    const RawPoints opened = {{10.25, 20.5}, {100, 200.125}};
    w.OpenBoard(RenderedBoard{}, &opened);
    QCOMPARE(w.window->Points(), opened);
    w.window->AddPoint(PixelPoint{123.456789, 98.7654321}, false);

    // Close: the editor's question; Yes and a failed write keep the window and the points. (The
    // file is replaced by a folder of its name, which no save may replace.)
    QVERIFY(QFile::rename(Q(w.Path("image.crd")), Q(w.Path("kept.crd"))));
    QVERIFY(QDir(w.folder.path()).mkdir(QStringLiteral("image.crd")));
    w.ui.answers = {true};
    QVERIFY(!w.window->close());
    QCOMPARE(w.ui.questions.size(), 1u);
    QCOMPARE(Q(w.ui.questions[0].text), QStringLiteral("Данные не сохранены. Сохранить?"));
    QCOMPARE(Q(w.ui.questions[0].caption), QStringLiteral("Предупреждение"));
    QCOMPARE(w.ui.questions[0].owner, static_cast<void*>(w.window.get()));
    QVERIFY(Q(w.ui.messages.back().text).startsWith(QStringLiteral("Ошибка записи файла")));
    QVERIFY(w.window->isVisible());
    QVERIFY(w.window->Modified());
    QCOMPARE(w.window->Points().size(), 3u);
    QVERIFY(QDir(w.folder.path()).rmdir(QStringLiteral("image.crd")));
    QVERIFY(QFile::rename(Q(w.Path("kept.crd")), Q(w.Path("image.crd"))));

    // Yes again, and the file is written: read back it gives the points, CR LF, general text.
    w.ui.answers = {true};
    QSignalSpy saved(w.window.get(), &PhotoWindow::FilesSaved);
    QVERIFY(w.window->close());
    QCOMPARE(saved.size(), 1);
    QCOMPARE(saved[0][0].toString(), Q(w.Path("image.crd")));
    QVERIFY(w.ui.saveRequests.empty());  // its own file: no dialog
    const RawPoints read = zelv::ReadPointFile(w.Path("image.crd"));
    QCOMPARE(read.size(), 3u);
    QCOMPARE(read[2], (PixelPoint{123.456789, 98.7654321}));
    QFile file(Q(w.Path("image.crd")));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(),
             QByteArray("10.25 ; 20.5\r\n100 ; 200.125\r\n123.456789 ; 98.7654321\r\n"));

    // "Сохранить как..." asks for the name and about an existing file; No writes nothing.
    w.window->show();
    QVERIFY(w.window->OpenPhoto(w.Path("photo.png"), w.Path("image.crd")));
    w.window->AddPoint(PixelPoint{5, 6}, false);
    w.ui.files = {w.Path("image.crd")};
    w.ui.answers = {false};
    QVERIFY(!w.window->SaveAs());
    QCOMPARE(Q(w.ui.questions.back().text),
             QStringLiteral("Файл image.crd уже существует. Перезаписать?"));
    QCOMPARE(zelv::ReadPointFile(w.Path("image.crd")).size(), 3u);
    w.ui.files = {w.Path("copy.crd")};
    QVERIFY(w.window->SaveAs());
    QCOMPARE(zelv::ReadPointFile(w.Path("copy.crd")).size(), 4u);
    QCOMPARE(w.window->PointsFileName(), w.Path("copy.crd"));
    QVERIFY(!w.window->Modified());

    // No discards: the window closes, and opened again it shows the file.
    w.window->AddPoint(PixelPoint{7, 8}, false);
    w.ui.answers = {false};
    QVERIFY(w.window->close());
    QVERIFY(w.window->OpenPhoto(w.Path("photo.png"), w.Path("copy.crd")));
    QCOMPARE(w.window->Points().size(), 4u);
  }

  void chessboardFinderFillsTheImagePointsAndAMatchingSceneFile() {
    const RenderedBoard board;
    Workspace w;
    w.OpenBoard(board);
    OnNextDialog<zelv::PhotoChessboardDialog>([&board](zelv::PhotoChessboardDialog* dialog) {
      dialog->Columns->setValue(board.columns);
      dialog->Rows->setValue(board.rows);
      dialog->SquareSize->setValue(25);
      dialog->accept();
    });
    w.window->ChessboardAction->trigger();
    QCOMPARE(w.window->Points().size(), 54u);
    QVERIFY(w.window->ScenePoints().has_value());
    // Each found corner on the rendered one, in any of the board's symmetric orders; the scene
    // point of each is the corner's place on the board.
    const RawPoints truth = board.Corners();
    const RawPoints& scene = *w.window->ScenePoints();
    double worst = 0;
    for (std::size_t i = 0; i < truth.size(); ++i) {
      std::size_t nearest = 0;
      for (std::size_t j = 0; j < truth.size(); ++j)
        if (Distance(w.window->Points()[i], truth[j]) <
            Distance(w.window->Points()[i], truth[nearest]))
          nearest = j;
      worst = std::max(worst, Distance(w.window->Points()[i], truth[nearest]));
      // Neighbours in the found order are neighbours on the board, 25 units apart.
      if (i % 9 != 8)
        QCOMPARE(std::hypot(scene[i + 1].x - scene[i].x, scene[i + 1].y - scene[i].y), 25.0);
    }
    QVERIFY2(worst < 0.15, qPrintable(QString::number(worst)));

    // Saving asks for both names and writes both files; undo takes the board back.
    // Saving writes the workspace's image file and asks for the scene file's name.
    w.ui.files = {w.Path("board-scene.crd")};
    QSignalSpy saved(w.window.get(), &PhotoWindow::FilesSaved);
    QVERIFY(w.window->Save());
    QCOMPARE(w.ui.saveRequests.size(), 1u);
    QCOMPARE(w.ui.saveRequests[0].proposedName, std::string("scene.crd"));
    QCOMPARE(zelv::ReadPointFile(w.Path("board-scene.crd")), scene);
    QCOMPARE(zelv::ReadPointFile(w.Path("image.crd")).size(), 54u);
    QCOMPARE(saved[0][1].toString(), Q(w.Path("board-scene.crd")));
    // Undo takes the board back, and the image points' file is as the save left it.
    w.window->UndoStack->undo();
    QVERIFY(w.window->Points().empty());
    QVERIFY(!w.window->ScenePoints());
    QVERIFY(w.window->Modified());
    w.window->UndoStack->redo();
    QVERIFY(!w.window->Modified());
    // Saved once, the scene file is not asked for again.
    w.window->SelectPoint(1);
    w.window->NudgeSelected(0.1, 0);
    QVERIFY(w.window->Save());
    QCOMPARE(w.ui.saveRequests.size(), 1u);
    // Without a file of its own, the image points are asked for too, under the photograph's name.
    Workspace fresh;
    fresh.OpenBoard(board);
    QVERIFY(fresh.window->OpenPhoto(fresh.Path("photo.png"), ""));
    QVERIFY(fresh.window->FindChessboard(board.columns, board.rows, 25));
    fresh.ui.files = {fresh.Path("board.crd"), fresh.Path("board-scene.crd")};
    QVERIFY(fresh.window->Save());
    QCOMPARE(fresh.ui.saveRequests.size(), 2u);
    QCOMPARE(fresh.ui.saveRequests[0].proposedName, std::string("photo.crd"));
    QCOMPARE(fresh.ui.saveRequests[1].proposedName, std::string("scene.crd"));
    QCOMPARE(zelv::ReadPointFile(fresh.Path("board.crd")).size(), 54u);
    while (w.window->UndoStack->canUndo()) w.window->UndoStack->undo();

    // A board of another size is not there: a message, nothing changes.
    QVERIFY(!w.window->FindChessboard(7, 7, 1));
    QCOMPARE(Q(w.ui.messages.back().text),
             QStringLiteral("Шахматная мишень 7 × 7 внутренних углов на снимке не найдена."));
    QVERIFY(w.window->Points().empty());
  }

  void orientationOverlayPutsTheProjectionOfAnExactCaseOnItsPoints() {
    FakeUi ui;
    TOrientation_Form main(&ui);
    main.State().DecimalSeparator = '.';
    main.show();
    main.Image1Click();
    QTemporaryDir folder;
    // The exact square case beside a picture of the camera's size.
    for (const char* name : {"camera.cam", "table.txt", "image.crd", "scene.crd"})
      QVERIFY(QFile::copy(Q(kSquare + "/" + name), folder.filePath(name)));
    QImage blank(640, 480, QImage::Format_RGB32);
    blank.fill(Qt::gray);
    QVERIFY(blank.save(folder.filePath("square.png")));
    main.OpenPhoto(folder.filePath("square.png").toStdString());
    PhotoWindow* photo = main.Photo();
    QVERIFY(photo != nullptr && photo->isVisible());
    QCOMPARE(main.Edit1->text(), QStringLiteral("camera.cam"));
    QCOMPARE(main.Edit6->text(), QStringLiteral("image.crd"));
    QCOMPARE(main.Edit4->text(), QStringLiteral("scene.crd"));
    QVERIFY(!photo->Overlay());

    // Enter in the workspace runs the orientation of the main window.
    photo->OrientAction->trigger();
    QVERIFY(!main.ResultEdits[zelv::kCentreX]->text().isEmpty());
    QVERIFY(photo->Overlay().has_value());
    const RawPoints measured = zelv::ReadPointFile(folder.filePath("image.crd").toStdString());
    QCOMPARE(photo->Overlay()->points.size(), measured.size());
    for (const zelv::OverlayPoint& p : photo->Overlay()->points) {
      QVERIFY(Distance(p.measured, measured[static_cast<std::size_t>(p.number - 1)]) < 1e-9);
      QVERIFY(Distance(p.projected, p.measured) < 1e-6);
    }
    QCOMPARE(photo->ResidualLegend->text(),
             QStringLiteral("Невязки ×1 (наибольшая на снимке 0.0000 пикс.)"));
    MaybeSave(photo, "photo-square-overlay.png");
  }

  void realExampleOpensBesideTheMainWindowAndSharesTheSelection() {
    FakeUi ui;
    TOrientation_Form main(&ui);
    main.State().DecimalSeparator = '.';
    main.show();
    main.Image1Click();
    QTemporaryDir folder;
    for (const char* name : {"camera.cam", "table.txt", "scene.crd", "photo.png"})
      QVERIFY(QFile::copy(Q(kZhang + "/" + name), folder.filePath(name)));
    // The points as they lie on the photograph, under the photograph's own name.
    QVERIFY(QFile::copy(Q(kZhang + "/image-raw.crd"), folder.filePath("photo.crd")));
    main.OpenPhoto(folder.filePath("photo.png").toStdString());
    PhotoWindow* photo = main.Photo();
    QCOMPARE(photo->Points().size(), 256u);
    QCOMPARE(main.Edit6->text(), QStringLiteral("photo.crd"));
    main.N10Click();
    QVERIFY(photo->Overlay().has_value());
    QCOMPARE(photo->Overlay()->points.size(), 256u);
    // The identity camera keeps the lens distortion in the residuals: a few pixels at most.
    QVERIFY(photo->Overlay()->largest > 0.5 && photo->Overlay()->largest < 10);
    QVERIFY(photo->Overlay()->magnification >= 1);
    QVERIFY(photo->ResidualLegend->text().startsWith(QStringLiteral("Невязки ×")));
    QVERIFY(!photo->Model->index(0, 3).data().toString().isEmpty());

    main.N17Click();
    zelv::ResidualsWindow* residuals = main.Residuals();
    QVERIFY(residuals != nullptr);
    // Selected in the residuals table (sorted by |e|), the point is selected on the photograph.
    residuals->Table->sortByColumn(7, Qt::DescendingOrder);
    SelectRow(residuals->Table, 0);
    const int largest = residuals->Table->model()->index(0, 0).data().toString().toInt();
    QCOMPARE(photo->SelectedPoints(), std::vector<int>{largest});
    // Selected on the photograph, its row is selected in the table.
    SelectRow(photo->List, 16);
    const QModelIndexList rows = residuals->Table->selectionModel()->selectedRows();
    QVERIFY(!rows.isEmpty());
    QCOMPARE(rows.front().data().toString(), QStringLiteral("17"));
    MaybeSave(photo, "photo-zhang-overlay.png");
    photo->ActualSizeAction->trigger();
    photo->View->ZoomBy(3, photo->View->viewport()->rect().center());
    photo->View->centerOn(470, 440);
    MaybeSave(photo, "photo-zhang-overlay-zoom.png");

    // The main window's close asks about the workspace's points first; No closes both.
    photo->AddPoint(PixelPoint{10, 10}, false);
    ui.answers = {false};
    QVERIFY(main.close());
    QCOMPARE(Q(ui.questions.front().text), QStringLiteral("Данные не сохранены. Сохранить?"));
  }

  // Not a test: with ZELV_PHOTO_TOUR set, a 50-megapixel photograph is made, opened, zoomed and
  // panned by script, and the time of each repaint is printed (the figures for a person to judge;
  // run it under xvfb-run with QT_QPA_PLATFORM=xcb and ZELV_SCREENSHOT_DIR to see the frames).
  void tourOfALargePhotograph() {
    if (qEnvironmentVariableIsEmpty("ZELV_PHOTO_TOUR"))
      QSKIP("set ZELV_PHOTO_TOUR to run the tour");
    QTemporaryDir folder;
    const QString file = folder.filePath("large.jpg");
    {
      QImage large(8660, 5774, QImage::Format_RGB32);  // 50.0 megapixels
      large.fill(QColor(235, 235, 225));
      QPainter painter(&large);
      painter.setRenderHint(QPainter::Antialiasing, true);
      painter.setPen(QPen(Qt::black, 3));
      for (int i = 0; i < 120; ++i) {
        painter.setBrush(QColor::fromHsv((i * 37) % 360, 160, 200));
        painter.drawEllipse(QPointF(150 + (i % 12) * 700, 200 + (i / 12) * 560), 260, 200);
      }
      RawPoints points;
      for (int r = 0; r < 16; ++r)
        for (int c = 0; c < 16; ++c) points.push_back(PixelPoint{400.0 + c * 500, 300.0 + r * 340});
      painter.end();
      QVERIFY(large.save(file, "JPG", 90));
      zelv::SavePointFile(folder.filePath("large.crd").toStdString(), points, '.');
    }
    Workspace w;
    w.window->resize(1400, 900);
    w.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.window.get()));
    QElapsedTimer clock;
    clock.start();
    QVERIFY(w.window->OpenPhoto(file.toStdString(), folder.filePath("large.crd").toStdString()));
    qInfo("open and levels of detail: %lld ms", static_cast<long long>(clock.elapsed()));
    QCOMPARE(w.window->Points().size(), 256u);
    PhotoView* view = w.window->View;
    std::vector<double> frames;
    const auto frame = [&] {
      clock.restart();
      view->viewport()->repaint();
      QApplication::processEvents();
      frames.push_back(clock.nsecsElapsed() / 1e6);
    };
    const auto report = [&](const char* what) {
      std::vector<double> sorted = frames;
      std::sort(sorted.begin(), sorted.end());
      qInfo("%s: %zu frames, median %.1f ms, 90th %.1f ms, worst %.1f ms", what, sorted.size(),
            sorted[sorted.size() / 2], sorted[sorted.size() * 9 / 10], sorted.back());
      frames.clear();
    };
    frame();
    MaybeSave(w.window.get(), "photo-large-fit.png");
    frames.clear();
    const QPointF centre = view->viewport()->rect().center();
    for (int i = 0; i < 40; ++i) {
      view->ZoomBy(std::pow(2.0, 0.25), centre);  // one wheel notch
      frame();
    }
    report("zoom in, fit to 64x");
    for (int i = 0; i < 24; ++i) {
      view->ZoomBy(std::pow(2.0, -0.25), centre);
      frame();
    }
    report("zoom out to 1.6x");
    MaybeSave(w.window.get(), "photo-large-zoomed.png");
    for (int i = 0; i < 60; ++i) {
      view->horizontalScrollBar()->setValue(view->horizontalScrollBar()->value() + 40);
      view->verticalScrollBar()->setValue(view->verticalScrollBar()->value() + 25);
      frame();
    }
    report("pan at 1.6x");
    w.window->FitAction->trigger();
    for (int i = 0; i < 40; ++i) {
      view->ZoomBy(i % 2 == 0 ? 1.19 : 1 / 1.19, QPointF(200 + 20 * i, 300));
      frame();
    }
    report("zoom about the cursor near fit");
    w.window->ActualSizeAction->trigger();
    for (int i = 0; i < 60; ++i) {
      view->horizontalScrollBar()->setValue(view->horizontalScrollBar()->value() - 30);
      frame();
    }
    report("pan at 1:1");
  }
};

QTEST_MAIN(PhotoWindowTest)
#include "photo_window_test.moc"
