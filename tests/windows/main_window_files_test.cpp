// The main window's three file fields keep naming the files the user chose, typed or had filled
// in, whatever happens to the current directory afterwards: every confirmed open dialog moves it.

#include <QDir>
#include <QFile>
#include <QImage>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QtTest>
#include <string>

#include "app/windows/Orient_form.h"
#include "fake_ui.h"

using zelv::TOrientation_Form;
using zelv::testing::FakeUi;

namespace {

const QString kSquare = QStringLiteral(ZELV_TEST_DATA_DIR "/golden/square");
const QString kOther = QStringLiteral(ZELV_TEST_DATA_DIR "/golden/synthetic1");

// The fake user interface with the real dialogs' side effect: a confirmed open dialog makes the
// chosen file's folder the current directory.
class MovingUi : public FakeUi {
 public:
  std::optional<std::string> ChooseOpenFile(const zelv::FileDialogRequest& request) override {
    std::optional<std::string> chosen = FakeUi::ChooseOpenFile(request);
    if (chosen) QDir::setCurrent(QFileInfo(QString::fromStdString(*chosen)).absolutePath());
    return chosen;
  }
};

// Restores the current directory the test found.
struct KeepCurrentDirectory {
  QString saved = QDir::currentPath();
  ~KeepCurrentDirectory() { QDir::setCurrent(saved); }
};

void Copy(const QString& from, const QString& to) {
  QFile::remove(to);
  QVERIFY(QFile::copy(from, to));
}

// Folder A holds the square case with a photograph; folder B the same camera beside the points
// and scene of another case, so a run that reads B's point files gives another result.
struct TwoFolders {
  QTemporaryDir root;
  QString a = root.filePath("A");
  QString b = root.filePath("B");
  QString c = root.filePath("C");

  TwoFolders() {
    for (const QString& folder : {a, b, c}) QDir().mkpath(folder);
    for (const char* name : {"camera.cam", "table.txt", "image.crd", "scene.crd"})
      Copy(kSquare + "/" + name, a + "/" + name);
    for (const char* name : {"camera.cam", "table.txt"}) Copy(kSquare + "/" + name, b + "/" + name);
    for (const char* name : {"image.crd", "scene.crd"}) Copy(kOther + "/" + name, b + "/" + name);
    QImage photo(64, 48, QImage::Format_RGB32);
    photo.fill(Qt::gray);
    photo.save(a + "/photo.png");
    photo.save(c + "/other.png");
  }
};

struct Window {
  MovingUi ui;
  TOrientation_Form w{&ui};
  Window() {
    w.State().DecimalSeparator = '.';
    w.show();
    w.Image1Click();
  }
  // Runs the command and returns the projection centre's X as shown.
  QString RunX() {
    w.N10Click();
    return w.findChild<QLineEdit*>(QStringLiteral("Edit36"))->text();
  }
};

// Only the warning the square case always gives (its points are bunched) was shown.
bool NoErrorShown(const FakeUi& ui) {
  for (const FakeUi::Message& message : ui.messages)
    if (message.caption != "Предупреждение!") {
      qWarning("%s: %s", message.caption.c_str(), message.text.c_str());
      return false;
    }
  return true;
}

// The result of the square case read from A's own three files, named absolutely.
QString ExpectedX(const TwoFolders& folders) {
  Window reference;
  reference.w.State().CameraFileName = (folders.a + "/camera.cam").toStdString();
  reference.w.State().ImageFileName = (folders.a + "/image.crd").toStdString();
  reference.w.State().SceneFileName = (folders.a + "/scene.crd").toStdString();
  reference.w.Edit1->setText("camera.cam");
  reference.w.Edit6->setText("image.crd");
  reference.w.Edit4->setText("scene.crd");
  return reference.RunX();
}

}  // namespace

class MainWindowFilesTest : public QObject {
  Q_OBJECT

 private slots:
  // Opened as a bare name in A, the photograph fills the three fields with A's files; picking
  // the camera file in B then moves the current directory to B, and the points still come from
  // A. The field shows the file's name, its tooltip the whole path.
  void pickingOneFileElsewhereKeepsTheFilesFilledInFromThePhotograph() {
    KeepCurrentDirectory keep;
    TwoFolders folders;
    const QString expected = ExpectedX(folders);
    QVERIFY(!expected.isEmpty());

    Window window;
    TOrientation_Form& w = window.w;
    QVERIFY(QDir::setCurrent(folders.a));
    w.OpenPhoto("photo.png");
    QCOMPARE(w.State().ImageFileName, (folders.a + "/image.crd").toStdString());
    QCOMPARE(w.Edit6->text(), QStringLiteral("image.crd"));
    QCOMPARE(w.Edit6->toolTip(), folders.a + "/image.crd");

    window.ui.files.push_back((folders.b + "/camera.cam").toStdString());
    w.Button5Click();
    QCOMPARE(QDir::currentPath(), folders.b);
    QCOMPARE(w.State().CameraFileName, (folders.b + "/camera.cam").toStdString());
    QCOMPARE(w.State().ImageFileName, (folders.a + "/image.crd").toStdString());
    QCOMPARE(w.State().SceneFileName, (folders.a + "/scene.crd").toStdString());
    QCOMPARE(window.RunX(), expected);
    QVERIFY(NoErrorShown(window.ui));

    // Another photograph, from a third folder, changes neither the fields nor what they name.
    QVERIFY(QDir::setCurrent(folders.c));
    w.OpenPhoto("other.png");
    QCOMPARE(w.Edit1->text(), QStringLiteral("camera.cam"));
    QCOMPARE(window.RunX(), expected);
    QVERIFY(NoErrorShown(window.ui));
  }

  // Bare names typed in A are fixed to A as they are typed; a file picked in B afterwards does
  // not move them there.
  void typedNamesStayInTheFolderTheyWereTypedIn() {
    KeepCurrentDirectory keep;
    TwoFolders folders;
    const QString expected = ExpectedX(folders);

    Window window;
    TOrientation_Form& w = window.w;
    QVERIFY(QDir::setCurrent(folders.a));
    QTest::keyClicks(w.Edit1, "camera.cam");
    QTest::keyClicks(w.Edit6, "image.crd");
    QTest::keyClicks(w.Edit4, "scene.crd");
    QCOMPARE(w.State().ImageFileName, (folders.a + "/image.crd").toStdString());

    window.ui.files.push_back((folders.b + "/camera.cam").toStdString());
    w.Button5Click();
    QCOMPARE(QDir::currentPath(), folders.b);
    // A key that changes nothing (the cursor moved in the field) takes nothing again.
    QTest::keyClick(w.Edit6, Qt::Key_Left);
    QTest::keyClick(w.Edit4, Qt::Key_End);
    QCOMPARE(w.State().ImageFileName, (folders.a + "/image.crd").toStdString());
    QCOMPARE(w.State().SceneFileName, (folders.a + "/scene.crd").toStdString());
    QCOMPARE(window.RunX(), expected);
    QVERIFY(NoErrorShown(window.ui));
  }
};

QTEST_MAIN(MainWindowFilesTest)
#include "main_window_files_test.moc"
