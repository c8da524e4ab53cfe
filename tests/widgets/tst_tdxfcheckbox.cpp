#include "widgets/TdxfCheckBox.h"

#include <QSignalSpy>
#include <QTest>

class TestTdxfCheckBox : public QObject
{
    Q_OBJECT
private slots:
    void programChanges_emitOnClickOnlyOnRealChanges_data();
    void programChanges_emitOnClickOnlyOnRealChanges();
    void groupPartnerTurnedOn_othersGoOffWithoutOnClick();
    void groupPartnerHandler_seesPartnerAlreadyOff();
    void sameGroupIndexUnderOtherParent_isNotAffected();
    void click_togglesAndEmits_data();
    void click_togglesAndEmits();
    void clickOnCheckedGroupBox_allowAllUp_leavesWholeGroupOff();
    void clickOnCheckedGroupBox_noAllowAllUp_staysOnSilently();
    void caption_isAccessibleNameAndFocusable();
};

void TestTdxfCheckBox::programChanges_emitOnClickOnlyOnRealChanges_data()
{
    QTest::addColumn<bool>("initial");
    QTest::addColumn<QList<bool>>("sets");
    QTest::addColumn<int>("clicks");
    QTest::addColumn<bool>("final");

    QTest::newRow("off to on") << false << QList<bool>{true} << 1 << true;
    QTest::newRow("on to off") << true << QList<bool>{false} << 1 << false;
    QTest::newRow("off set off") << false << QList<bool>{false} << 0 << false;
    QTest::newRow("on set on twice") << true << QList<bool>{true, true} << 0 << true;
    QTest::newRow("on off on") << false << QList<bool>{true, false, true} << 3 << true;
    QTest::newRow("repeat after change")
        << false << QList<bool>{true, true, false, false} << 2 << false;
}

void TestTdxfCheckBox::programChanges_emitOnClickOnlyOnRealChanges()
{
    QFETCH(bool, initial);
    QFETCH(QList<bool>, sets);
    QFETCH(int, clicks);
    QFETCH(bool, final);

    TdxfCheckBox box(QStringLiteral("Box"));
    box.SetChecked(initial);
    QSignalSpy spy(&box, &TdxfCheckBox::OnClick);
    for (bool value : sets)
        box.SetChecked(value);
    QCOMPARE(spy.count(), clicks);
    QCOMPARE(box.Checked(), final);
}

void TestTdxfCheckBox::groupPartnerTurnedOn_othersGoOffWithoutOnClick()
{
    QWidget parent;
    auto *crlf = new TdxfCheckBox(QStringLiteral("Use CR/LF"), &parent);
    auto *timed = new TdxfCheckBox(QStringLiteral("Timed"), &parent);
    auto *other = new TdxfCheckBox(QStringLiteral("Other"), &parent);
    crlf->SetGroupIndex(1);
    timed->SetGroupIndex(1);
    other->SetChecked(true);
    crlf->SetChecked(true);

    QSignalSpy crlfSpy(crlf, &TdxfCheckBox::OnClick);
    QSignalSpy timedSpy(timed, &TdxfCheckBox::OnClick);
    QSignalSpy otherSpy(other, &TdxfCheckBox::OnClick);
    timed->SetChecked(true);

    QVERIFY(timed->Checked());
    QVERIFY(!crlf->Checked());
    QVERIFY(other->Checked());
    QCOMPARE(timedSpy.count(), 1);
    QCOMPARE(crlfSpy.count(), 0);
    QCOMPARE(otherSpy.count(), 0);

    // Turning the box off again touches nobody else.
    timed->SetChecked(false);
    QVERIFY(!crlf->Checked());
    QCOMPARE(crlfSpy.count(), 0);
}

void TestTdxfCheckBox::groupPartnerHandler_seesPartnerAlreadyOff()
{
    QWidget parent;
    auto *crlf = new TdxfCheckBox(QStringLiteral("Use CR/LF"), &parent);
    auto *timed = new TdxfCheckBox(QStringLiteral("Timed"), &parent);
    crlf->SetGroupIndex(1);
    timed->SetGroupIndex(1);
    timed->SetChecked(true);

    bool timedSeenInHandler = true;
    connect(crlf, &TdxfCheckBox::OnClick, crlf, [&] { timedSeenInHandler = timed->Checked(); });
    crlf->SetChecked(true);
    QVERIFY(!timedSeenInHandler);
}

void TestTdxfCheckBox::sameGroupIndexUnderOtherParent_isNotAffected()
{
    QWidget parentA;
    QWidget parentB;
    auto *a = new TdxfCheckBox(QStringLiteral("A"), &parentA);
    auto *b = new TdxfCheckBox(QStringLiteral("B"), &parentB);
    a->SetGroupIndex(1);
    b->SetGroupIndex(1);
    b->SetChecked(true);
    a->SetChecked(true);
    QVERIFY(a->Checked());
    QVERIFY(b->Checked());
}

void TestTdxfCheckBox::click_togglesAndEmits_data()
{
    QTest::addColumn<bool>("useKey");
    QTest::addColumn<bool>("initial");

    QTest::newRow("mouse turns on") << false << false;
    QTest::newRow("mouse turns off") << false << true;
    QTest::newRow("space turns on") << true << false;
    QTest::newRow("space turns off") << true << true;
}

void TestTdxfCheckBox::click_togglesAndEmits()
{
    QFETCH(bool, useKey);
    QFETCH(bool, initial);

    TdxfCheckBox box(QStringLiteral("Enable Client"));
    box.resize(150, 24);
    box.SetChecked(initial);
    QSignalSpy spy(&box, &TdxfCheckBox::OnClick);
    if (useKey)
        QTest::keyClick(&box, Qt::Key_Space);
    else
        QTest::mouseClick(&box, Qt::LeftButton, {}, QPoint(8, 12));
    QCOMPARE(box.Checked(), !initial);
    QCOMPARE(spy.count(), 1);
}

void TestTdxfCheckBox::clickOnCheckedGroupBox_allowAllUp_leavesWholeGroupOff()
{
    QWidget parent;
    auto *crlf = new TdxfCheckBox(QStringLiteral("Use CR/LF"), &parent);
    auto *timed = new TdxfCheckBox(QStringLiteral("Timed"), &parent);
    crlf->SetGroupIndex(1);
    timed->SetGroupIndex(1);
    timed->resize(100, 24);

    QSignalSpy timedSpy(timed, &TdxfCheckBox::OnClick);
    QTest::mouseClick(timed, Qt::LeftButton, {}, QPoint(8, 12));
    QVERIFY(timed->Checked());
    QTest::mouseClick(timed, Qt::LeftButton, {}, QPoint(8, 12));
    QVERIFY(!timed->Checked());
    QVERIFY(!crlf->Checked());
    QCOMPARE(timedSpy.count(), 2);
}

void TestTdxfCheckBox::clickOnCheckedGroupBox_noAllowAllUp_staysOnSilently()
{
    QWidget parent;
    auto *box = new TdxfCheckBox(QStringLiteral("Only"), &parent);
    box->SetGroupIndex(2);
    box->SetAllowAllUp(false);
    box->SetChecked(true);
    box->resize(100, 24);
    QSignalSpy spy(box, &TdxfCheckBox::OnClick);
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, 12));
    QVERIFY(box->Checked());
    QCOMPARE(spy.count(), 0);
}

void TestTdxfCheckBox::caption_isAccessibleNameAndFocusable()
{
    TdxfCheckBox box(QStringLiteral("Get Address Automatically"));
    QCOMPARE(box.Caption(), QStringLiteral("Get Address Automatically"));
    QCOMPARE(box.accessibleName(), QStringLiteral("Get Address Automatically"));
    QVERIFY(box.focusPolicy() & Qt::TabFocus);
    box.SetCaption(QStringLiteral("Timed"));
    QCOMPARE(box.accessibleName(), QStringLiteral("Timed"));
}

QTEST_MAIN(TestTdxfCheckBox)
#include "tst_tdxfcheckbox.moc"
