#include "link/PortNames.h"
#include "support/TestFiles.h"

#include <QTemporaryDir>
#include <QTest>

// COM names are the operator's names on every platform; on Windows the name is the device, on
// other systems ComPorts.txt maps it.
class TestPortNames : public QObject
{
    Q_OBJECT

private slots:
    void comPortName_data();
    void comPortName();
    void fromLines_data();
    void fromLines();
    void resolve_readsComPortsBesideTheGivenFolder();
};

void TestPortNames::comPortName_data()
{
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("name");
    QTest::newRow("1") << 1 << "COM1";
    QTest::newRow("9") << 9 << "COM9";
    QTest::newRow("10: two digits") << 10 << "COM10";
    QTest::newRow("254: the highest") << 254 << "COM254";
    QTest::newRow("255 stands for COM1") << 255 << "COM1";
    QTest::newRow("0") << 0 << "COM1";
    QTest::newRow("negative") << -3 << "COM1";
    QTest::newRow("large") << 100000 << "COM1";
}

void TestPortNames::comPortName()
{
    QFETCH(int, number);
    QFETCH(QString, name);
    QCOMPARE(ComPortName(number), name);
}

void TestPortNames::fromLines_data()
{
    QTest::addColumn<QString>("comName");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QString>("device");
    QTest::newRow("unmapped COM1") << "COM1" << QStringList() << "/dev/ttyS0";
    QTest::newRow("unmapped COM254") << "COM254" << QStringList() << "/dev/ttyS253";
    QTest::newRow("mapped") << "COM2" << QStringList{"COM1=/dev/ttyUSB0", "COM2=/dev/ttyUSB1"}
                            << "/dev/ttyUSB1";
    QTest::newRow("case and blanks")
        << "COM3" << QStringList{"  com3 =  /dev/ttyACM0  "} << "/dev/ttyACM0";
    QTest::newRow("comment skipped") << "COM1" << QStringList{"#COM1=/dev/ttyUSB9"} << "/dev/ttyS0";
    QTest::newRow("empty device falls through to a later line")
        << "COM1" << QStringList{"COM1=", "COM1=/dev/ttyUSB2"} << "/dev/ttyUSB2";
    QTest::newRow("first of two wins")
        << "COM1" << QStringList{"COM1=/dev/a", "COM1=/dev/b"} << "/dev/a";
    QTest::newRow("COM10 is not COM1")
        << "COM1" << QStringList{"COM10=/dev/ttyUSB5"} << "/dev/ttyS0";
    QTest::newRow("line without equals")
        << "COM1" << QStringList{"COM1 /dev/ttyUSB0"} << "/dev/ttyS0";
    QTest::newRow("by-id path with equals kept")
        << "COM4" << QStringList{"COM4=/dev/serial/by-id/usb-X=Y-if00"}
        << "/dev/serial/by-id/usb-X=Y-if00";
}

void TestPortNames::fromLines()
{
    QFETCH(QString, comName);
    QFETCH(QStringList, lines);
    QFETCH(QString, device);
    QCOMPARE(ResolvePortDeviceFromLines(comName, lines), device);
}

void TestPortNames::resolve_readsComPortsBesideTheGivenFolder()
{
    QTemporaryDir dir;
    QVERIFY(WriteTestFile(dir.filePath("ComPorts.txt"), "COM7=/dev/ttyUSB3\r\n"));
#ifdef Q_OS_WIN
    QCOMPARE(ResolvePortDevice("COM7", dir.path()), QString("COM7"));
#else
    QCOMPARE(ResolvePortDevice("COM7", dir.path()), QString("/dev/ttyUSB3"));
    QCOMPARE(ResolvePortDevice("COM8", dir.path()), QString("/dev/ttyS7"));
    QCOMPARE(ResolvePortDevice("COM7", dir.filePath("missing")), QString("/dev/ttyS6"));
#endif
}

QTEST_GUILESS_MAIN(TestPortNames)
#include "tst_portnames.moc"
