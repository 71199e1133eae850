// The residuals window reached from the main window: the menu item follows the result, the window
// shows the picture, the sortable table and the summary, refreshes after each orientation, and
// its CSV file reads back.
#include "app/windows/residuals_window.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

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

QString Cell(const QTableWidget* table, int row, int column) {
  return table->item(row, column)->text();
}

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
    QCOMPARE(w.Residuals()->Table->rowCount(), 4);
    QCOMPARE(Cell(w.Residuals()->Table, 2, 3), QStringLiteral("1200.0000"));

    // Choosing another file clears the result: the item is disabled and the window empties.
    h.ui.files.push_back((kGolden + "/square/image.crd").toStdString());
    w.Button3Click();
    QVERIFY(!w.N17->isEnabled());
    QCOMPARE(w.Residuals()->Table->rowCount(), 0);
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

    QTableWidget* table = r->Table;
    QCOMPARE(table->rowCount(), 9);
    QStringList headings;
    for (int c = 0; c < table->columnCount(); ++c)
      headings << table->horizontalHeaderItem(c)->text();
    QCOMPARE(headings, (QStringList{"№", "x", "y", "X", "Y", "ex", "ey", "|e|", "!"}));
    for (int row = 0; row < 9; ++row) {
      const bool flagged = Cell(table, row, 0) == QStringLiteral("4");
      QCOMPARE(Cell(table, row, 8), flagged ? QStringLiteral("!") : QString());
      QCOMPARE(table->item(row, 5)->foreground().color() == QColor(200, 0, 0), flagged);
    }
    QVERIFY(table->isSortingEnabled());

    // Numeric sort: by |e| descending the moved point comes first, and "10" would sort before
    // "9" as text, so the numbers column must also sort as numbers.
    table->sortByColumn(7, Qt::DescendingOrder);
    QCOMPARE(Cell(table, 0, 0), QStringLiteral("4"));
    for (int row = 1; row < 9; ++row)
      QVERIFY(table->item(row - 1, 7)->data(Qt::UserRole).toDouble() >=
              table->item(row, 7)->data(Qt::UserRole).toDouble());
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
    QCOMPARE(table->rowCount(), 4);
    QCOMPARE(r->Report()->residuals.summary.flaggedCount, 0);
    QCOMPARE(RedPixels(r->Picture->grab().toImage()), 0);
    QCOMPARE(r->Picture->MagnificationText(), QStringLiteral("×1"));  // nothing to magnify
  }

  void surveyExampleFlagsNothingAndScalesWithTheWindow() {
    Harness h;
    ResidualsWindow* r = h.OrientAndOpen(kSurvey, 1);
    QVERIFY(r != nullptr);
    QCOMPARE(r->Table->rowCount(), 24);
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
    const QTableWidget* table = r->Table;
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
};

QTEST_MAIN(ResidualsWindowTest)
#include "residuals_window_test.moc"
