// The window "Калибровка камеры" as the user meets it: opened from the menu "Счёт", photographs
// of the example's chessboard added, run in the background, the intrinsics shown, a view dropped,
// the camera saved and read back, a run stopped.
#include "app/windows/calibration_window.h"

#include <QAction>
#include <QComboBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>
#include <cmath>

#include "app/windows/Orient_form.h"
#include "app/windows/calibration_picture.h"
#include "fake_ui.h"
#include "files/calibration_file.h"

using zelv::CalibrationPicture;
using zelv::CalibrationWindow;
using zelv::TOrientation_Form;
using zelv::testing::FakeUi;

namespace {

const std::string kExample = ZELV_SOURCE_DIR "/examples/calibration/";

std::vector<std::string> Views(int first, int last) {
  std::vector<std::string> views;
  for (int i = first; i <= last; ++i)
    views.push_back(kExample +
                    QStringLiteral("view%1.png").arg(i, 2, 10, QLatin1Char('0')).toStdString());
  return views;
}

double Fx(const CalibrationWindow& w) { return w.Result()->calibration.camera.fx; }

}  // namespace

class CalibrationWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void aRunGivesTheCameraADroppedViewChangesItAndASaveReadsBack() {
    FakeUi ui;
    TOrientation_Form main(&ui);
    QVERIFY(main.CalibrationAction != nullptr);
    main.CalibrationAction->trigger();
    CalibrationWindow* w = main.Calibration();
    QVERIFY(w != nullptr && w->isVisible());
    QVERIFY(!w->RunButton->isEnabled());  // nothing to calibrate yet
    QVERIFY(!w->SaveButton->isEnabled());

    w->AddPhotographs(Views(1, 8));
    w->AddPhotographs(Views(8, 8));  // listed once
    w->SetTargetFile(kExample + "target.yml");
    QCOMPARE(w->ViewTable->rowCount(), 8);
    QVERIFY(w->RunButton->isEnabled());

    QSignalSpy finished(w, &CalibrationWindow::RunFinished);
    QTest::mouseClick(w->RunButton, Qt::LeftButton);
    // The work runs on its own thread: the window answers meanwhile and can be stopped.
    QVERIFY(w->Running());
    QVERIFY(w->StopButton->isEnabled());
    QVERIFY(!w->RunButton->isEnabled());
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 120000);
    QVERIFY(ui.messages.empty());
    QVERIFY(w->Result().has_value());
    QVERIFY2(std::abs(Fx(*w) - 720) < 2, qPrintable(QString::number(Fx(*w))));
    QVERIFY(std::abs(w->Result()->calibration.camera.cx - 403.5) < 2);
    QCOMPARE(w->ViewTable->item(0, 1)->text(), QStringLiteral("54"));
    QVERIFY(!w->ViewTable->item(0, 2)->text().isEmpty());
    const QString text = w->ResultText->toPlainText();
    QVERIFY2(text.contains(QStringLiteral("fx = ")) && text.contains(QStringLiteral("±")),
             qPrintable(text));
    QVERIFY(text.contains(QStringLiteral("СКО невязок")));

    // The selected view: its corners, the residuals magnified, the maps over it.
    w->ViewTable->selectRow(2);
    QCOMPARE(w->Picture->CornerCount(), 54);
    QVERIFY(!w->Picture->Photograph().isNull());
    QVERIFY(w->Picture->Legend().contains(QStringLiteral("увеличены в")));
    w->OverlayBox->setCurrentIndex(1);
    QCOMPARE(w->Picture->OverlayKind(), CalibrationPicture::Overlay::kUncertainty);
    QVERIFY(w->Picture->Legend().contains(QStringLiteral("неопределённость")));
    w->OverlayBox->setCurrentIndex(2);
    QCOMPARE(w->Picture->OverlayKind(), CalibrationPicture::Overlay::kCoverage);

    // Saved as an OpenCV calibration, it reads back to the same camera with its covariance.
    QTemporaryDir folder;
    const std::string yml = folder.filePath(QStringLiteral("camera.yml")).toStdString();
    ui.files.push_back(yml);
    QTest::mouseClick(w->SaveButton, Qt::LeftButton);
    QVERIFY(ui.messages.empty());
    const zelv::LensCalibration read = zelv::LoadCalibrationFile(yml, 0);
    QCOMPARE(read.fx, Fx(*w));
    QCOMPARE(read.intrinsicsCovariance.size(), size_t{81});
    // And as a COLMAP camera list, chosen by the file's type.
    const std::string colmap = folder.filePath(QStringLiteral("cameras.txt")).toStdString();
    ui.files.push_back(colmap);
    QTest::mouseClick(w->SaveButton, Qt::LeftButton);
    QVERIFY(ui.messages.empty());
    QCOMPARE(zelv::LoadCalibrationFile(colmap, 0).fx, read.fx);

    // Dropping a view takes the result away until the next run, which differs.
    const double before = Fx(*w);
    w->ViewTable->item(0, 0)->setCheckState(Qt::Unchecked);
    QVERIFY(!w->Result().has_value());
    QVERIFY(!w->SaveButton->isEnabled());
    QTest::mouseClick(w->RunButton, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 2, 120000);
    QVERIFY(w->Result().has_value());
    QCOMPARE(w->Result()->calibration.views.size(), size_t{7});
    QVERIFY(Fx(*w) != before);
    QVERIFY(w->ViewTable->item(0, 2)->text().isEmpty());
  }

  void aRunIsStoppedAndTheWindowClosesDuringARun() {
    FakeUi ui;
    CalibrationWindow w(ui);
    w.show();
    w.AddPhotographs(Views(1, 6));
    w.SetTargetFile(kExample + "target.yml");
    QSignalSpy finished(&w, &CalibrationWindow::RunFinished);
    QTest::mouseClick(w.RunButton, Qt::LeftButton);
    QTest::mouseClick(w.StopButton, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 120000);
    QVERIFY(!w.Result().has_value());
    QVERIFY(ui.messages.empty());  // stopping is no failure to report
    QVERIFY2(w.ResultText->toPlainText().contains(QStringLiteral("остановлен")),
             qPrintable(w.ResultText->toPlainText()));
    QVERIFY(w.RunButton->isEnabled());

    // Closing the window while it works waits for the work to stop, nothing left running.
    QTest::mouseClick(w.RunButton, Qt::LeftButton);
    QVERIFY(w.Running());
    w.close();
    QVERIFY(!w.Running());
  }

  void aTargetFileThatDoesNotReadIsReported() {
    FakeUi ui;
    CalibrationWindow w(ui);
    w.AddPhotographs(Views(1, 1));
    w.SetTargetFile(kExample + "no-such-target.yml");
    QSignalSpy finished(&w, &CalibrationWindow::RunFinished);
    QTest::mouseClick(w.RunButton, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 60000);
    QCOMPARE(ui.messages.size(), size_t{1});
    QVERIFY(!w.Result().has_value());
  }
};

QTEST_MAIN(CalibrationWindowTest)
#include "calibration_window_test.moc"
