// The residuals window reached from the main window: the menu item follows the result, the window
// shows the picture, the sortable table and the summary, refreshes after each orientation, and
// its CSV file reads back.
#include "app/windows/residuals_window.h"

#include <QAction>
#include <QApplication>
#include <QBrush>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>
#include <cmath>
#include <memory>
#include <optional>

#include "app/orientation_residuals.h"
#include "app/windows/Orient_form.h"
#include "app/windows/residual_picture.h"
#include "fake_ui.h"

using zelv::ResidualsWindow;
using zelv::TOrientation_Form;
using zelv::testing::FakeUi;

namespace {

const QString kGolden = QStringLiteral(ZELV_TEST_DATA_DIR "/golden");
const QString kSurvey = QStringLiteral(ZELV_TEST_DATA_DIR "/../../examples/survey");

QByteArray ReadBytes(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return QByteArray();
  return file.readAll();
}

bool WriteBytes(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Copies the three files (and the table) of `from` into `to`, moving the image point on line
// `number` by `dx` raw pixels to the right when `number` is above 0.
bool CopyCase(const QString& from, const QString& to, int number = 0, double dx = 0) {
  if (!QDir().mkpath(to)) return false;
  for (const char* name : {"camera.cam", "image.crd", "scene.crd", "table.txt"})
    if (!QFile::copy(from + "/" + name, to + "/" + name)) return false;
  if (number <= 0) return true;
  QList<QByteArray> lines = ReadBytes(to + "/image.crd").split('\n');
  QByteArray& line = lines[number - 1];
  const int semicolon = line.indexOf(';');
  line = QByteArray::number(line.left(semicolon).trimmed().toDouble() + dx, 'f', 3) + " ;" +
         line.mid(semicolon + 1);
  QFile::remove(to + "/image.crd");
  return WriteBytes(to + "/image.crd", lines.join('\n'));
}

// A main window on the fake user interface, past its start-up picture.
struct Harness {
  FakeUi ui;
  std::unique_ptr<TOrientation_Form> window;

  explicit Harness(char separator = '.') : window(std::make_unique<TOrientation_Form>(&ui)) {
    window->State().DecimalSeparator = separator;
    window->show();
    window->Image1Click();
  }
  void UseCase(const QString& folder, int level) {
    window->State().CameraFileName = (folder + "/camera.cam").toStdString();
    window->State().ImageFileName = (folder + "/image.crd").toStdString();
    window->State().SceneFileName = (folder + "/scene.crd").toStdString();
    window->Edit1->setText(QStringLiteral("camera.cam"));
    window->Edit6->setText(QStringLiteral("image.crd"));
    window->Edit4->setText(QStringLiteral("scene.crd"));
    window->State().Settings.EstimateLevel = level;
  }
  // Orients `folder` and opens the residuals window through the menu.
  ResidualsWindow* OrientAndOpen(const QString& folder, int level) {
    UseCase(folder, level);
    window->N10->trigger();
    if (!window->N17->isEnabled()) return nullptr;
    window->N17->trigger();
    return window->Residuals();
  }
};

QString Cell(const QTableView* table, int row, int column) {
  return table->model()->index(row, column).data().toString();
}

QVariant CellData(const QTableView* table, int row, int column, int role) {
  return table->model()->index(row, column).data(role);
}

int Rows(const QTableView* table) { return table->model()->rowCount(); }

// Counts the pixels of `image` that are clearly red.
int RedPixels(const QImage& image) {
  int count = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) {
      const QColor c = image.pixelColor(x, y);
      if (c.red() > 150 && c.green() < 80 && c.blue() < 80) ++count;
    }
  return count;
}

// The bounding box of the frame's grey fill in a picture.
QRect FrameBox(const QImage& image) {
  QRect box;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      if (image.pixelColor(x, y) == QColor(250, 248, 235)) box |= QRect(x, y, 1, 1);
  return box;
}

// Saves the picture when ZELV_SCREENSHOT_DIR names a folder (to look at it, not to test it).
void MaybeSave(const QImage& image, const QString& name) {
  const QString folder = qEnvironmentVariable("ZELV_SCREENSHOT_DIR");
  if (!folder.isEmpty()) image.save(folder + "/" + name);
}

}  // namespace

class ResidualsWindowTest : public QObject {
  Q_OBJECT

 private slots:
  // The numbers of crowded points never cover one another, each stays beside its own dot, and
  // a flagged point's number is the one kept; apart, every number sits up and to the right.
  void crowdedPointNumbersDoNotOverlap() {
    std::vector<QPointF> dots;
    std::vector<QSizeF> sizes;
    std::vector<bool> flagged;
    for (int i = 0; i < 30; ++i) {
      dots.emplace_back(100 + (i % 6) * 6, 100 + (i / 6) * 6);
      sizes.emplace_back(14, 12);
      flagged.push_back(i == 14);
    }
    const std::vector<QRectF> labels = zelv::PlaceNumberLabels(dots, sizes, flagged);
    QCOMPARE(labels.size(), dots.size());
    QVERIFY(!labels[14].isEmpty());
    int shown = 0;
    for (std::size_t i = 0; i < labels.size(); ++i) {
      if (labels[i].isEmpty()) continue;
      ++shown;
      QVERIFY(labels[i].adjusted(-5, -5, 5, 5).contains(dots[i]));
      for (std::size_t j = 0; j < i; ++j) QVERIFY(!labels[i].intersects(labels[j]));
    }
    QVERIFY(shown >= 4);

    const std::vector<QRectF> apart =
        zelv::PlaceNumberLabels({{10, 100}, {200, 100}}, {{14, 12}, {14, 12}}, {false, false});
    for (std::size_t i = 0; i < 2; ++i) {
      const QPointF dot = i == 0 ? QPointF(10, 100) : QPointF(200, 100);
      QVERIFY(apart[i].left() > dot.x() && apart[i].bottom() < dot.y());
    }
  }

  void menuItemIsEnabledOnlyWhileAResultIsShown() {
    Harness h;
    TOrientation_Form& w = *h.window;
    auto* command = w.menuBar()->findChild<QMenu*>(QStringLiteral("CommandMenu"));
    QVERIFY(command != nullptr);
    QVERIFY(command->actions().contains(w.N17));
    QCOMPARE(w.N17->objectName(), QStringLiteral("N17"));
    QCOMPARE(w.N17->text(), QStringLiteral("Невязки..."));
    QVERIFY(!w.N17->isEnabled());
    w.N17->trigger();  // disabled: nothing opens
    QVERIFY(w.Residuals() == nullptr);

    h.UseCase(kGolden + "/square", 0);
    w.N10->trigger();
    QVERIFY(w.N17->isEnabled());

    // A run refused after reading keeps the shown result and its residuals.
    QTemporaryDir temp;
    const QString three = temp.filePath(QStringLiteral("three.crd"));
    QVERIFY(WriteBytes(three, "1 ; 1\r\n300 ; 2\r\n3 ; 400\r\n"));
    w.State().ImageFileName = three.toStdString();
    w.N10->trigger();
    QVERIFY(w.N17->isEnabled());
    w.N17->trigger();
    QVERIFY(w.Residuals() != nullptr);
    QCOMPARE(Rows(w.Residuals()->Table), 4);
    QCOMPARE(Cell(w.Residuals()->Table, 2, 3), QStringLiteral("1200.0000"));

    // Choosing another file clears the result: the item is disabled and the window empties.
    h.ui.files.push_back((kGolden + "/square/image.crd").toStdString());
    w.Button3Click();
    QVERIFY(!w.N17->isEnabled());
    QCOMPARE(Rows(w.Residuals()->Table), 0);
    QCOMPARE(w.Residuals()->Summary->text(), QStringLiteral("Нет результата ориентации."));
    QVERIFY(!w.Residuals()->SaveButton->isEnabled());
  }

  void windowShowsTheTablePictureAndSummaryAndFollowsEachOrientation() {
    QTemporaryDir temp;
    const QString bad = temp.filePath(QStringLiteral("bad"));
    QVERIFY(CopyCase(kGolden + "/synthetic3", bad, 4, 40));
    Harness h;
    ResidualsWindow* r = h.OrientAndOpen(bad, 1);
    QVERIFY(r != nullptr);
    QVERIFY(r->isVisible());
    QVERIFY(r->isWindow());
    QCOMPARE(r->windowTitle(), QStringLiteral("Невязки"));

    QTableView* table = r->Table;
    QCOMPARE(Rows(table), 9);
    QStringList headings;
    for (int c = 0; c < table->model()->columnCount(); ++c)
      headings << table->model()->headerData(c, Qt::Horizontal).toString();
    QCOMPARE(headings, (QStringList{"№", "x", "y", "X", "Y", "ex", "ey", "|e|", "!"}));
    for (int row = 0; row < 9; ++row) {
      const bool flagged = Cell(table, row, 0) == QStringLiteral("4");
      QCOMPARE(Cell(table, row, 8), flagged ? QStringLiteral("!") : QString());
      QCOMPARE(qvariant_cast<QBrush>(CellData(table, row, 5, Qt::ForegroundRole)).color() ==
                   QColor(200, 0, 0),
               flagged);
    }
    QVERIFY(table->isSortingEnabled());

    // Numeric sort: by |e| descending the moved point comes first, and "10" would sort before
    // "9" as text, so the numbers column must also sort as numbers.
    table->sortByColumn(7, Qt::DescendingOrder);
    QCOMPARE(Cell(table, 0, 0), QStringLiteral("4"));
    for (int row = 1; row < 9; ++row)
      QVERIFY(CellData(table, row - 1, 7, Qt::UserRole).toDouble() >=
              CellData(table, row, 7, Qt::UserRole).toDouble());
    table->sortByColumn(0, Qt::DescendingOrder);
    QCOMPARE(Cell(table, 0, 0), QStringLiteral("9"));

    const zelv::ResidualsReport& report = *r->Report();
    QCOMPARE(r->Summary->text(),
             QString::fromStdString(zelv::ResidualSummaryText(report.residuals, '.')));
    QVERIFY(r->Summary->text().contains(QStringLiteral("(точка 4)")));
    QVERIFY(r->Summary->text().contains(QStringLiteral("Отмечено точек: 1 (за 3σ)")));

    // The longest arrow is about a tenth of the frame, never more.
    const double tenth = std::max(report.imageWidth, report.imageHeight) / 10;
    const double longest = report.residuals.summary.largest * r->Picture->Magnification();
    QVERIFY2(longest > tenth * 0.4 && longest <= tenth, qPrintable(QString::number(longest)));
    QCOMPARE(r->Picture->MagnificationText(), "×" + QString::number(r->Picture->Magnification()));
    r->resize(700, 800);
    const QImage picture = r->Picture->grab().toImage();
    QVERIFY(RedPixels(picture) > 20);  // the flagged point, its arrow and its number
    MaybeSave(r->grab().toImage(), QStringLiteral("residuals-bad-point.png"));

    // One window at a time, refreshed by the next orientation without being reopened.
    h.window->N17->trigger();
    QCOMPARE(h.window->findChildren<ResidualsWindow*>().size(), 1);
    h.UseCase(kGolden + "/square", 0);
    h.window->N10->trigger();
    QCOMPARE(Rows(table), 4);
    QCOMPARE(r->Report()->residuals.summary.flaggedCount, 0);
    QCOMPARE(RedPixels(r->Picture->grab().toImage()), 0);
    QCOMPARE(r->Picture->MagnificationText(), QStringLiteral("×1"));  // nothing to magnify
  }

  void surveyExampleFlagsNothingAndScalesWithTheWindow() {
    Harness h;
    ResidualsWindow* r = h.OrientAndOpen(kSurvey, 1);
    QVERIFY(r != nullptr);
    QCOMPARE(Rows(r->Table), 24);
    QCOMPARE(r->Report()->residuals.summary.flaggedCount, 0);
    r->resize(760, 760);
    MaybeSave(r->grab().toImage(), QStringLiteral("residuals-survey.png"));
    // The frame (1600 x 1200 pixels) keeps its aspect ratio in a wide, a tall and a small
    // picture: the box of its grey fill is 4:3 wherever the window's shape leaves room.
    for (const QSize size : {QSize(1200, 300), QSize(300, 1200), QSize(240, 180)}) {
      r->Picture->resize(size);
      const QRect box = FrameBox(r->Picture->grab().toImage());
      QVERIFY(!box.isEmpty());
      const double ratio = double(box.width()) / box.height();
      QVERIFY2(std::fabs(ratio - 4.0 / 3.0) < 0.05, qPrintable(QString::number(ratio)));
    }
  }

  void csvFileReadsBackWithTheRegionalSeparator() {
    QTemporaryDir temp;
    Harness h(',');
    ResidualsWindow* r = h.OrientAndOpen(kGolden + "/synthetic1", 1);
    QVERIFY(r != nullptr);
    const QString path = temp.filePath(QStringLiteral("out.csv"));
    h.ui.files.push_back(path.toStdString());
    QTest::mouseClick(r->SaveButton, Qt::LeftButton);
    QCOMPARE(r->SaveButton->text(), QStringLiteral("Сохранить CSV..."));
    QCOMPARE(h.ui.saveRequests.size(), std::size_t{1});
    QCOMPARE(h.ui.saveRequests[0].defaultSuffix, std::string("csv"));
    QCOMPARE(h.ui.saveRequests[0].proposedName, std::string("image-residuals.csv"));
    QCOMPARE(h.ui.saveRequests[0].owner.window, static_cast<void*>(r));

    const QList<QByteArray> lines = ReadBytes(path).split('\n');
    QCOMPARE(lines.size(), 1 + 8 + 1);  // the heading, eight points, nothing after the last CR LF
    QCOMPARE(lines[0], QByteArray("N;x;y;X;Y;ex;ey;|e|;flag\r"));
    QCOMPARE(lines.last(), QByteArray());
    const QTableView* table = r->Table;
    for (int row = 0; row < 8; ++row) {
      const QList<QByteArray> cells = lines[row + 1].chopped(1).split(';');
      QCOMPARE(cells.size(), 9);
      for (int c = 0; c < 9; ++c) QCOMPARE(QString::fromUtf8(cells[c]), Cell(table, row, c));
      QVERIFY(cells[5].contains(','));
      // Read back as numbers they are the residuals to four decimals.
      const double ex = QString::fromUtf8(cells[5]).replace(',', '.').toDouble();
      QVERIFY(std::fabs(ex - r->Report()->residuals.points[static_cast<std::size_t>(row)].ex) <=
              0.00005);
    }

    // An existing file is replaced only when the user agrees.
    h.ui.files.push_back(path.toStdString());
    h.ui.answers.push_back(false);
    QVERIFY(WriteBytes(path, "old"));
    r->SaveButtonClick();
    QCOMPARE(h.ui.questions.back().text, std::string("Файл out.csv уже существует. Перезаписать?"));
    QCOMPARE(h.ui.questions.back().caption, std::string("Предупреждение"));
    QCOMPARE(ReadBytes(path), QByteArray("old"));

    // A folder that does not exist: the message, and no file.
    const QString nowhere = temp.filePath(QStringLiteral("no/such/out.csv"));
    h.ui.files.push_back(nowhere.toStdString());
    r->SaveButtonClick();
    QCOMPARE(h.ui.messages.back().text, std::string("Ошибка записи CSV-файла!"));
    QCOMPARE(h.ui.messages.back().caption, std::string("Ошибка!"));
    QVERIFY(!QFile::exists(nowhere));

    // Cancelled: nothing happens.
    const std::size_t messages = h.ui.messages.size();
    r->SaveButtonClick();
    QCOMPARE(h.ui.messages.size(), messages);
  }

  // A re-run with many points refreshes the open window without the table measuring or holding
  // a cell of its own per point (a table of items sized to its contents took minutes here).
  void aReRunWithManyPointsRefreshesTheOpenWindow() {
    FakeUi ui;
    ResidualsWindow r(ui, nullptr);
    r.resize(760, 760);
    r.show();
    QVERIFY(QTest::qWaitForWindowExposed(&r));
    const int count = 1000000;
    auto report = [count](double shift) {
      zelv::ResidualsReport made;
      made.imageWidth = 2000;
      made.imageHeight = 1500;
      made.decimalSeparator = '.';
      made.csvName = "many-residuals.csv";
      made.residuals.points.resize(static_cast<std::size_t>(count));
      for (int i = 0; i < count; ++i) {
        zelv::PointResidual& p = made.residuals.points[static_cast<std::size_t>(i)];
        p.number = i + 1;
        p.x = (i % 1000) * 2.0 - 1000;
        p.y = (i / 1000) * 1.5 - 750;
        p.ex = shift * ((i % 7) - 3);
        p.ey = shift * ((i % 5) - 2);
        p.length = std::hypot(p.ex, p.ey);
        p.flagged = i == 123456;
      }
      made.residuals.summary.largest = shift * std::hypot(3.0, 2.0);
      made.residuals.summary.largestNumber = 1;
      made.residuals.summary.flaggedCount = 1;
      made.residuals.summary.sigmaCount = 3;
      return made;
    };
    QElapsedTimer clock;
    for (const double shift : {0.5, 0.25}) {
      const std::optional<zelv::ResidualsReport> made = report(shift);
      clock.start();
      r.ShowReport(made);
      QCoreApplication::processEvents();  // the repaint of the table and the picture
      qInfo("refresh of %d points: %lld ms", count, static_cast<long long>(clock.elapsed()));
      QCOMPARE(Rows(r.Table), count);
      QCOMPARE(Cell(r.Table, count - 1, 0), QString::number(count));
      QCOMPARE(Cell(r.Table, 0, 5), QString::number(-3 * shift, 'f', 4));
    }
    QCOMPARE(r.Table->horizontalHeader()->sectionResizeMode(0), QHeaderView::Interactive);
    QCOMPARE(r.Table->verticalHeader()->sectionResizeMode(0), QHeaderView::Fixed);

    // Sorting by |e| puts the longest residuals first; the flagged point keeps its colour.
    clock.start();
    r.Table->sortByColumn(7, Qt::DescendingOrder);
    qInfo("sort of %d points: %lld ms", count, static_cast<long long>(clock.elapsed()));
    QCOMPARE(CellData(r.Table, 0, 7, Qt::UserRole).toDouble(), 0.25 * std::hypot(3.0, 2.0));
    r.Table->sortByColumn(0, Qt::AscendingOrder);
    QCOMPARE(qvariant_cast<QBrush>(CellData(r.Table, 123456, 5, Qt::ForegroundRole)).color(),
             QColor(200, 0, 0));
    QVERIFY(!CellData(r.Table, 123455, 5, Qt::ForegroundRole).isValid());

    // A point chosen elsewhere is selected and shown; a row the user selects is reported.
    QSignalSpy chosen(&r, &ResidualsWindow::PointSelected);
    r.SelectPoint(123457);
    QCOMPARE(r.Table->selectionModel()->selectedRows().size(), 1);
    QCOMPARE(r.Table->selectionModel()->selectedRows().front().row(), 123456);
    QCOMPARE(chosen.count(), 0);
    r.Table->selectRow(10);
    QCOMPARE(chosen.count(), 1);
    QCOMPARE(chosen.front().front().toInt(), 11);
  }
};

QTEST_MAIN(ResidualsWindowTest)
#include "residuals_window_test.moc"
