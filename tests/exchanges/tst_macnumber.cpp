#include "exchanges/MacNumber.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

bool WriteAll(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray ReadAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

} // namespace

class TestMacNumber : public QObject
{
    Q_OBJECT

private slots:
    void number_data();
    void number();
    void line_data();
    void line();
    void counterRead_data();
    void counterRead();
    void counterRead_missingFile_fails();
    void counterWrite_twoLinesAsTheyStand();
    void counterWrite_failure_leavesOldFile();
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

void TestMacNumber::counterRead_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("box1");
    QTest::addColumn<QString>("box2");
    QTest::newRow("two CR LF lines") << QByteArray("12\r\nAB\r\n") << "12"
                                     << "AB";
    QTest::newRow("no final end") << QByteArray("12\nAB") << "12"
                                  << "AB";
    QTest::newRow("texts as they stand") << QByteArray(" 1x\r\n\r\n") << " 1x"
                                         << "";
    QTest::newRow("third empty line") << QByteArray("12\r\nAB\r\n\r\n") << "keep1"
                                      << "keep2";
    QTest::newRow("one line") << QByteArray("12\r\n") << "keep1"
                              << "keep2";
    QTest::newRow("empty file") << QByteArray() << "keep1"
                                << "keep2";
}

void TestMacNumber::counterRead()
{
    QFETCH(QByteArray, bytes);
    QTemporaryDir dir;
    const QString path = dir.filePath("SetMACAddress.txt");
    QVERIFY(WriteAll(path, bytes));
    QString box1 = "keep1";
    QString box2 = "keep2";
    QString error;
    QVERIFY(ReadMacCounterFile(path, &box1, &box2, &error));
    QTEST(box1, "box1");
    QTEST(box2, "box2");
}

void TestMacNumber::counterRead_missingFile_fails()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("SetMACAddress.txt");
    QString box1 = "keep1";
    QString box2 = "keep2";
    QString error;
    QVERIFY(!ReadMacCounterFile(path, &box1, &box2, &error));
    QCOMPARE(error, "Cannot open file " + path);
    QCOMPARE(box1, QString("keep1"));
    QCOMPARE(box2, QString("keep2"));
}

void TestMacNumber::counterWrite_twoLinesAsTheyStand()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("SetMACAddress.txt");
    QVERIFY(WriteAll(path, "old\r\nfile\r\nwith three\r\n"));
    QString error;
    QVERIFY(WriteMacCounterFile(path, "12", "AC", &error));
    QCOMPARE(ReadAll(path), QByteArray("12\r\nAC\r\n"));
    QVERIFY(WriteMacCounterFile(path, "", "ab", &error));
    QCOMPARE(ReadAll(path), QByteArray("\r\nab\r\n"));
}

void TestMacNumber::counterWrite_failure_leavesOldFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("missing-folder/SetMACAddress.txt");
    QString error;
    QVERIFY(!WriteMacCounterFile(path, "12", "AB", &error));
    QCOMPARE(error, "Cannot create file " + path);
}

QTEST_GUILESS_MAIN(TestMacNumber)
#include "tst_macnumber.moc"
