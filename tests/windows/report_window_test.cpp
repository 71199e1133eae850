// Файл → "Сохранить отчёт..." and Счёт → "Схема..." as a user meets them: disabled without a
// result, the report written as HTML or PDF by the chosen name, a replaced file asked about, a
// failed write shown, and the scheme's figures drawn and exported.
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>
#include <string>

#include "app/windows/Orient_form.h"
#include "fake_ui.h"

using zelv::TOrientation_Form;
using zelv::testing::FakeUi;

namespace {

const std::string kZhang = std::string(ZELV_SOURCE_DIR) + "/examples/zhang";

QByteArray Head(const QString& path, int bytes) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return QByteArray();
  return file.read(bytes);
}

}  // namespace

class ReportWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void SavesTheReportOfTheResultShownAsHtmlOrPdf() {
    QTemporaryDir folder;
    FakeUi ui;
    auto window = std::make_unique<TOrientation_Form>(&ui);
    TOrientation_Form& w = *window;
    w.State().DecimalSeparator = '.';
    w.show();
    w.Image1Click();
    QAction* save = w.findChild<QAction*>(QStringLiteral("SaveReportAction"));
    QAction* scheme = w.findChild<QAction*>(QStringLiteral("SchemeAction"));
    QVERIFY(save != nullptr && scheme != nullptr);
    QVERIFY(!save->isEnabled());
    QVERIFY(!scheme->isEnabled());

    w.State().CameraFileName = kZhang + "/calibration.yml";
    w.State().ImageFileName = kZhang + "/image-raw.crd";
    w.State().SceneFileName = kZhang + "/scene.crd";
    w.Edit1->setText("calibration.yml");
    w.Edit6->setText("image-raw.crd");
    w.Edit4->setText("scene.crd");
    w.N8->trigger();  // the rigorous level: σ, intervals and the verdict
    w.N10Click();
    QVERIFY(ui.messages.empty());
    QVERIFY(save->isEnabled());
    QVERIFY(scheme->isEnabled());

    // HTML, proposed after the image file.
    const QString html = folder.filePath("zhang.html");
    ui.files.push_back(html.toStdString());
    save->trigger();
    QCOMPARE(ui.saveRequests.back().proposedName, std::string("image-raw.html"));
    QCOMPARE(ui.saveRequests.back().filters.size(), std::size_t(2));
    QCOMPARE(Head(html, 15), QByteArray("<!DOCTYPE html>"));
    QFile htmlFile(html);
    QVERIFY(htmlFile.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(htmlFile.readAll());
    QVERIFY(text.contains(QString::fromStdString(w.State().Shown->texts[0])));
    QVERIFY(text.contains(QStringLiteral("Заключение: результат согласуется")));

    // The same name again: asked, and No keeps the file.
    const QByteArray before = Head(html, 1 << 22);
    ui.files.push_back(html.toStdString());
    ui.answers.push_back(false);
    save->trigger();
    QCOMPARE(ui.questions.back().text,
             std::string("Файл zhang.html уже существует. Перезаписать?"));
    QCOMPARE(Head(html, 1 << 22), before);

    // PDF by its name.
    const QString pdf = folder.filePath("zhang.pdf");
    ui.files.push_back(pdf.toStdString());
    save->trigger();
    QCOMPARE(Head(pdf, 5), QByteArray("%PDF-"));

    // A folder in the way: the failure is shown, nothing else changes.
    QVERIFY(QDir(folder.path()).mkdir(QStringLiteral("taken.html")));
    ui.files.push_back(folder.filePath("taken.html").toStdString());
    save->trigger();
    QCOMPARE(ui.messages.size(), std::size_t(1));
    QVERIFY(ui.messages.back().text.rfind("Ошибка записи отчёта!\n", 0) == 0);
    QCOMPARE(ui.messages.back().caption, std::string("Ошибка!"));

    // The scheme: both views drawn, the plan exported as PNG and as SVG.
    scheme->trigger();
    zelv::SchemeWindow* window2 = w.Reports()->Scheme();
    QVERIFY(window2 != nullptr && window2->isVisible());
    QVERIFY(window2->Plan()->Shown().has_value());
    QVERIFY(window2->Side()->Shown().has_value());
    QVERIFY(window2->ResidualsView()->Shown().has_value());
    const QString png = folder.filePath("plan.png");
    ui.files.push_back(png.toStdString());
    QVERIFY(window2->ExportFigure(*window2->Plan()->Shown(), "plan.svg"));
    QCOMPARE(Head(png, 4), QByteArray("\x89PNG"));
    const QString svg = folder.filePath("plan.svg");
    ui.files.push_back(svg.toStdString());
    QVERIFY(window2->ExportFigure(*window2->Plan()->Shown(), "plan.svg"));
    QVERIFY(Head(svg, 200).contains("<svg xmlns=\"http://www.w3.org/2000/svg\""));
    QCOMPARE(ui.messages.size(), std::size_t(1));

    // A run that fails on reading its inputs keeps the result shown, and so its report.
    w.State().SceneFileName = folder.filePath("missing.crd").toStdString();
    w.Edit4->setText("missing.crd");
    w.N10Click();
    QCOMPARE(save->isEnabled(), w.State().Shown.has_value());
    QCOMPARE(window2->Plan()->Shown().has_value(), w.State().Shown.has_value());
  }
};

QTEST_MAIN(ReportWindowTest)
#include "report_window_test.moc"
