// COM names and the ComPorts.txt map that turns them into devices.

#include "link/PortNames.h"

#include <QTest>

class TestPortNames : public QObject
{
    Q_OBJECT

    const QStringList map{
        "# the gang", "COM3 = /dev/ttyUSB0", "com4=/dev/ttyUSB1", "COM3=/dev/second", "COM5=",
        "=x",         "COM300=/dev/far"};

private slots:
    void resolve_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("device");
        QTest::newRow("mapped, blanks ignored") << "COM3"
                                                << "/dev/ttyUSB0";
        QTest::newRow("case ignored") << "COM4"
                                      << "/dev/ttyUSB1";
        QTest::newRow("empty device falls back") << "COM5"
                                                 << "/dev/ttyS4";
        QTest::newRow("not listed") << "COM9"
                                    << "/dev/ttyS8";
    }
    void resolve()
    {
        QFETCH(QString, name);
        QFETCH(QString, device);
        QCOMPARE(ResolvePortDeviceFromLines(name, map), device);
    }

    void mapped_firstMappingOfEachNameInNumberOrder()
    {
        const QList<QPair<QString, QString>> mapped = MappedComPorts(map);
        QCOMPARE(mapped.size(), 2);
        QCOMPARE(mapped[0], (QPair<QString, QString>{"COM3", "/dev/ttyUSB0"}));
        QCOMPARE(mapped[1], (QPair<QString, QString>{"COM4", "/dev/ttyUSB1"}));
    }
};

QTEST_GUILESS_MAIN(TestPortNames)
#include "tst_portnames.moc"
