// The USB adapters' latency timer as the system tells it: read from a sysfs tree the test
// makes, lowered where the file may be written, explained where not, and shown in the port list.

#include "link/AdapterLatency.h"
#include "link/PortDiscovery.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestAdapterLatency : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir;

    QString sys() const { return dir->filePath("sys"); }
    // /sys/class/tty/<name>/device/latency_timer holding `text`.
    void makeTimer(const QString &name, const QByteArray &text)
    {
        const QString folder = sys() + "/class/tty/" + name + "/device";
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(WriteTestFile(folder + "/latency_timer", text));
    }

private slots:
    void init()
    {
        dir = std::make_unique<QTemporaryDir>();
        QVERIFY(dir->isValid());
    }

    void read_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("timerMs");
        QTest::newRow("default") << QByteArray("16\n") << 16;
        QTest::newRow("lowered") << QByteArray("1\n") << 1;
        QTest::newRow("not a number") << QByteArray("fast\n") << -1;
        QTest::newRow("negative") << QByteArray("-3\n") << -1;
        QTest::newRow("empty") << QByteArray() << -1;
    }
    void read()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, timerMs);
        makeTimer("ttyUSB0", text);
        const AdapterLatency latency = ReadAdapterLatency("/dev/ttyUSB0", sys());
        QCOMPARE(latency.timerMs, timerMs);
        if (timerMs >= 0)
            QCOMPARE(latency.source, sys() + "/class/tty/ttyUSB0/device/latency_timer");
    }

    // A stable link (by-id, or any link) names the adapter it resolves to.
    void linkToTheDevice_readsTheDevicesTimer()
    {
        makeTimer("ttyUSB3", "16\n");
        const QString device = dir->filePath("ttyUSB3");
        QVERIFY(WriteTestFile(device, QByteArray()));
        const QString link = dir->filePath("usb-maker-serial-if00-port0");
        QVERIFY(QFile::link(device, link));
        QCOMPARE(ReadAdapterLatency(link, sys()).timerMs, 16);
    }

    void noTimer_noneReported_nothingLowered()
    {
        QCOMPARE(ReadAdapterLatency("/dev/pts/7", sys()).timerMs, -1);
        QVERIFY(!LowerAdapterLatency("/dev/pts/7", sys()));
    }

    void lower_writesOneWhereAllowed_elseTheNoticeSaysHow()
    {
        makeTimer("ttyUSB1", "16\n");
        QVERIFY(LowerAdapterLatency("/dev/ttyUSB1", sys()));
        QCOMPARE(ReadAdapterLatency("/dev/ttyUSB1", sys()).timerMs, 1);

        makeTimer("ttyUSB2", "16\n");
        const QString file = sys() + "/class/tty/ttyUSB2/device/latency_timer";
        const AdapterLatency latency = ReadAdapterLatency("/dev/ttyUSB2", sys());
        const QString notice = AdapterLatencyNotice("/dev/ttyUSB2", latency);
        QVERIFY2(notice.startsWith("/dev/ttyUSB2: the USB adapter's latency timer is 16 ms"),
                 qPrintable(notice));
        QVERIFY2(notice.contains("echo 1 > " + file), qPrintable(notice));

        QVERIFY(QFile::setPermissions(file, QFile::ReadOwner | QFile::ReadGroup));
        if (QFile(file).open(QIODevice::WriteOnly))
            QSKIP("running as a user whom file permissions do not stop");
        QVERIFY(!LowerAdapterLatency("/dev/ttyUSB2", sys()));
        QCOMPARE(ReadAdapterLatency("/dev/ttyUSB2", sys()).timerMs, 16);
    }

    void portList_showsEachAdaptersTimer()
    {
        makeTimer("ttyUSB0", "16\n");
        makeTimer("ttyUSB1", "1\n");
        QList<SerialPortEntry> ports(3);
        ports[0].device = "/dev/ttyUSB0";
        ports[1].device = "/dev/ttyUSB1";
        ports[2].device = "/dev/ttyS0";
        PortDiscoveryOptions options;
        options.devDir = dir->filePath("dev");
        options.byIdDir = dir->filePath("by-id");
        options.lockDirs = {};
        options.procDir.clear();
        options.sysDir = sys();
        AddPortDetails(&ports, options);
        QCOMPARE(ports[0].latencyTimerMs, 16);
        QCOMPARE(ports[1].latencyTimerMs, 1);
        QCOMPARE(ports[2].latencyTimerMs, -1);
    }
};

QTEST_GUILESS_MAIN(TestAdapterLatency)
#include "tst_adapterlatency.moc"
