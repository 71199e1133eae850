// The main window's group of known values, driven as a user would: typed values reach the
// request, a σ makes a value weighted, and a value that does not read stops the run with a
// message naming the field.
#include <QGroupBox>
#include <QLineEdit>
#include <QtTest>
#include <memory>

#include "app/orientation_session.h"
#include "app/orientation_state.h"
#include "app/windows/Orient_form.h"
#include "app/windows/zelv_application.h"
#include "fake_ui.h"

using zelv::TOrientation_Form;
using zelv::testing::FakeUi;

namespace {

const std::string kSquare = std::string(ZELV_TEST_DATA_DIR) + "/golden/square";

class KnownValuesTest : public QObject {
  Q_OBJECT

 private slots:
  void typedValuesReachTheRequest() {
    FakeUi ui;
    auto window = std::make_unique<TOrientation_Form>(&ui);
    window->State().DecimalSeparator = '.';
    window->show();
    window->Image1Click();
    auto* group = window->findChild<QGroupBox*>(QStringLiteral("KnownGroup"));
    QVERIFY(group != nullptr);
    // Shown at the rigorous level only.
    QVERIFY(!group->isVisible());
    window->N8Click();
    QVERIFY(group->isVisible());
    window->N6Click();
    QVERIFY(!group->isVisible());
    QCOMPARE(group->title(), QStringLiteral("Известные значения (строгая оценка)"));
    const auto edit = [&](const char* name) {
      return window->findChild<QLineEdit*>(QString::fromLatin1(name));
    };
    for (const char* name :
         {"KnownX", "KnownY", "KnownZ", "KnownRoll", "KnownF", "KnownXSigma", "KnownFSigma"}) {
      QVERIFY2(edit(name) != nullptr, name);
      QVERIFY2(!edit(name)->toolTip().isEmpty(), name);
    }

    window->State().CameraFileName = kSquare + "/camera.cam";
    window->State().ImageFileName = kSquare + "/image.crd";
    window->State().SceneFileName = kSquare + "/scene.crd";
    window->Edit1->setText("camera.cam");
    window->Edit6->setText("image.crd");
    window->Edit4->setText("scene.crd");
    window->N8Click();  // the rigorous level

    // A fixed Z and a weighted focal length, typed as a user types them (a decimal comma too).
    QTest::keyClicks(edit("KnownZ"), "2000");
    QTest::keyClicks(edit("KnownF"), "1500,5");
    QTest::keyClicks(edit("KnownFSigma"), "2");
    window->N10Click();
    const zelv::KnownValues& known = window->State().Known;
    QVERIFY(known.centreZ.has_value());
    QCOMPARE(known.centreZ->value, 2000.0);
    QCOMPARE(known.centreZ->sigma, 0.0);
    QVERIFY(known.focalLength.has_value());
    QCOMPARE(known.focalLength->value, 1500.5);
    QCOMPARE(known.focalLength->sigma, 2.0);
    QVERIFY(!known.centreX && !known.centreY && !known.roll);
    const zelv::OrientationRequest request = zelv::RequestOf(window->State());
    QVERIFY(request.known.centreZ && request.known.focalLength);
    // The fields read: whatever the computation made of the square, the window said nothing of
    // them.
    for (const auto& message : ui.messages)
      QVERIFY2(message.text.find("не читается") == std::string::npos, message.text.c_str());

    // A σ without its value, and a value that is no number, stop the run with a message.
    ui.messages.clear();
    edit("KnownZ")->clear();
    QTest::keyClicks(edit("KnownZSigma"), "0.1");
    window->N10Click();
    QCOMPARE(ui.messages.size(), std::size_t{1});
    QVERIFY(QString::fromStdString(ui.messages[0].text).contains(QStringLiteral("координата Z")));
    edit("KnownZSigma")->clear();
    QTest::keyClicks(edit("KnownRoll"), "abc");
    window->N10Click();
    QCOMPARE(ui.messages.size(), std::size_t{2});
    QVERIFY(QString::fromStdString(ui.messages[1].text).contains(QStringLiteral("«abc»")));
    // Emptied fields free every value again.
    edit("KnownRoll")->clear();
    edit("KnownF")->clear();
    edit("KnownFSigma")->clear();
    window->N10Click();
    QVERIFY(!window->State().Known.Any());
    // Below the rigorous level typed values wait unused: the request holds none.
    QTest::keyClicks(edit("KnownRoll"), "1");
    window->N6Click();
    window->N10Click();
    QVERIFY(!window->State().Known.Any());
  }
};

}  // namespace

int main(int argc, char** argv) {
  zelv::ZelvApplication app(argc, argv);
  KnownValuesTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "known_values_test.moc"
