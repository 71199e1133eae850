// The settings dialog: filling from the main window's state, the enabling rule, taking the values
// over step by step with the refusal of bad texts, and the processing mode's window sizes.
#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QScreen>
#include <QTabWidget>
#include <QtTest>
#include <memory>

#include "app/windows/Orient_form.h"
#include "app/windows/Orientparamform.h"
#include "fake_ui.h"

using zelv::TOrientation_Form;
using zelv::TOrientNForm;
using zelv::testing::FakeUi;

namespace {

constexpr double kTenDegrees = 0.17453292519943295;  // radians

struct Harness {
  FakeUi ui;
  std::unique_ptr<TOrientation_Form> window;
  TOrientNForm* dialog = nullptr;

  explicit Harness(char separator = '.') : window(std::make_unique<TOrientation_Form>(&ui)) {
    window->State().DecimalSeparator = separator;
    window->show();
    window->Image1Click();
    dialog = window->SettingsDialog();
    dialog->FillFromState();
    dialog->show();
  }
  void ExpectRefusal() {
    QCOMPARE(ui.messages.size(), std::size_t{1});
    QCOMPARE(ui.messages[0].text, std::string("Параметры заданы неправильно!"));
    QCOMPARE(ui.messages[0].caption, std::string("Ошибка!"));
    QCOMPARE(ui.messages[0].owner, static_cast<void*>(static_cast<QWidget*>(dialog)));
    QVERIFY(dialog->isVisible());
  }
};

}  // namespace

class SettingsDialogTest : public QObject {
  Q_OBJECT

 private slots:
  void theDefaultsAreShownInDegreesAndPercent() {
    Harness h;
    TOrientNForm& d = *h.dialog;
    QCOMPARE(d.windowTitle(), QStringLiteral("Настройки"));
    QCOMPARE(d.PageControl1->currentWidget(), d.RefinementPage);
    QCOMPARE(d.PageControl1->tabText(0), QStringLiteral("Параметры счёта"));
    QCOMPARE(d.PageControl1->tabText(1), QStringLiteral("Параметры уточнения"));
    QCOMPARE(d.RadioGroup1ItemIndex(), 0);
    QCOMPARE(d.Edit1->text(), QStringLiteral("3"));
    QCOMPARE(d.Edit2->text(), QStringLiteral("10"));
    QCOMPARE(d.Edit3->text(), QStringLiteral("10"));
    for (QLineEdit* start : {d.AlStartEdit, d.BetStartEdit, d.HiStartEdit, d.LStartEdit})
      QCOMPARE(start->text(), QStringLiteral("15"));
    for (QLineEdit* last : {d.AlMinEdit, d.BetMinEdit, d.HiMinEdit, d.LMinEdit})
      QCOMPARE(last->text(), QStringLiteral("0.0001"));
    QCOMPARE(d.AlFirstValueEdit->text(), QStringLiteral("0"));
    QCOMPARE(d.BetFirstValueEdit->text(), QStringLiteral("0"));
    QCOMPARE(d.HiFirstValueEdit->text(), QStringLiteral("0"));
    QCOMPARE(d.LFirstValueEdit->text(), QStringLiteral("2000"));
    QVERIFY(!d.HiCheckBox->isChecked());
    QVERIFY(!d.FirstValuesCheckBox->isChecked());
    QVERIFY(!d.CheckBox2->isChecked());
    QVERIFY(!d.AlFirstValueEdit->isEnabled());
    QVERIFY(!d.LFirstValueEdit->isEnabled());
    QVERIFY(!d.HiCheckBox->isEnabled());
  }

  void okWithTheDefaultsKeepsEveryValue() {
    Harness h;
    const zelv::RefinementSettings before = h.window->State().Settings;
    h.dialog->Button1Click();
    QVERIFY(h.ui.messages.empty());
    QCOMPARE(h.dialog->result(), int(QDialog::Accepted));
    QVERIFY(!h.dialog->isVisible());
    const zelv::OrientationState& after = h.window->State();
    QCOMPARE(after.MinAngle, kTenDegrees);  // exactly: 10 * pi * (1/180)
    QCOMPARE(after.SigmaCount, 3.0);
    QCOMPARE(after.MinDistanceFraction, 0.1);
    QCOMPARE(after.Settings.AlStart, before.AlStart);
    QCOMPARE(after.Settings.LStart, 15.0);
    QCOMPARE(after.Settings.LMin, 0.0001);
    QCOMPARE(after.Settings.LFirstValue, 2000.0);
    QVERIFY(qAbs(after.Settings.AlMin - before.AlMin) < 1e-18);
    QCOMPARE(after.ProcessingMode, 1);
    QVERIFY(!after.Settings.KeepLog && !after.Settings.UseFirstValues && !after.Settings.VaryHi);
  }

  void aBadDistanceKeepsTheEarlierStepsAndRefusesTheRest() {
    Harness h;
    TOrientNForm& d = *h.dialog;
    d.Edit1->setText("4");
    d.Edit2->setText(" 20 ");
    d.Edit3->setText("десять");
    d.AlStartEdit->setText("5");
    d.CheckBox2->setChecked(true);
    d.SetRadioGroup1ItemIndex(1);
    d.Button1Click();
    h.ExpectRefusal();
    const zelv::OrientationState& s = h.window->State();
    QCOMPARE(s.SigmaCount, 4.0);
    QCOMPARE(s.MinAngle, 2 * kTenDegrees);
    QCOMPARE(s.MinDistanceFraction, 0.1);
    QCOMPARE(s.Settings.AlStart, 0.2617993877991494);
    QVERIFY(!s.Settings.KeepLog);
    QCOMPARE(s.ProcessingMode, 1);
    QVERIFY(h.window->GroupBox3->isHidden());
  }

  void aFinalOffsetOfZeroOrBelowIsRefusedAtItsStep() {
    Harness h;
    TOrientNForm& d = *h.dialog;
    const zelv::RefinementSettings before = h.window->State().Settings;
    d.AlStartEdit->setText("20");
    d.AlMinEdit->setText("0");
    d.BetStartEdit->setText("25");
    d.Button1Click();
    h.ExpectRefusal();
    const zelv::RefinementSettings& r = h.window->State().Settings;
    QCOMPARE(r.AlStart, 2 * kTenDegrees);
    QCOMPARE(r.AlMin, before.AlMin);
    QCOMPARE(r.BetStart, before.BetStart);

    h.ui.messages.clear();
    d.AlMinEdit->setText("0.001");
    d.LStartEdit->setText("12");
    d.LMinEdit->setText("-1");
    d.Button1Click();
    h.ExpectRefusal();
    QCOMPARE(r.LStart, 12.0);
    QCOMPARE(r.LMin, 0.0001);
  }

  void anAngleTooLargeForRadiansIsRefused() {
    Harness h;
    h.dialog->Edit2->setText("1e308");
    h.dialog->Button1Click();
    h.ExpectRefusal();
    QCOMPARE(h.window->State().MinAngle, kTenDegrees);
  }

  void theFirstApproximationsFollowTheirCheckBox() {
    Harness h;
    TOrientNForm& d = *h.dialog;
    d.FirstValuesCheckBox->setChecked(true);
    for (QWidget* control :
         std::initializer_list<QWidget*>{d.AlFirstValueEdit, d.BetFirstValueEdit,
                                         d.HiFirstValueEdit, d.LFirstValueEdit, d.HiCheckBox})
      QVERIFY(control->isEnabled());
    d.HiCheckBox->setChecked(true);  // its own state plays no part
    QVERIFY(d.AlFirstValueEdit->isEnabled());
    d.FirstValuesCheckBox->setChecked(false);
    QVERIFY(!d.AlFirstValueEdit->isEnabled());
    QVERIFY(!d.HiCheckBox->isEnabled());

    // Cleared: the stored first approximations stay, whatever the edits show.
    d.AlFirstValueEdit->setText("30");
    d.LFirstValueEdit->setText("кривое");
    d.Button1Click();
    QVERIFY(h.ui.messages.empty());
    QCOMPARE(h.window->State().Settings.AlFirstValue, 0.0);
    QCOMPARE(h.window->State().Settings.LFirstValue, 2000.0);
    QVERIFY(h.window->State().Settings.VaryHi);

    // Checked: they are taken over, degrees to radians, the distance as it is.
    d.FillFromState();
    d.show();
    QVERIFY(!d.FirstValuesCheckBox->isChecked());
    d.FirstValuesCheckBox->setChecked(true);
    d.AlFirstValueEdit->setText("10");
    d.BetFirstValueEdit->setText("-10");
    d.HiFirstValueEdit->setText("0");
    d.LFirstValueEdit->setText("1500,5");
    d.Button1Click();
    QVERIFY(h.ui.messages.empty());
    const zelv::RefinementSettings& r = h.window->State().Settings;
    QVERIFY(r.UseFirstValues);
    QCOMPARE(r.AlFirstValue, kTenDegrees);
    QCOMPARE(r.BetFirstValue, -kTenDegrees);
    QCOMPARE(r.LFirstValue, 1500.5);

    // The next opening shows them back.
    d.FillFromState();
    QCOMPARE(d.AlFirstValueEdit->text(), QStringLiteral("10"));
    QCOMPARE(d.LFirstValueEdit->text(), QStringLiteral("1500.5"));
    QVERIFY(d.AlFirstValueEdit->isEnabled());
  }

  void cancelTakesNothingOverAndTheNextOpeningRefills() {
    Harness h;
    TOrientNForm& d = *h.dialog;
    d.Edit1->setText("7");
    d.Button2Click();
    QCOMPARE(d.result(), int(QDialog::Rejected));
    QCOMPARE(h.window->State().SigmaCount, 3.0);
    d.FillFromState();
    QCOMPARE(d.Edit1->text(), QStringLiteral("3"));
  }

  void theRegionalSeparatorIsWrittenAndBothAreRead() {
    Harness h(',');
    TOrientNForm& d = *h.dialog;
    QCOMPARE(d.AlMinEdit->text(), QStringLiteral("0,0001"));
    d.Edit1->setText("2.5");
    d.Edit3->setText("12,5");
    d.Button1Click();
    QVERIFY(h.ui.messages.empty());
    QCOMPARE(h.window->State().SigmaCount, 2.5);
    QCOMPARE(h.window->State().MinDistanceFraction, 12.5 * 0.01);
  }

  void theDebugModeShowsTheGroupAndTheNormalModeRestoresTheSize() {
    Harness h;
    TOrientation_Form& w = *h.window;
    TOrientNForm& d = *h.dialog;
    d.SetRadioGroup1ItemIndex(1);
    d.Button1Click();
    QCOMPARE(w.State().ProcessingMode, 3);
    QVERIFY(w.GroupBox3->isVisible());
    // As tall as the debug group needs, or as the screen allows (the test screen is 800 × 600):
    // then the panel scrolls.
    const QRect area = w.screen()->availableGeometry();
    QCOMPARE(w.minimumWidth(), 720);
    QVERIFY(w.minimumHeight() > 545);
    QVERIFY(w.minimumHeight() == 750 || w.minimumHeight() < area.height());
    QVERIFY(w.height() >= w.minimumHeight());
    QVERIFY(w.centralWidget()->minimumSizeHint().height() <= w.centralWidget()->height());

    d.FillFromState();
    QCOMPARE(d.RadioGroup1ItemIndex(), 1);
    d.SetRadioGroup1ItemIndex(0);
    d.Button1Click();
    QCOMPARE(w.State().ProcessingMode, 1);
    QVERIFY(!w.GroupBox3->isVisible());
    QCOMPARE(w.minimumSize(), QSize(720, 545));
    QCOMPARE(w.size(), QSize(720, 545));
  }
};

QTEST_MAIN(SettingsDialogTest)
#include "settings_dialog_test.moc"
