// What assistive tools see of the widget set, asked through QAccessible as a screen reader
// would: roles, values, ranges, the text read out, and values set from outside.

#include "widgets/TCSpinEdit.h"
#include "widgets/TdxfProgressBar.h"

#include <QAccessible>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

#include <climits>

namespace {

QAccessibleInterface *Accessible(QObject *object)
{
    return QAccessible::queryAccessibleInterface(object);
}

void SetRange(TCSpinEdit &spin, int minValue, int maxValue, int increment = 1)
{
    spin.SetMinValue(minValue);
    spin.SetMaxValue(maxValue);
    spin.SetIncrement(increment);
}

} // namespace

class TestWidgetAccessibility : public QObject
{
    Q_OBJECT
private slots:
    void spinEdit_roleNameAndRange_data();
    void spinEdit_roleNameAndRange();
    void spinEdit_readsWhatIsShownWithoutTouchingIt_data();
    void spinEdit_readsWhatIsShownWithoutTouchingIt();
    void spinEdit_setValueShowsIt_data();
    void spinEdit_setValueShowsIt();
    void spinEdit_setValueRefusedWhenDisabledOrReadOnly();
    void spinEdit_increaseAndDecreaseActionsStep();
    void spinEdit_textInterfaceIsTheTextShown();
    void progressBar_roleAndValue_data();
    void progressBar_roleAndValue();
    void progressBar_valueCannotBeSetFromOutside();
};

void TestWidgetAccessibility::spinEdit_roleNameAndRange_data()
{
    QTest::addColumn<int>("minValue");
    QTest::addColumn<int>("maxValue");
    QTest::addColumn<int>("increment");
    QTest::addColumn<int>("reportedMin");
    QTest::addColumn<int>("reportedMax");

    QTest::newRow("port number") << 1 << 65535 << 1 << 1 << 65535;
    QTest::newRow("timed interval") << 20 << 2000 << 10 << 20 << 2000;
    // Equal limits do not limit.
    QTest::newRow("unlimited") << 0 << 0 << 1 << INT_MIN << INT_MAX;
}

void TestWidgetAccessibility::spinEdit_roleNameAndRange()
{
    QFETCH(int, minValue);
    QFETCH(int, maxValue);
    QFETCH(int, increment);
    QFETCH(int, reportedMin);
    QFETCH(int, reportedMax);

    TCSpinEdit spin;
    spin.setAccessibleName(QStringLiteral("Port Number"));
    SetRange(spin, minValue, maxValue, increment);
    QAccessibleInterface *iface = Accessible(&spin);
    QVERIFY(iface);
    QCOMPARE(iface->role(), QAccessible::SpinBox);
    QCOMPARE(iface->text(QAccessible::Name), QStringLiteral("Port Number"));
    QAccessibleValueInterface *value = iface->valueInterface();
    QVERIFY(value);
    QCOMPARE(value->minimumValue().toInt(), reportedMin);
    QCOMPARE(value->maximumValue().toInt(), reportedMax);
    QCOMPARE(value->minimumStepSize().toInt(), increment);
}

void TestWidgetAccessibility::spinEdit_readsWhatIsShownWithoutTouchingIt_data()
{
    QTest::addColumn<int>("minValue");
    QTest::addColumn<int>("maxValue");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<int>("value");

    QTest::newRow("a value") << 1 << 65535 << "3012" << 3012;
    QTest::newRow("zero in range") << 0 << 1024 << "0" << 0;
    QTest::newRow("negative, unlimited") << 0 << 0 << "-42" << -42;
    // Mid-entry texts are read as the program would read them, and left as typed.
    QTest::newRow("typed above max") << 1 << 65535 << "70000" << 65535;
    QTest::newRow("typed below min") << 20 << 2000 << "5" << 20;
    QTest::newRow("not a number") << 1 << 1000 << "6x" << 1;
    QTest::newRow("empty") << 1 << 1000 << "" << 1;
    QTest::newRow("just a sign") << 1 << 1000 << "-" << 1;
}

void TestWidgetAccessibility::spinEdit_readsWhatIsShownWithoutTouchingIt()
{
    QFETCH(int, minValue);
    QFETCH(int, maxValue);
    QFETCH(QString, shown);
    QFETCH(int, value);

    TCSpinEdit spin;
    SetRange(spin, minValue, maxValue);
    spin.findChild<QLineEdit *>()->setText(shown);
    QAccessibleInterface *iface = Accessible(&spin);
    QCOMPARE(iface->valueInterface()->currentValue().toInt(), value);
    QCOMPARE(iface->text(QAccessible::Value), shown);
    QCOMPARE(spin.text(), shown);
}

void TestWidgetAccessibility::spinEdit_setValueShowsIt_data()
{
    QTest::addColumn<QVariant>("set");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<bool>("edited");

    QTest::newRow("in range") << QVariant(4001) << "4001" << true;
    QTest::newRow("above max clamps") << QVariant(70000) << "65535" << true;
    QTest::newRow("below min clamps") << QVariant(-3) << "1" << true;
    QTest::newRow("fraction rounds") << QVariant(2.6) << "3" << true;
    QTest::newRow("huge") << QVariant(1e300) << "65535" << true;
    QTest::newRow("number as text") << QVariant(QStringLiteral("25")) << "25" << true;
    QTest::newRow("the value it has") << QVariant(3012) << "3012" << false;
    QTest::newRow("not a number is ignored") << QVariant(QStringLiteral("abc")) << "3012" << false;
    QTest::newRow("nothing is ignored") << QVariant() << "3012" << false;
}

void TestWidgetAccessibility::spinEdit_setValueShowsIt()
{
    QFETCH(QVariant, set);
    QFETCH(QString, shown);
    QFETCH(bool, edited);

    TCSpinEdit spin;
    SetRange(spin, 1, 65535);
    spin.SetValue(3012);
    QSignalSpy edits(&spin, &TCSpinEdit::ValueEdited);
    QAccessibleInterface *iface = Accessible(&spin);
    iface->valueInterface()->setCurrentValue(set);
    QCOMPARE(spin.text(), shown);
    QCOMPARE(iface->text(QAccessible::Value), shown);
    QCOMPARE(iface->valueInterface()->currentValue().toString(), shown);
    QCOMPARE(edits.count(), edited ? 1 : 0);
}

void TestWidgetAccessibility::spinEdit_setValueRefusedWhenDisabledOrReadOnly()
{
    TCSpinEdit spin;
    SetRange(spin, 20, 2000, 10);
    spin.SetValue(20);
    QAccessibleInterface *iface = Accessible(&spin);
    spin.setEnabled(false);
    iface->valueInterface()->setCurrentValue(100);
    iface->actionInterface()->doAction(QAccessibleActionInterface::increaseAction());
    QCOMPARE(spin.text(), QStringLiteral("20"));
    spin.setEnabled(true);
    spin.setReadOnly(true);
    iface->valueInterface()->setCurrentValue(100);
    QCOMPARE(spin.text(), QStringLiteral("20"));
}

void TestWidgetAccessibility::spinEdit_increaseAndDecreaseActionsStep()
{
    TCSpinEdit spin;
    SetRange(spin, 20, 2000, 10);
    spin.SetValue(1990);
    QSignalSpy edits(&spin, &TCSpinEdit::ValueEdited);
    QAccessibleActionInterface *actions = Accessible(&spin)->actionInterface();
    QVERIFY(actions);
    QVERIFY(actions->actionNames().contains(QAccessibleActionInterface::increaseAction()));
    QVERIFY(actions->actionNames().contains(QAccessibleActionInterface::decreaseAction()));
    actions->doAction(QAccessibleActionInterface::increaseAction());
    QCOMPARE(spin.Value(), 2000);
    actions->doAction(QAccessibleActionInterface::increaseAction()); // at the top: stays
    QCOMPARE(spin.Value(), 2000);
    actions->doAction(QAccessibleActionInterface::decreaseAction());
    QCOMPARE(spin.Value(), 1990);
    QCOMPARE(edits.count(), 2);
}

void TestWidgetAccessibility::spinEdit_textInterfaceIsTheTextShown()
{
    TCSpinEdit spin;
    SetRange(spin, 1, 65535);
    spin.SetValue(3012);
    QSignalSpy edits(&spin, &TCSpinEdit::ValueEdited);
    QAccessibleInterface *iface = Accessible(&spin);
    QAccessibleTextInterface *text = iface->textInterface();
    QVERIFY(text);
    QCOMPARE(text->characterCount(), 4);
    QCOMPARE(text->text(0, 4), QStringLiteral("3012"));
    QCOMPARE(text->text(-5, 99), QStringLiteral("3012"));
    int start = -1;
    int end = -1;
    QCOMPARE(text->textAtOffset(1, QAccessible::WordBoundary, &start, &end),
             QStringLiteral("3012"));
    text->setSelection(0, 1, 3);
    QCOMPARE(text->selectionCount(), 1);
    text->selection(0, &start, &end);
    QCOMPARE(start, 1);
    QCOMPARE(end, 3);
    QCOMPARE(spin.findChild<QLineEdit *>()->selectedText(), QStringLiteral("01"));
    text->removeSelection(0);
    QCOMPARE(text->selectionCount(), 0);
    text->setCursorPosition(2);
    QCOMPARE(text->cursorPosition(), 2);
    spin.resize(spin.sizeHint());
    spin.show();
    QVERIFY(QTest::qWaitForWindowExposed(&spin));
    const QRect first = text->characterRect(0);
    const QRect second = text->characterRect(1);
    QVERIFY(!first.isEmpty());
    QVERIFY(second.left() >= first.right());
    QVERIFY(QRect(spin.mapToGlobal(QPoint(0, 0)), spin.size()).contains(first));
    QVERIFY(text->characterRect(4).isNull());
    QCOMPARE(edits.count(), 0);

    QAccessibleEditableTextInterface *editable = iface->editableTextInterface();
    QVERIFY(editable);
    editable->replaceText(0, 4, QStringLiteral("4001"));
    QCOMPARE(spin.text(), QStringLiteral("4001"));
    QCOMPARE(spin.Value(), 4001);
    QCOMPARE(edits.count(), 1);
    editable->deleteText(0, 1);
    editable->insertText(3, QStringLiteral("7"));
    QCOMPARE(spin.text(), QStringLiteral("0017"));
    QCOMPARE(spin.Value(), 17);
    QCOMPARE(edits.count(), 3);
}

void TestWidgetAccessibility::progressBar_roleAndValue_data()
{
    QTest::addColumn<int>("minValue");
    QTest::addColumn<int>("maxValue");
    QTest::addColumn<int>("position");
    QTest::addColumn<QString>("text");

    QTest::newRow("start") << 0 << 100 << 0 << "0%";
    QTest::newRow("under way") << 0 << 100 << 42 << "42%";
    QTest::newRow("done") << 0 << 100 << 100 << "100%";
    QTest::newRow("other range") << 0 << 256 << 64 << "25%";
}

void TestWidgetAccessibility::progressBar_roleAndValue()
{
    QFETCH(int, minValue);
    QFETCH(int, maxValue);
    QFETCH(int, position);
    QFETCH(QString, text);

    TdxfProgressBar bar;
    bar.setAccessibleName(QStringLiteral("Progress"));
    bar.SetMin(minValue);
    bar.SetMax(maxValue);
    bar.SetPosition(position);
    QAccessibleInterface *iface = Accessible(&bar);
    QVERIFY(iface);
    QCOMPARE(iface->role(), QAccessible::ProgressBar);
    QCOMPARE(iface->text(QAccessible::Name), QStringLiteral("Progress"));
    QCOMPARE(iface->text(QAccessible::Value), text);
    QAccessibleValueInterface *value = iface->valueInterface();
    QVERIFY(value);
    QCOMPARE(value->currentValue().toInt(), position);
    QCOMPARE(value->minimumValue().toInt(), minValue);
    QCOMPARE(value->maximumValue().toInt(), maxValue);
}

void TestWidgetAccessibility::progressBar_valueCannotBeSetFromOutside()
{
    TdxfProgressBar bar;
    bar.SetPosition(30);
    QAccessibleInterface *iface = Accessible(&bar);
    iface->valueInterface()->setCurrentValue(90);
    QCOMPARE(bar.Position(), 30);
    // The program's own moves are what it reports.
    bar.SetPosition(31);
    QCOMPARE(iface->valueInterface()->currentValue().toInt(), 31);
    QCOMPARE(iface->text(QAccessible::Value), QStringLiteral("31%"));
}

QTEST_MAIN(TestWidgetAccessibility)
#include "tst_widgetaccessibility.moc"
