// The MAC counter as a counter shared by the window and any number of production tool
// processes: taking, giving back, noting a typed number, and the window's close.

#include "exchanges/MacCounter.h"
#include "exchanges/MacNumber.h"
#include "support/TestFiles.h"

#include <QFile>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <mutex>
#include <thread>
#include <vector>

class TestMacCounter : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QString counter() const { return dir.filePath("SetMACAddress.txt"); }

private slots:
    void init()
    {
        QFile::remove(counter());
        QFile::remove(MacCounterLockPath(counter()));
    }

    void take_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<int>("taken"); // -1: refused
        QTest::addColumn<QByteArray>("after");
        QTest::addColumn<QString>("error");
        QTest::newRow("12 AB") << QByteArray("12\r\nAB\r\n") << 0x12AB << QByteArray("12\r\nAC\r\n")
                               << "";
        QTest::newRow("carry into the high byte")
            << QByteArray("00\r\nff\r\n") << 0x00FF << QByteArray("01\r\n00\r\n") << "";
        QTest::newRow("last one before FFFF")
            << QByteArray("FF\r\nFE") << 0xFFFE << QByteArray("FF\r\nFF\r\n") << "";
        QTest::newRow("extra characters, as the window reads them")
            << QByteArray("12xyz\nAB7\n") << 0x12AB << QByteArray("12\r\nAC\r\n") << "";
        QTest::newRow("at FFFF") << QByteArray("ff\r\nFF\r\n") << -1 << QByteArray("ff\r\nFF\r\n")
                                 << "is at FFFF: no MAC numbers left";
        QTest::newRow("three lines") << QByteArray("12\r\nAB\r\n\r\n") << -1
                                     << QByteArray("12\r\nAB\r\n\r\n") << "holds no number";
        QTest::newRow("not hex") << QByteArray("1G\r\nAB\r\n") << -1 << QByteArray("1G\r\nAB\r\n")
                                 << "holds no number";
        QTest::newRow("empty") << QByteArray("") << -1 << QByteArray("") << "holds no number";
    }
    void take()
    {
        QFETCH(QByteArray, before);
        QFETCH(int, taken);
        QFETCH(QByteArray, after);
        QFETCH(QString, error);
        QVERIFY(WriteTestFile(counter(), before));
        int number = -1;
        QString message;
        QCOMPARE(TakeMacNumber(counter(), &number, &message), taken >= 0);
        QCOMPARE(number, taken);
        QCOMPARE(ReadTestFile(counter()), after);
        QVERIFY2(message.contains(error), qPrintable(message));
        if (!error.isEmpty())
            QVERIFY(message.startsWith("MAC counter file " + counter()));
    }

    void take_missingFile_refused_nothingMade()
    {
        int number = -1;
        QString message;
        QVERIFY(!TakeMacNumber(counter(), &number, &message));
        QCOMPARE(message, "MAC counter file " + counter() + " not found");
        QVERIFY(!QFile::exists(counter()));
        QVERIFY(!QFile::exists(MacCounterLockPath(counter())));
    }

    void giveBack_onlyWhileNothingWasTakenSince()
    {
        QVERIFY(WriteTestFile(counter(), "00\r\n10\r\n"));
        int first = -1;
        int second = -1;
        QString message;
        QVERIFY(TakeMacNumber(counter(), &first, &message));
        QVERIFY(ReturnMacNumber(counter(), first));
        QCOMPARE(ReadTestFile(counter()), QByteArray("00\r\n10\r\n"));
        QVERIFY(TakeMacNumber(counter(), &first, &message));
        QVERIFY(TakeMacNumber(counter(), &second, &message));
        QVERIFY(!ReturnMacNumber(counter(), first));
        QCOMPARE(ReadTestFile(counter()), QByteArray("00\r\n12\r\n"));
    }

    void noteGiven_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<int>("given");
        QTest::addColumn<QByteArray>("after");
        QTest::newRow("below: moved past")
            << QByteArray("00\r\n10\r\n") << 0x20 << QByteArray("00\r\n21\r\n");
        QTest::newRow("equal: moved past")
            << QByteArray("00\r\n10\r\n") << 0x10 << QByteArray("00\r\n11\r\n");
        QTest::newRow("above: kept")
            << QByteArray("00\r\n10\r\n") << 0x05 << QByteArray("00\r\n10\r\n");
        QTest::newRow("FFFF stays FFFF")
            << QByteArray("00\r\n10\r\n") << 0xFFFF << QByteArray("FF\r\nFF\r\n");
        QTest::newRow("no number: replaced")
            << QByteArray("junk\r\n") << 0x05 << QByteArray("00\r\n06\r\n");
    }
    void noteGiven()
    {
        QFETCH(QByteArray, before);
        QFETCH(int, given);
        QFETCH(QByteArray, after);
        QVERIFY(WriteTestFile(counter(), before));
        QString message;
        QVERIFY2(NoteMacNumberGiven(counter(), given, &message), qPrintable(message));
        QCOMPARE(ReadTestFile(counter()), after);
    }

    void noteGiven_noCounter_nothingMade()
    {
        QString message;
        QVERIFY(NoteMacNumberGiven(counter(), 5, &message));
        QVERIFY(!QFile::exists(counter()));
    }

    void windowClose_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QString>("box1");
        QTest::addColumn<QString>("box2");
        QTest::addColumn<int>("store");
        QTest::addColumn<QByteArray>("after");
        const int written = int(MacCounterStore::Written);
        const int kept = int(MacCounterStore::KeptHigher);
        QTest::newRow("boxes moved on") << QByteArray("12\r\nAB\r\n") << "12"
                                        << "AC" << written << QByteArray("12\r\nAC\r\n");
        QTest::newRow("boxes as they stand") << QByteArray("12\r\nAB\r\n") << "12x"
                                             << "ab" << written << QByteArray("12x\r\nab\r\n");
        QTest::newRow("a tool gave numbers meanwhile")
            << QByteArray("12\r\nAD\r\n") << "12"
            << "AB" << kept << QByteArray("12\r\nAD\r\n");
        QTest::newRow("boxes make no number") << QByteArray("12\r\nAB\r\n") << "1"
                                              << "" << kept << QByteArray("12\r\nAB\r\n");
        QTest::newRow("file holds no number") << QByteArray("x\r\n") << ""
                                              << "" << written << QByteArray("\r\n\r\n");
    }
    void windowClose()
    {
        QFETCH(QByteArray, before);
        QFETCH(QString, box1);
        QFETCH(QString, box2);
        QFETCH(int, store);
        QFETCH(QByteArray, after);
        QVERIFY(WriteTestFile(counter(), before));
        QString message;
        QCOMPARE(int(StoreMacCounterBoxes(counter(), box1, box2, &message)), store);
        QCOMPARE(ReadTestFile(counter()), after);
    }

    void windowClose_noCounter_nothingWritten()
    {
        QString message;
        QCOMPARE(StoreMacCounterBoxes(counter(), "12", "AB", &message), MacCounterStore::NoFile);
        QVERIFY(!QFile::exists(counter()));
    }

    // The window read 12 AB at start; a production tool then gives out 12AB and 12AC; the
    // window closes with its boxes unchanged, and no number is handed out twice afterwards.
    void windowLeftOpenWhileTheToolGivesNumbers_counterNeverGoesBack()
    {
        QVERIFY(WriteTestFile(counter(), "12\r\nAB\r\n"));
        QString box1;
        QString box2;
        QString message;
        QVERIFY(ReadMacCounterFile(counter(), &box1, &box2, &message));
        int number = -1;
        QVERIFY(TakeMacNumber(counter(), &number, &message));
        QVERIFY(TakeMacNumber(counter(), &number, &message));
        QCOMPARE(StoreMacCounterBoxes(counter(), box1, box2, &message),
                 MacCounterStore::KeptHigher);
        QVERIFY(TakeMacNumber(counter(), &number, &message));
        QCOMPARE(number, 0x12AD);
    }

    void takersSideBySide_neverTheSameNumber()
    {
        QVERIFY(WriteTestFile(counter(), "00\r\n00\r\n"));
        std::mutex guard;
        std::vector<int> numbers;
        std::vector<std::thread> takers;
        for (int t = 0; t < 4; ++t) {
            takers.emplace_back([&] {
                for (int i = 0; i < 50; ++i) {
                    int number = -1;
                    QString message;
                    if (TakeMacNumber(counter(), &number, &message)) {
                        const std::lock_guard<std::mutex> lock(guard);
                        numbers.push_back(number);
                    }
                }
            });
        }
        for (std::thread &taker : takers)
            taker.join();
        QCOMPARE(int(numbers.size()), 200);
        QCOMPARE(QSet<int>(numbers.begin(), numbers.end()).size(), 200);
        QCOMPARE(ReadTestFile(counter()), QByteArray("00\r\nC8\r\n"));
    }

    void numberOfAddress_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<int>("number");
        QTest::newRow("full") << "00:04:A3:01:12:AB" << 0x12AB;
        QTest::newRow("lower case") << "00:04:a3:01:ff:0e" << 0xFF0E;
        QTest::newRow("empty") << "" << -1;
        QTest::newRow("no separator") << "0004A30112AB" << -1;
        QTest::newRow("not hex") << "00:04:A3:01:1G:AB" << -1;
    }
    void numberOfAddress()
    {
        QFETCH(QString, address);
        QFETCH(int, number);
        QCOMPARE(MacNumberOfAddress(address), number);
    }

    void defaultPath_isTheWindowsFixedPathOnWindows()
    {
#ifdef Q_OS_WIN
        QCOMPARE(DefaultMacCounterPath(), QString("C:\\TolvexSetMACAddress\\SetMACAddress.txt"));
#else
        QVERIFY(DefaultMacCounterPath().endsWith("/TolvexSetMACAddress/SetMACAddress.txt"));
#endif
    }
};

QTEST_GUILESS_MAIN(TestMacCounter)
#include "tst_maccounter.moc"
