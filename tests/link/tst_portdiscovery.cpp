// Finding the serial ports: stable names, holders and access, the cheap change check, and the
// watcher that signals only on change. Devices, links and lock files are laid out in a
// temporary folder; holders are real processes holding real pseudo-terminals.

#include "link/PortDiscovery.h"
#include "link/QtSerialPortIo.h"

#include "support/PtyTools.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <sys/ioctl.h>
#include <unistd.h>

namespace {

// A device folder "<tmp>/dev" with a by-id folder and a lock folder of its own.
struct FakeDevices
{
    QTemporaryDir root;
    PortDiscoveryOptions options;

    FakeDevices()
    {
        QDir(root.path()).mkpath(QStringLiteral("dev/serial/by-id"));
        QDir(root.path()).mkpath(QStringLiteral("lock"));
        options.devDir = root.filePath(QStringLiteral("dev"));
        options.byIdDir = root.filePath(QStringLiteral("dev/serial/by-id"));
        options.lockDirs = {root.filePath(QStringLiteral("lock"))};
        options.procDir.clear();
    }
    QString Device(const QString &name) const { return options.devDir + QLatin1Char('/') + name; }
    bool AddDevice(const QString &name) const { return WriteTestFile(Device(name), QByteArray()); }
    // As udev makes them: a relative link from the by-id folder to the device.
    bool AddLink(const QString &linkName, const QString &deviceName) const
    {
        return QFile::link(QStringLiteral("../../") + deviceName,
                           options.byIdDir + QLatin1Char('/') + linkName);
    }
    bool AddLock(const QString &lockName, const QByteArray &content) const
    {
        return WriteTestFile(options.lockDirs.first() + QLatin1Char('/') + lockName, content);
    }
    SerialPortEntry Detailed(const QString &name) const
    {
        QList<SerialPortEntry> ports{SerialPortEntry{}};
        ports[0].device = Device(name);
        AddPortDetails(&ports, options);
        return ports[0];
    }
};

// A process that stays alive until the test ends, optionally holding a file as its input.
struct Holder
{
    QProcess process;
    explicit Holder(const QString &heldFile = QString())
    {
        if (!heldFile.isEmpty())
            process.setStandardInputFile(heldFile);
        process.start(QStringLiteral("sleep"), {QStringLiteral("30")});
        process.waitForStarted();
    }
    ~Holder()
    {
        process.kill();
        process.waitForFinished();
    }
    qint64 Pid() const { return process.processId(); }
};

// Root opens what others may not, so a check of access rules run as root proves nothing: the
// same test function runs again in a copy of this program as the unprivileged user "nobody".
// Returns false when that is not possible here; the copy's output goes to *output.
bool RerunAsNobody(bool *passed, QByteArray *output)
{
    const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
    if (setpriv.isEmpty())
        return false;
    QProcess copy;
    copy.setProcessChannelMode(QProcess::MergedChannels);
    copy.start(setpriv, {QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                         QStringLiteral("--clear-groups"), QCoreApplication::applicationFilePath(),
                         QString::fromLatin1(QTest::currentTestFunction())});
    if (!copy.waitForFinished(30000))
        return false;
    *output = copy.readAll();
    *passed = copy.exitStatus() == QProcess::NormalExit && copy.exitCode() == 0 &&
              output->contains("Totals: 3 passed, 0 failed, 0 skipped");
    return true;
}

#define CHECK_AS_NOBODY_WHEN_ROOT()                                                                \
    if (::geteuid() == 0) {                                                                        \
        bool passed = false;                                                                       \
        QByteArray output;                                                                         \
        if (!RerunAsNobody(&passed, &output))                                                      \
            QSKIP("running as root, and cannot run the check as another user");                    \
        QVERIFY2(passed, output.constData());                                                      \
        return;                                                                                    \
    }

qint64 EndedProcessId()
{
    QProcess process;
    process.start(QStringLiteral("true"), QStringList());
    process.waitForStarted();
    const qint64 pid = process.processId();
    process.waitForFinished();
    return pid;
}

SerialPortEntry Entry(const QString &device, const QString &description = QString())
{
    SerialPortEntry entry;
    entry.device = device;
    entry.description = description;
    return entry;
}

} // namespace

class TestPortDiscovery : public QObject
{
    Q_OBJECT
private slots:
    void entry_usbIdsAndPreferredPath();
    void stablePath_isTheByIdLinkToTheDevice();
    void lockFile_data();
    void lockFile();
    void lockFile_forTheStablePathCounts();
    void openHandle_ofAnotherProcess_marksItHeld();
    void ownPort_isThisProgramNotAnother();
    void probeOpen_exclusiveHolder_isSeenAndNotDisturbed();
    void accessDenied_isReported();
    void listSerialPorts_listsWhatQtSeesSorted();
    void fingerprint_changesExactlyWithDevicesLinksAndLocks();
    void watcher_listsOnlyWhenTheFingerprintChanges();
    void watcher_signalsOnlyOnChange();
    void watcher_listsNowAndThenEvenWithoutChange();
};

void TestPortDiscovery::entry_usbIdsAndPreferredPath()
{
    SerialPortEntry entry = Entry(QStringLiteral("/dev/ttyUSB0"));
    QCOMPARE(entry.UsbIdText(), QString());
    QCOMPARE(entry.PreferredPath(), QStringLiteral("/dev/ttyUSB0"));
    entry.hasUsbIds = true;
    entry.vendorId = 0x0403;
    entry.productId = 0x6001;
    QCOMPARE(entry.UsbIdText(), QStringLiteral("0403:6001"));
    entry.stablePath = QStringLiteral("/dev/serial/by-id/usb-Maker_X-if00-port0");
    QCOMPARE(entry.PreferredPath(), entry.stablePath);
    SerialPortEntry other = entry;
    QVERIFY(other == entry);
    other.holder = PortHolder::OtherProgram;
    QVERIFY(other != entry);
}

void TestPortDiscovery::stablePath_isTheByIdLinkToTheDevice()
{
    FakeDevices devices;
    QVERIFY(devices.AddDevice(QStringLiteral("ttyUSB0")));
    QVERIFY(devices.AddDevice(QStringLiteral("ttyUSB1")));
    QVERIFY(devices.AddDevice(QStringLiteral("ttyS0")));
    QVERIFY(devices.AddLink(QStringLiteral("usb-Maker_Cable_A1-if00-port0"),
                            QStringLiteral("ttyUSB1")));
    QVERIFY(devices.AddLink(QStringLiteral("usb-Maker_Cable_B2-if00-port0"),
                            QStringLiteral("ttyUSB0")));
    // A dangling link (an adapter pulled a moment ago) points at nothing.
    QVERIFY(devices.AddLink(QStringLiteral("usb-Gone-if00"), QStringLiteral("ttyUSB9")));

    QCOMPARE(devices.Detailed(QStringLiteral("ttyUSB0")).stablePath,
             devices.options.byIdDir + QStringLiteral("/usb-Maker_Cable_B2-if00-port0"));
    QCOMPARE(devices.Detailed(QStringLiteral("ttyUSB1")).stablePath,
             devices.options.byIdDir + QStringLiteral("/usb-Maker_Cable_A1-if00-port0"));
    QCOMPARE(devices.Detailed(QStringLiteral("ttyS0")).stablePath, QString());
    // No by-id folder at all (no USB adapter was ever plugged in).
    QVERIFY(QDir(devices.options.byIdDir).removeRecursively());
    QCOMPARE(devices.Detailed(QStringLiteral("ttyUSB0")).stablePath, QString());
}

void TestPortDiscovery::lockFile_data()
{
    QTest::addColumn<QString>("content"); // "<pid>" stands for the chosen process id
    QTest::addColumn<QString>("whose");   // "other", "own", "ended"
    QTest::addColumn<bool>("binary");
    QTest::addColumn<int>("holder");
    QTest::addColumn<QString>("name");

    const int other = int(PortHolder::OtherProgram);
    const int unknown = int(PortHolder::Unknown);
    const int own = int(PortHolder::ThisProgram);
    // As Qt SerialPort writes it: id, program name, host name.
    QTest::newRow("qt lock, live process") << "<pid>\nminicom\nbench-pc\n"
                                           << "other" << false << other << "minicom";
    // The uucp form: the id right-aligned in ten characters; the name comes from the process.
    QTest::newRow("uucp lock") << "     <pid>\n"
                               << "other" << false << other << "sleep";
    QTest::newRow("binary lock") << ""
                                 << "other" << true << other << "sleep";
    QTest::newRow("stale lock of an ended process") << "<pid>\nminicom\n"
                                                    << "ended" << false << unknown << "";
    QTest::newRow("own lock") << "<pid>\ntolvex-config\n"
                              << "own" << false << own << "tolvex-config";
    QTest::newRow("garbage") << "not a lock file"
                             << "other" << false << unknown << "";
    QTest::newRow("empty") << ""
                           << "other" << false << unknown << "";
}

void TestPortDiscovery::lockFile()
{
    QFETCH(QString, content);
    QFETCH(QString, whose);
    QFETCH(bool, binary);
    QFETCH(int, holder);
    QFETCH(QString, name);

    FakeDevices devices;
    devices.options.procDir = QStringLiteral("/proc");
    QVERIFY(devices.AddDevice(QStringLiteral("ttyUSB0")));
    Holder process;
    const qint64 pid = whose == QLatin1String("own")     ? QCoreApplication::applicationPid()
                       : whose == QLatin1String("ended") ? EndedProcessId()
                                                         : process.Pid();
    QByteArray bytes = content.toLatin1().replace("<pid>", QByteArray::number(pid));
    if (binary) {
        const qint32 id = qint32(pid);
        bytes = QByteArray(reinterpret_cast<const char *>(&id), 4);
    }
    QVERIFY(devices.AddLock(QStringLiteral("LCK..ttyUSB0"), bytes));

    const SerialPortEntry entry = devices.Detailed(QStringLiteral("ttyUSB0"));
    QCOMPARE(int(entry.holder), holder);
    QCOMPARE(entry.holderName, name);
    QCOMPARE(entry.holderPid, holder == int(PortHolder::Unknown) ? 0 : pid);
}

void TestPortDiscovery::lockFile_forTheStablePathCounts()
{
    // A program that opened the by-id path leaves a lock named after that path.
    FakeDevices devices;
    QVERIFY(devices.AddDevice(QStringLiteral("ttyUSB0")));
    QVERIFY(devices.AddLink(QStringLiteral("usb-Maker_Cable_A1-if00-port0"),
                            QStringLiteral("ttyUSB0")));
    Holder process;
    QVERIFY(devices.AddLock(QStringLiteral("LCK..serial_by-id_usb-Maker_Cable_A1-if00-port0"),
                            QByteArray::number(process.Pid()) + "\nterminal\n"));
    const SerialPortEntry entry = devices.Detailed(QStringLiteral("ttyUSB0"));
    QCOMPARE(entry.holder, PortHolder::OtherProgram);
    QCOMPARE(entry.holderName, QStringLiteral("terminal"));
}

void TestPortDiscovery::openHandle_ofAnotherProcess_marksItHeld()
{
    PtyPair pty;
    QVERIFY(pty.Open());
    FakeDevices devices;
    devices.options.procDir = QStringLiteral("/proc");
    QList<SerialPortEntry> ports{Entry(pty.slavePath)};

    AddPortDetails(&ports, devices.options);
    QCOMPARE(ports[0].holder, PortHolder::ThisProgram); // the test holds the slave side itself

    // With our own hold gone, only the other process is left.
    ::close(pty.slave);
    pty.slave = -1;
    Holder process(pty.slavePath);
    QVERIFY(process.Pid() > 0);
    ports = {Entry(pty.slavePath)};
    AddPortDetails(&ports, devices.options);
    QCOMPARE(ports[0].holder, PortHolder::OtherProgram);
    QCOMPARE(ports[0].holderPid, process.Pid());
    QCOMPARE(ports[0].holderName, QStringLiteral("sleep"));

    // Without looking at processes nothing can be said.
    devices.options.procDir.clear();
    ports = {Entry(pty.slavePath)};
    AddPortDetails(&ports, devices.options);
    QCOMPARE(ports[0].holder, PortHolder::Unknown);
}

void TestPortDiscovery::ownPort_isThisProgramNotAnother()
{
    // The program's own port during an exchange, opened the way the exchanges open it; both
    // the lock file Qt SerialPort leaves and the open handle name this process.
    PtyPair pty;
    QVERIFY(pty.Open());
    ::close(pty.slave);
    pty.slave = -1;
    QtSerialPortIo port;
    QCOMPARE(port.Open(pty.slavePath), PortIo::OpenResult::Opened);
    QList<SerialPortEntry> ports{Entry(pty.slavePath)};
    AddPortDetails(&ports, PortDiscoveryOptions{});
    QCOMPARE(ports[0].holder, PortHolder::ThisProgram);
    QCOMPARE(ports[0].holderPid, QCoreApplication::applicationPid());

    port.Close();
    ports = {Entry(pty.slavePath)};
    AddPortDetails(&ports, PortDiscoveryOptions{});
    QCOMPARE(ports[0].holder, PortHolder::Unknown);
}

void TestPortDiscovery::probeOpen_exclusiveHolder_isSeenAndNotDisturbed()
{
    CHECK_AS_NOBODY_WHEN_ROOT();
    PtyPair pty;
    QVERIFY(pty.Open());
    QCOMPARE(::ioctl(pty.slave, TIOCEXCL), 0);
    termios before{};
    QCOMPARE(::tcgetattr(pty.slave, &before), 0);

    PortDiscoveryOptions options;
    options.procDir.clear();
    options.lockDirs.clear();
    options.probeOpen = true;
    QList<SerialPortEntry> ports{Entry(pty.slavePath)};
    AddPortDetails(&ports, options);
    QCOMPARE(ports[0].holder, PortHolder::OtherProgram);

    termios after{};
    QCOMPARE(::tcgetattr(pty.slave, &after), 0);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(&after), sizeof after),
             QByteArray(reinterpret_cast<const char *>(&before), sizeof before));
}

void TestPortDiscovery::accessDenied_isReported()
{
    FakeDevices devices;
    QVERIFY(devices.AddDevice(QStringLiteral("ttyUSB0")));
    QCOMPARE(devices.Detailed(QStringLiteral("ttyUSB0")).accessDenied, false);
    CHECK_AS_NOBODY_WHEN_ROOT();
    QVERIFY(QFile::setPermissions(devices.Device(QStringLiteral("ttyUSB0")),
                                  QFileDevice::Permissions()));
    QCOMPARE(devices.Detailed(QStringLiteral("ttyUSB0")).accessDenied, true);
}

void TestPortDiscovery::listSerialPorts_listsWhatQtSeesSorted()
{
    // Whatever this machine has: every entry names a device, in order, and listing twice in a
    // row gives the same list.
    const QList<SerialPortEntry> ports = ListSerialPorts();
    for (const SerialPortEntry &port : ports)
        QVERIFY(!port.device.isEmpty());
    QCOMPARE(ListSerialPorts(), ports);
}

void TestPortDiscovery::fingerprint_changesExactlyWithDevicesLinksAndLocks()
{
    FakeDevices devices;
    QVERIFY(devices.AddDevice(QStringLiteral("ttyS0")));
    const QList<SerialPortEntry> known{Entry(devices.Device(QStringLiteral("ttyS0")))};
    QByteArray print = PortFingerprint(known, devices.options);
    QVERIFY(!print.isEmpty());
    QCOMPARE(PortFingerprint(known, devices.options), print);

    // Plugged in: the device appears, then its link.
    QVERIFY(devices.AddDevice(QStringLiteral("ttyUSB0")));
    QVERIFY(PortFingerprint(known, devices.options) != print);
    print = PortFingerprint(known, devices.options);
    QVERIFY(devices.AddLink(QStringLiteral("usb-Maker_Cable_A1-if00-port0"),
                            QStringLiteral("ttyUSB0")));
    QVERIFY(PortFingerprint(known, devices.options) != print);
    print = PortFingerprint(known, devices.options);

    // A lock of a known port; a lock of a port not listed yet does not matter.
    QVERIFY(devices.AddLock(QStringLiteral("LCK..ttyUSB0"), "1\n"));
    QCOMPARE(PortFingerprint(known, devices.options), print);
    QVERIFY(devices.AddLock(QStringLiteral("LCK..ttyS0"), "1\n"));
    QVERIFY(PortFingerprint(known, devices.options) != print);
    print = PortFingerprint(known, devices.options);

    // Pulled: the device goes.
    QVERIFY(QFile::remove(devices.Device(QStringLiteral("ttyUSB0"))));
    QVERIFY(PortFingerprint(known, devices.options) != print);
}

void TestPortDiscovery::watcher_listsOnlyWhenTheFingerprintChanges()
{
    int listings = 0;
    QByteArray print = "a";
    QList<SerialPortEntry> present{Entry(QStringLiteral("/dev/ttyS0"))};
    PortWatcher watcher(
        [&] {
            ++listings;
            return present;
        },
        [&](const QList<SerialPortEntry> &) { return print; });
    QSignalSpy changed(&watcher, &PortWatcher::PortsChanged);

    watcher.Start(10);
    QCOMPARE(listings, 1);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(watcher.Ports(), present);

    QTest::qWait(60);
    QCOMPARE(listings, 1);
    QCOMPARE(changed.count(), 1);

    print = "b";
    present << Entry(QStringLiteral("/dev/ttyUSB0"), QStringLiteral("Cable"));
    QTRY_COMPARE(changed.count(), 2);
    QCOMPARE(listings, 2);
    QCOMPARE(changed.last().at(0).value<QList<SerialPortEntry>>(), present);
    QCOMPARE(watcher.Ports(), present);

    watcher.Stop();
    QVERIFY(!watcher.IsRunning());
    print = "c";
    QTest::qWait(40);
    QCOMPARE(listings, 2);
}

void TestPortDiscovery::watcher_signalsOnlyOnChange()
{
    int listings = 0;
    int print = 0;
    QList<SerialPortEntry> present;
    PortWatcher watcher(
        [&] {
            ++listings;
            return present;
        },
        [&](const QList<SerialPortEntry> &) { return QByteArray::number(print); });
    QSignalSpy changed(&watcher, &PortWatcher::PortsChanged);

    watcher.Start(10);
    QCOMPARE(changed.count(), 0); // nothing found: nothing changed
    // Something moved in the device folder, but not a serial port.
    ++print;
    QTRY_COMPARE(listings, 2);
    QCOMPARE(changed.count(), 0);

    present << Entry(QStringLiteral("/dev/ttyUSB0"));
    watcher.Refresh();
    QCOMPARE(changed.count(), 1);
    // Another program takes the port.
    present[0].holder = PortHolder::OtherProgram;
    watcher.Refresh();
    QCOMPARE(changed.count(), 2);
    QCOMPARE(watcher.Ports().first().holder, PortHolder::OtherProgram);
    watcher.Refresh();
    QCOMPARE(changed.count(), 2);
    // Unplugged.
    present.clear();
    watcher.Refresh();
    QCOMPARE(changed.count(), 3);
    QVERIFY(changed.last().at(0).value<QList<SerialPortEntry>>().isEmpty());
}

void TestPortDiscovery::watcher_listsNowAndThenEvenWithoutChange()
{
    int listings = 0;
    PortWatcher watcher(
        [&] {
            ++listings;
            return QList<SerialPortEntry>();
        },
        [](const QList<SerialPortEntry> &) { return QByteArray("same"); });
    watcher.Start(1);
    QTRY_VERIFY(listings >= 3);
    watcher.Stop();

    // Without a fingerprint (Windows) every tick lists.
    listings = 0;
    PortWatcher plain(
        [&] {
            ++listings;
            return QList<SerialPortEntry>();
        },
        [](const QList<SerialPortEntry> &) { return QByteArray(); });
    plain.Start(5);
    QTRY_VERIFY(listings >= 4);
}

QTEST_GUILESS_MAIN(TestPortDiscovery)
#include "tst_portdiscovery.moc"
