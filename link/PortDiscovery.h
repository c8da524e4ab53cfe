#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>

// The serial ports present on this computer, for the window's adapter list and for the
// command-line tool. Finding them never changes a port's settings and never keeps one open.

// Who holds a port, as far as can be told without disturbing it.
enum class PortHolder
{
    Unknown,      // nothing says it is held (it may still be, by a program that left no trace)
    ThisProgram,  // this very process has it open (an exchange is running)
    OtherProgram, // a live lock file, an open handle of another process, or a refused open
};

struct SerialPortEntry
{
    // What to open: "/dev/ttyUSB0" on Linux, "COM3" on Windows.
    QString device;
    // A link under /dev/serial/by-id/ that resolves to the device: it names the adapter by its
    // maker and serial number, so it survives re-plugging into another socket. Empty when none.
    QString stablePath;
    QString description;
    QString manufacturer;
    QString serialNumber;
    bool hasUsbIds = false;
    quint16 vendorId = 0;
    quint16 productId = 0;
    PortHolder holder = PortHolder::Unknown;
    // The holder's process id and program name when known (0 and empty otherwise).
    qint64 holderPid = 0;
    QString holderName;
    // The user may not open the device (on Linux usually: not in the dialout group).
    bool accessDenied = false;
    // A USB adapter's latency timer in milliseconds (answers wait up to this long in the
    // adapter); -1 when the device reports none.
    int latencyTimerMs = -1;

    // "0403:6001", empty without USB ids.
    QString UsbIdText() const;
    // The path to write into ComPorts.txt: the stable path when there is one.
    QString PreferredPath() const;

    bool operator==(const SerialPortEntry &other) const;
    bool operator!=(const SerialPortEntry &other) const { return !(*this == other); }
};

// Where the discovery looks; tests point these into a temporary folder.
struct PortDiscoveryOptions
{
    QString devDir = QStringLiteral("/dev");
    QString byIdDir = QStringLiteral("/dev/serial/by-id");
    // Where the adapters' latency timers are read (Linux sysfs).
    QString sysDir = QStringLiteral("/sys");
    // Folders where programs leave "LCK..ttyUSB0" lock files holding their process id (the ones
    // Qt SerialPort, minicom and the uucp tools use).
    QStringList lockDirs = DefaultLockDirs();
    // Read for open handles of other processes (those of the same user can be seen); empty to
    // skip. Costs a few milliseconds, so the watcher does it only when the ports changed.
    QString procDir = QStringLiteral("/proc");
    // Opens each port not yet known to be held for an instant (no settings changed) to see
    // whether another program holds it exclusively. A port held by another program is not
    // disturbed, but a free one sees its modem lines raised and dropped, which resets some
    // devices: off by default and never done by the watcher.
    bool probeOpen = false;

    static QStringList DefaultLockDirs();
};

// Lists the ports present, sorted by device. Never throws; a port whose details cannot be read
// is still listed with what is known.
QList<SerialPortEntry> ListSerialPorts(const PortDiscoveryOptions &options = {});

// Fills in the stable path, the holder and access of ports whose `device` is set.
void AddPortDetails(QList<SerialPortEntry> *ports, const PortDiscoveryOptions &options);

// A cheap summary of what the device folders and lock files look like now: when it is unchanged
// the port list is too (apart from holders without lock files). About a hundred times cheaper
// than listing the ports; empty where it is not available (Windows), meaning "list again".
QByteArray PortFingerprint(const QList<SerialPortEntry> &known,
                           const PortDiscoveryOptions &options);

// Keeps the port list current while the program runs: every interval it compares the
// fingerprint and lists the ports again only when it changed (and every twentieth tick anyway,
// to notice holders that came or went without a lock file). Emits PortsChanged only when the
// list differs from the last one.
class PortWatcher : public QObject
{
    Q_OBJECT
public:
    using Lister = std::function<QList<SerialPortEntry>()>;
    using Fingerprinter = std::function<QByteArray(const QList<SerialPortEntry> &known)>;

    // Watches the real ports.
    explicit PortWatcher(QObject *parent = nullptr);
    PortWatcher(Lister lister, Fingerprinter fingerprinter, QObject *parent = nullptr);

    static constexpr int kDefaultIntervalMs = 1500;
    static constexpr int kFullListEveryTicks = 20;

    // Lists at once (emitting PortsChanged when ports are found) and then keeps watching.
    void Start(int intervalMs = kDefaultIntervalMs);
    void Stop();
    bool IsRunning() const { return m_timer.isActive(); }

    // Lists again now, whatever the fingerprint says (e.g. when the operator opens the list).
    void Refresh();
    const QList<SerialPortEntry> &Ports() const { return m_ports; }

signals:
    void PortsChanged(const QList<SerialPortEntry> &ports);

private:
    void Tick();

    Lister m_lister;
    Fingerprinter m_fingerprinter;
    QTimer m_timer;
    QList<SerialPortEntry> m_ports;
    QByteArray m_fingerprint;
    int m_ticksSinceList = 0;
};
