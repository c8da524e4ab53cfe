// COM names and the ComPorts.txt map: reading it, and setting one COM number's device in it
// without losing anything else the file holds.

#include "link/PortNames.h"

#include "support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestPortNames : public QObject
{
    Q_OBJECT
private slots:
    void comPortName_data();
    void comPortName();
    void resolve_data();
    void resolve();
    void withComPortDevice_data();
    void withComPortDevice();
    void setComPortDevice_createsTheFile();
    void setComPortDevice_keepsOtherLinesAndLineEnds_data();
    void setComPortDevice_keepsOtherLinesAndLineEnds();
    void setComPortDevice_readBackByTheResolver_data();
    void setComPortDevice_readBackByTheResolver();
    void setComPortDevice_refusesAndLeavesTheFile_data();
    void setComPortDevice_refusesAndLeavesTheFile();
    void setComPortDevice_unreadableFileIsLeftAlone();
    void setComPortDevice_unwritableFolderLeavesTheOldFile();
    void setComPortDevice_keepsPermissions();
    void mapped_firstMappingOfEachNameInNumberOrder();
};

void TestPortNames::comPortName_data()
{
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("name");
    QTest::newRow("1") << 1 << "COM1";
    QTest::newRow("254") << 254 << "COM254";
    QTest::newRow("255 is COM1") << 255 << "COM1";
    QTest::newRow("0 is COM1") << 0 << "COM1";
}

void TestPortNames::comPortName()
{
    QFETCH(int, number);
    QFETCH(QString, name);
    QCOMPARE(ComPortName(number), name);
}

void TestPortNames::resolve_data()
{
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QString>("comName");
    QTest::addColumn<QString>("device");

    QTest::newRow("listed") << QStringList{"COM1=/dev/ttyUSB0"} << "COM1"
                            << "/dev/ttyUSB0";
    QTest::newRow("case and blanks") << QStringList{"  com3 =  /dev/ttyACM0  "} << "COM3"
                                     << "/dev/ttyACM0";
    QTest::newRow("not listed") << QStringList{"COM1=/dev/ttyUSB0"} << "COM4"
                                << "/dev/ttyS3";
    QTest::newRow("comment skipped") << QStringList{"#COM2=/dev/ttyUSB0"} << "COM2"
                                     << "/dev/ttyS1";
    QTest::newRow("empty device skipped") << QStringList{"COM2=", "COM2=/dev/ttyUSB1"} << "COM2"
                                          << "/dev/ttyUSB1";
    QTest::newRow("first wins") << QStringList{"COM2=/dev/a", "COM2=/dev/b"} << "COM2"
                                << "/dev/a";
}

void TestPortNames::resolve()
{
    QFETCH(QStringList, lines);
    QFETCH(QString, comName);
    QFETCH(QString, device);
    QCOMPARE(ResolvePortDeviceFromLines(comName, lines), device);
}

void TestPortNames::withComPortDevice_data()
{
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<int>("number");
    QTest::addColumn<QStringList>("expected");

    const QString dev = QStringLiteral("/dev/serial/by-id/usb-Maker_A1-if00-port0");
    QTest::newRow("empty file") << QStringList() << 3 << QStringList{"COM3=" + dev};
    QTest::newRow("appended after others")
        << QStringList{"# adapters", "COM1=/dev/ttyUSB0"} << 3
        << QStringList{"# adapters", "COM1=/dev/ttyUSB0", "COM3=" + dev};
    QTest::newRow("replaced in place")
        << QStringList{"COM1=/dev/ttyUSB0", "com3 = /dev/ttyUSB1", "COM4=/dev/ttyACM0"} << 3
        << QStringList{"COM1=/dev/ttyUSB0", "COM3=" + dev, "COM4=/dev/ttyACM0"};
    QTest::newRow("later duplicates dropped")
        << QStringList{"COM3=", "COM1=/dev/ttyUSB0", "COM3=/dev/old"} << 3
        << QStringList{"COM3=" + dev, "COM1=/dev/ttyUSB0"};
    QTest::newRow("COM30 is not COM3") << QStringList{"COM30=/dev/ttyUSB5"} << 3
                                       << QStringList{"COM30=/dev/ttyUSB5", "COM3=" + dev};
    QTest::newRow("comments, blanks and odd lines kept")
        << QStringList{"# COM3=/dev/commented", "", "=nothing", "garbage", "COM3=/dev/x"} << 3
        << QStringList{"# COM3=/dev/commented", "", "=nothing", "garbage", "COM3=" + dev};
}

void TestPortNames::withComPortDevice()
{
    QFETCH(QStringList, lines);
    QFETCH(int, number);
    QFETCH(QStringList, expected);
    const QString dev = QStringLiteral("/dev/serial/by-id/usb-Maker_A1-if00-port0");
    QCOMPARE(WithComPortDevice(lines, number, dev), expected);
}

void TestPortNames::setComPortDevice_createsTheFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("ComPorts.txt"));
    QString error;
    QVERIFY(SetComPortDevice(path, 7, QStringLiteral("/dev/ttyUSB0"), &error));
    QCOMPARE(ReadTestFile(path), QByteArray("COM7=/dev/ttyUSB0\n"));
    QCOMPARE(ResolvePortDevice(QStringLiteral("COM7"), dir.path()), QStringLiteral("/dev/ttyUSB0"));
    // Nothing is left beside it.
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"ComPorts.txt"});
}

void TestPortNames::setComPortDevice_keepsOtherLinesAndLineEnds_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArray>("after");

    QTest::newRow("lf") << QByteArray("# mine\nCOM1=/dev/ttyS0\nCOM2=/dev/old\n")
                        << QByteArray("# mine\nCOM1=/dev/ttyS0\nCOM2=/dev/ttyUSB0\n");
    QTest::newRow("crlf") << QByteArray("COM1=/dev/ttyS0\r\n")
                          << QByteArray("COM1=/dev/ttyS0\r\nCOM2=/dev/ttyUSB0\r\n");
    QTest::newRow("no end on the last line")
        << QByteArray("COM1=/dev/ttyS0") << QByteArray("COM1=/dev/ttyS0\nCOM2=/dev/ttyUSB0\n");
    QTest::newRow("blank lines and odd text kept")
        << QByteArray("\n  \nsome words\nCOM2 = /dev/old   \n\n")
        << QByteArray("\n  \nsome words\nCOM2=/dev/ttyUSB0\n\n");
}

void TestPortNames::setComPortDevice_keepsOtherLinesAndLineEnds()
{
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, after);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("ComPorts.txt"));
    QVERIFY(WriteTestFile(path, before));
    QString error;
    QVERIFY(SetComPortDevice(path, 2, QStringLiteral("/dev/ttyUSB0"), &error));
    QCOMPARE(ReadTestFile(path), after);
}

void TestPortNames::setComPortDevice_readBackByTheResolver_data()
{
    QTest::addColumn<QString>("device");
    QTest::newRow("by-id") << "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A9GJ3XV1-if00-port0";
    QTest::newRow("equals sign") << "/dev/odd=name";
    QTest::newRow("blank inside") << "/dev/serial/by-id/usb-Maker Name-if00";
    QTest::newRow("outside ascii")
        << QStringLiteral("/dev/serial/by-id/usb-Kabel_Gr\u00fc\u00dfe-if00");
    QTest::newRow("windows name") << "COM12";
}

void TestPortNames::setComPortDevice_readBackByTheResolver()
{
    QFETCH(QString, device);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("ComPorts.txt"));
    QVERIFY(WriteTestFile(path, "COM1=/dev/ttyS0\n"));
    QString error;
    QVERIFY(SetComPortDevice(path, 254, device, &error));
    QCOMPARE(ResolvePortDevice(QStringLiteral("COM254"), dir.path()), device);
    QCOMPARE(ResolvePortDevice(QStringLiteral("COM1"), dir.path()), QStringLiteral("/dev/ttyS0"));
}

void TestPortNames::setComPortDevice_refusesAndLeavesTheFile_data()
{
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("device");
    QTest::addColumn<QString>("errorStart");

    QTest::newRow("number 0") << 0 << "/dev/ttyUSB0"
                              << "COM0 cannot be mapped";
    QTest::newRow("number 255") << 255 << "/dev/ttyUSB0"
                                << "COM255 cannot be mapped";
    QTest::newRow("empty device") << 1 << ""
                                  << "\"\" cannot be written";
    QTest::newRow("line break") << 1 << "/dev/tty\nCOM2=/dev/evil"
                                << "\"/dev/tty";
    QTest::newRow("carriage return") << 1 << "/dev/tty\r"
                                     << "\"/dev/tty";
    QTest::newRow("leading blank") << 1 << " /dev/ttyUSB0"
                                   << "\" /dev/ttyUSB0\" cannot be written";
    QTest::newRow("trailing blank") << 1 << "/dev/ttyUSB0 "
                                    << "\"/dev/ttyUSB0 \" cannot be written";
}

void TestPortNames::setComPortDevice_refusesAndLeavesTheFile()
{
    QFETCH(int, number);
    QFETCH(QString, device);
    QFETCH(QString, errorStart);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("ComPorts.txt"));
    const QByteArray before("COM1=/dev/ttyS0\n");
    QVERIFY(WriteTestFile(path, before));
    QString error;
    QVERIFY(!SetComPortDevice(path, number, device, &error));
    QVERIFY2(error.startsWith(errorStart), qPrintable(error));
    QCOMPARE(ReadTestFile(path), before);
}

void TestPortNames::setComPortDevice_unreadableFileIsLeftAlone()
{
    QTemporaryDir dir;
    // A folder in the file's place cannot be read as a file.
    const QString path = dir.filePath(QStringLiteral("ComPorts.txt"));
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("ComPorts.txt")));
    QString error;
    QVERIFY(!SetComPortDevice(path, 1, QStringLiteral("/dev/ttyUSB0"), &error));
    QCOMPARE(error, QStringLiteral("Cannot open file ") + path);
    QVERIFY(QFileInfo(path).isDir());

    // A file with a NUL byte would lose what follows it.
    const QString binary = dir.filePath(QStringLiteral("other.txt"));
    const QByteArray bytes("COM1=/dev/ttyS0\n\0COM2=/dev/x\n", 29);
    QVERIFY(WriteTestFile(binary, bytes));
    QVERIFY(!SetComPortDevice(binary, 1, QStringLiteral("/dev/ttyUSB0"), &error));
    QVERIFY2(error.contains(QLatin1String("not a text file")), qPrintable(error));
    QCOMPARE(ReadTestFile(binary), bytes);
}

void TestPortNames::setComPortDevice_unwritableFolderLeavesTheOldFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("missing/ComPorts.txt"));
    QString error;
    QVERIFY(!SetComPortDevice(path, 1, QStringLiteral("/dev/ttyUSB0"), &error));
    QCOMPARE(error, QStringLiteral("Cannot create file ") + path);
    QVERIFY(!QFile::exists(path));
}

void TestPortNames::setComPortDevice_keepsPermissions()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("ComPorts.txt"));
    QVERIFY(WriteTestFile(path, "COM1=/dev/ttyS0\n"));
    const auto permissions = QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                             QFileDevice::ReadGroup | QFileDevice::ReadOther;
    QVERIFY(QFile::setPermissions(path, permissions));
    QString error;
    QVERIFY(SetComPortDevice(path, 1, QStringLiteral("/dev/ttyUSB0"), &error));
    // Owner, group and others (the "user" bits mirror the owner's for this user).
    const int mask = 0x7077;
    QCOMPARE(int(QFile::permissions(path)) & mask, int(permissions) & mask);
}

void TestPortNames::mapped_firstMappingOfEachNameInNumberOrder()
{
    const QStringList map{"# bench", "COM4=/dev/ttyUSB1", "com3 = /dev/ttyUSB0", "COM3=/dev/ttyS9",
                          "COM7="};
    const QList<QPair<QString, QString>> mapped = MappedComPorts(map);
    QCOMPARE(mapped.size(), 2);
    QCOMPARE(mapped[0], (QPair<QString, QString>{"COM3", "/dev/ttyUSB0"}));
    QCOMPARE(mapped[1], (QPair<QString, QString>{"COM4", "/dev/ttyUSB1"}));
}

QTEST_GUILESS_MAIN(TestPortNames)
#include "tst_portnames.moc"
