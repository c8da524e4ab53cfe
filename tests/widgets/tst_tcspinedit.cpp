#include "widgets/TCSpinEdit.h"

#include <QFocusEvent>
#include <QLineEdit>
#include <QSignalSpy>
#include <QStyle>
#include <QStyleOptionSpinBox>
#include <QTest>

#include <climits>

namespace {

QLineEdit *editOf(TCSpinEdit &spin)
{
    return spin.findChild<QLineEdit *>();
}

void setRange(TCSpinEdit &spin, int minValue, int maxValue, int increment = 1)
{
    spin.SetMinValue(minValue);
    spin.SetMaxValue(maxValue);
    spin.SetIncrement(increment);
}

} // namespace

class TestTCSpinEdit : public QObject
{
    Q_OBJECT
private slots:
    void setValue_storesClampedValue_data();
    void setValue_storesClampedValue();
    void value_readsTextAndRepairsIt_data();
    void value_readsTextAndRepairsIt();
    void typedOutOfRange_focusOut_showsClampedValue_data();
    void typedOutOfRange_focusOut_showsClampedValue();
    void typedNonNumber_focusOut_keepsTextButReadsMinValue();
    void stepBy_movesByIncrementClamped_data();
    void stepBy_movesByIncrementClamped();
    void arrowKeys_stepByIncrement();
    void upButtonClick_stepsByIncrement();
    void valueEdited_onlyForTheOperatorsChanges();
};

void TestTCSpinEdit::setValue_storesClampedValue_data()
{
    QTest::addColumn<int>("minValue");
    QTest::addColumn<int>("maxValue");
    QTest::addColumn<int>("set");
    QTest::addColumn<int>("expected");

    QTest::newRow("inside") << 1 << 65535 << 3012 << 3012;
    QTest::newRow("above max") << 1 << 65535 << 70000 << 65535;
    QTest::newRow("below min") << 1 << 65535 << 0 << 1;
    QTest::newRow("negative into 0..1024") << 0 << 1024 << -5 << 0;
    QTest::newRow("equal limits do not clamp") << 0 << 0 << 123456 << 123456;
    QTest::newRow("equal limits keep negatives") << 7 << 7 << -9 << -9;
    QTest::newRow("int min in full range") << INT_MIN << INT_MAX << INT_MIN << INT_MIN;
    QTest::newRow("int max above small range") << 20 << 2000 << INT_MAX << 2000;
}

void TestTCSpinEdit::setValue_storesClampedValue()
{
    QFETCH(int, minValue);
    QFETCH(int, maxValue);
    QFETCH(int, set);
    QFETCH(int, expected);

    TCSpinEdit spin;
    setRange(spin, minValue, maxValue);
    spin.SetValue(set);
    QCOMPARE(spin.Value(), expected);
    QCOMPARE(spin.text(), QString::number(expected));
}

void TestTCSpinEdit::value_readsTextAndRepairsIt_data()
{
    QTest::addColumn<int>("minValue");
    QTest::addColumn<int>("maxValue");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("expected");
    QTest::addColumn<QString>("textAfter");

    QTest::newRow("letters") << 20 << 2000 << "abc" << 20 << "20";
    QTest::newRow("empty") << 1 << 255 << "" << 1 << "1";
    QTest::newRow("decimal") << 1 << 1000 << "12.5" << 1 << "1";
    QTest::newRow("trailing junk") << 0 << 1024 << "5x" << 0 << "0";
    QTest::newRow("sign only") << 0 << 1024 << "-" << 0 << "0";
    QTest::newRow("above range") << 1 << 65535 << "70000" << 65535 << "65535";
    QTest::newRow("below range") << 20 << 2000 << "-3" << 20 << "20";
    QTest::newRow("beyond 64 bits") << 1 << 65535 << "99999999999999999999999" << 65535 << "65535";
    QTest::newRow("beyond 64 bits negative")
        << 1 << 65535 << "-99999999999999999999999" << 1 << "1";
    QTest::newRow("plus sign") << 1 << 1000 << "+60" << 60 << "+60";
    QTest::newRow("no clamp when equal, int max")
        << 0 << 0 << "2147483647" << INT_MAX << "2147483647";
    QTest::newRow("no clamp when equal, saturates")
        << 0 << 0 << "2147483648" << INT_MAX << "2147483647";
    QTest::newRow("int min exactly") << 0 << 0 << "-2147483648" << INT_MIN << "-2147483648";
}

void TestTCSpinEdit::value_readsTextAndRepairsIt()
{
    QFETCH(int, minValue);
    QFETCH(int, maxValue);
    QFETCH(QString, typed);
    QFETCH(int, expected);
    QFETCH(QString, textAfter);

    TCSpinEdit spin;
    setRange(spin, minValue, maxValue);
    editOf(spin)->setText(typed);
    QCOMPARE(spin.Value(), expected);
    QCOMPARE(spin.text(), textAfter);
}

void TestTCSpinEdit::typedOutOfRange_focusOut_showsClampedValue_data()
{
    QTest::addColumn<int>("minValue");
    QTest::addColumn<int>("maxValue");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("shown");

    QTest::newRow("port 70000") << 1 << 65535 << "70000"
                                << "65535";
    QTest::newRow("port 0") << 1 << 65535 << "0"
                            << "1";
    QTest::newRow("hysteresis 2000") << 0 << 1024 << "2000"
                                     << "1024";
    QTest::newRow("inside stays") << 1 << 1000 << "60"
                                  << "60";
}

void TestTCSpinEdit::typedOutOfRange_focusOut_showsClampedValue()
{
    QFETCH(int, minValue);
    QFETCH(int, maxValue);
    QFETCH(QString, typed);
    QFETCH(QString, shown);

    TCSpinEdit spin;
    setRange(spin, minValue, maxValue);
    spin.SetValue(minValue);
    editOf(spin)->clear();
    QTest::keyClicks(editOf(spin), typed);
    // Typing is never refused, even beyond the range.
    QCOMPARE(spin.text(), typed);

    QFocusEvent focusOut(QEvent::FocusOut, Qt::TabFocusReason);
    QCoreApplication::sendEvent(&spin, &focusOut);
    QCOMPARE(spin.text(), shown);
}

void TestTCSpinEdit::typedNonNumber_focusOut_keepsTextButReadsMinValue()
{
    TCSpinEdit spin;
    setRange(spin, 1, 1000);
    editOf(spin)->setText(QStringLiteral("abc"));
    QFocusEvent focusOut(QEvent::FocusOut, Qt::TabFocusReason);
    QCoreApplication::sendEvent(&spin, &focusOut);
    QCOMPARE(spin.text(), QStringLiteral("abc"));
    QCOMPARE(spin.Value(), 1);
    QCOMPARE(spin.text(), QStringLiteral("1"));
}

void TestTCSpinEdit::stepBy_movesByIncrementClamped_data()
{
    QTest::addColumn<int>("minValue");
    QTest::addColumn<int>("maxValue");
    QTest::addColumn<int>("increment");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("steps");
    QTest::addColumn<int>("expected");

    QTest::newRow("timed up by 10") << 20 << 2000 << 10 << 20 << 1 << 30;
    QTest::newRow("timed down at min") << 20 << 2000 << 10 << 20 << -1 << 20;
    QTest::newRow("timed up near max") << 20 << 2000 << 10 << 1995 << 1 << 2000;
    QTest::newRow("timed page up") << 20 << 2000 << 10 << 20 << 10 << 120;
    QTest::newRow("port down by 1") << 1 << 65535 << 1 << 3012 << -1 << 3011;
    QTest::newRow("full range up at int max")
        << INT_MIN << INT_MAX << INT_MAX << INT_MAX - 1 << 1 << INT_MAX;
    QTest::newRow("full range down at int min")
        << INT_MIN << INT_MAX << INT_MAX << INT_MIN + 1 << -1 << INT_MIN;
    QTest::newRow("huge step count") << 0 << 1024 << INT_MAX << 5 << INT_MAX << 1024;
    QTest::newRow("equal limits saturate") << 0 << 0 << 1 << INT_MAX << 1 << INT_MAX;
}

void TestTCSpinEdit::stepBy_movesByIncrementClamped()
{
    QFETCH(int, minValue);
    QFETCH(int, maxValue);
    QFETCH(int, increment);
    QFETCH(int, start);
    QFETCH(int, steps);
    QFETCH(int, expected);

    TCSpinEdit spin;
    setRange(spin, minValue, maxValue, increment);
    spin.SetValue(start);
    spin.stepBy(steps);
    QCOMPARE(spin.Value(), expected);
}

void TestTCSpinEdit::arrowKeys_stepByIncrement()
{
    TCSpinEdit spin;
    setRange(spin, 20, 2000, 10);
    spin.SetValue(100);
    QTest::keyClick(&spin, Qt::Key_Up);
    QCOMPARE(spin.Value(), 110);
    QTest::keyClick(&spin, Qt::Key_Down);
    QTest::keyClick(&spin, Qt::Key_Down);
    QCOMPARE(spin.Value(), 90);

    // An out-of-range typed value is clamped before stepping.
    editOf(spin)->setText(QStringLiteral("5000"));
    QTest::keyClick(&spin, Qt::Key_Down);
    QCOMPARE(spin.Value(), 1990);
}

void TestTCSpinEdit::upButtonClick_stepsByIncrement()
{
    TCSpinEdit spin;
    setRange(spin, 20, 2000, 10);
    spin.SetValue(20);
    spin.resize(spin.sizeHint());
    spin.show();

    QStyleOptionSpinBox option;
    option.initFrom(&spin);
    option.subControls = QStyle::SC_All;
    option.stepEnabled = QAbstractSpinBox::StepUpEnabled | QAbstractSpinBox::StepDownEnabled;
    option.frame = true;
    const QRect up =
        spin.style()->subControlRect(QStyle::CC_SpinBox, &option, QStyle::SC_SpinBoxUp, &spin);
    QVERIFY(!up.isEmpty());
    QTest::mouseClick(&spin, Qt::LeftButton, {}, up.center());
    QCOMPARE(spin.Value(), 30);
}

void TestTCSpinEdit::valueEdited_onlyForTheOperatorsChanges()
{
    TCSpinEdit spin;
    setRange(spin, 1, 65535);
    QSignalSpy edits(&spin, &TCSpinEdit::ValueEdited);

    // The program's own changes are not edits.
    spin.SetValue(3012);
    editOf(spin)->setText(QStringLiteral("99999"));
    QCOMPARE(spin.Value(), 65535); // the repair
    QCOMPARE(edits.count(), 0);

    // Typing, each key; stepping, when it changes something.
    editOf(spin)->selectAll();
    QTest::keyClicks(editOf(spin), QStringLiteral("40"));
    QCOMPARE(edits.count(), 2);
    QTest::keyClick(&spin, Qt::Key_Up);
    QCOMPARE(spin.Value(), 41);
    QCOMPARE(edits.count(), 3);
    spin.SetValue(65535);
    QTest::keyClick(&spin, Qt::Key_Up);
    QCOMPARE(edits.count(), 3);
}

QTEST_MAIN(TestTCSpinEdit)
#include "tst_tcspinedit.moc"
