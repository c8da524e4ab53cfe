#include "exchanges/MacNumber.h"

#include <QTest>

class TestMacNumber : public QObject
{
    Q_OBJECT

private slots:
    void number_data();
    void number();
    void line_data();
    void line();
};

void TestMacNumber::number_data()
{
    QTest::addColumn<QString>("box1");
    QTest::addColumn<QString>("box2");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<int>("n");
    QTest::newRow("12 AB") << "12"
                           << "AB" << true << 4779;
    QTest::newRow("00 00") << "00"
                           << "00" << true << 0;
    QTest::newRow("ff FF") << "ff"
                           << "FF" << true << 65535;
    QTest::newRow("extra characters ignored") << "12xyz"
                                              << "AB7" << true << 4779;
    QTest::newRow("digit order") << "Fa"
                                 << "9c" << true << 0xFA9C;
    QTest::newRow("single character") << "1"
                                      << "AB" << false << -1;
    QTest::newRow("G0 in box 2") << "12"
                                 << "G0" << false << -1;
    QTest::newRow("bad second of box 2") << "12"
                                         << "0g" << false << -1;
    QTest::newRow("empty boxes") << ""
                                 << "" << false << -1;
    QTest::newRow("box 2 one character") << "12"
                                         << "A" << false << -1;
    QTest::newRow("leading blank") << " 1"
                                   << "AB" << false << -1;
    QTest::newRow("sign") << "-1"
                          << "AB" << false << -1;
    QTest::newRow("full-width digit") << QString::fromUtf8("\uff11\uff12") << "AB" << false << -1;
}

void TestMacNumber::number()
{
    QFETCH(QString, box1);
    QFETCH(QString, box2);
    QFETCH(bool, accepted);
    QFETCH(int, n);
    int result = -1;
    QCOMPARE(MacNumberFromBoxes(box1, box2, &result), accepted);
    QCOMPARE(result, n);
}

void TestMacNumber::line_data()
{
    QTest::addColumn<int>("n");
    QTest::addColumn<QString>("line");
    QTest::newRow("4779") << 4779 << "ma4779\r\n";
    QTest::newRow("0") << 0 << "ma0\r\n";
    QTest::newRow("65535") << 65535 << "ma65535\r\n";
}

void TestMacNumber::line()
{
    QFETCH(int, n);
    QTEST(MacAssignmentLine(n), "line");
}

QTEST_GUILESS_MAIN(TestMacNumber)
#include "tst_macnumber.moc"
