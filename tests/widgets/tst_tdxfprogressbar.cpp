#include "widgets/TdxfProgressBar.h"

#include <QTest>

#include <climits>

class TestTdxfProgressBar : public QObject
{
    Q_OBJECT
private slots:
    void position_showsPercentText_data();
    void position_showsPercentText();
    void rangeShrinks_positionFollows();
};

void TestTdxfProgressBar::position_showsPercentText_data()
{
    QTest::addColumn<int>("minValue");
    QTest::addColumn<int>("maxValue");
    QTest::addColumn<int>("position");
    QTest::addColumn<int>("storedPosition");
    QTest::addColumn<QString>("text");

    QTest::newRow("start") << 0 << 100 << 0 << 0 << "0%";
    QTest::newRow("middle") << 0 << 100 << 42 << 42 << "42%";
    QTest::newRow("full") << 0 << 100 << 100 << 100 << "100%";
    QTest::newRow("above max clamps") << 0 << 100 << 150 << 100 << "100%";
    QTest::newRow("below min clamps") << 0 << 100 << -5 << 0 << "0%";
    QTest::newRow("other range") << 0 << 200 << 50 << 50 << "25%";
    QTest::newRow("offset range") << 100 << 300 << 150 << 150 << "25%";
    QTest::newRow("int extremes") << INT_MIN << INT_MAX << INT_MAX << INT_MAX << "100%";
    QTest::newRow("int extremes middle") << INT_MIN << INT_MAX << 0 << 0 << "50%";
    QTest::newRow("empty range") << 5 << 5 << 5 << 5 << "0%";
}

void TestTdxfProgressBar::position_showsPercentText()
{
    QFETCH(int, minValue);
    QFETCH(int, maxValue);
    QFETCH(int, position);
    QFETCH(int, storedPosition);
    QFETCH(QString, text);

    TdxfProgressBar bar;
    bar.SetMin(minValue);
    bar.SetMax(maxValue);
    bar.SetPosition(position);
    QCOMPARE(bar.Position(), storedPosition);
    QCOMPARE(bar.PercentText(), text);
    // Painting must cope with every state.
    bar.resize(200, 20);
    QVERIFY(!bar.grab().isNull());
}

void TestTdxfProgressBar::rangeShrinks_positionFollows()
{
    TdxfProgressBar bar;
    bar.SetPosition(80);
    bar.SetMax(50);
    QCOMPARE(bar.Position(), 50);
    QCOMPARE(bar.PercentText(), QStringLiteral("100%"));
}

QTEST_MAIN(TestTdxfProgressBar)
#include "tst_tdxfprogressbar.moc"
