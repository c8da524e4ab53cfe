#include "PortDiscovery.h"

#include "AdapterLatency.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSerialPortInfo>

#include <algorithm>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#ifdef Q_OS_WIN
#include <string>
#include <windows.h>
#endif

QString SerialPortEntry::UsbIdText() const
{
    if (!hasUsbIds)
        return QString();
    return QStringLiteral("%1:%2")
        .arg(vendorId, 4, 16, QLatin1Char('0'))
        .arg(productId, 4, 16, QLatin1Char('0'));
}

QString SerialPortEntry::PreferredPath() const
{
    return stablePath.isEmpty() ? device : stablePath;
}

bool SerialPortEntry::operator==(const SerialPortEntry &other) const
{
    return device == other.device && stablePath == other.stablePath &&
           description == other.description && manufacturer == other.manufacturer &&
           serialNumber == other.serialNumber && hasUsbIds == other.hasUsbIds &&
           vendorId == other.vendorId && productId == other.productId && holder == other.holder &&
           holderPid == other.holderPid && holderName == other.holderName &&
           accessDenied == other.accessDenied && latencyTimerMs == other.latencyTimerMs;
}

QStringList PortDiscoveryOptions::DefaultLockDirs()
{
#ifdef Q_OS_UNIX
    // The folders Qt SerialPort tries in turn (it takes the first writable one), and /run/lock
    // that /var/lock usually links to.
    return {QStringLiteral("/var/lock"),       QStringLiteral("/run/lock"),
            QStringLiteral("/etc/locks"),      QStringLiteral("/var/spool/locks"),
            QStringLiteral("/var/spool/uucp"), QStringLiteral("/tmp"),
            QStringLiteral("/var/tmp")};
#else
    return {};
#endif
}

namespace {

// "ttyS2" before "ttyS10": the text before the trailing number first, then the number.
bool DeviceLess(const SerialPortEntry &a, const SerialPortEntry &b)
{
    auto split = [](const QString &name) {
        qsizetype digits = name.size();
        while (digits > 0 && name.at(digits - 1).isDigit())
            --digits;
        return std::make_pair(name.left(digits), name.mid(digits));
    };
    const auto [stemA, numberA] = split(a.device);
    const auto [stemB, numberB] = split(b.device);
    if (stemA != stemB)
        return stemA < stemB;
    if (numberA.size() != numberB.size())
        return numberA.size() < numberB.size();
    return numberA < numberB;
}

#ifdef Q_OS_UNIX

// Names a path under the device folder the way lock files do: "ttyUSB0",
// "serial_by-id_usb-…" (Qt SerialPort drops "/dev/" and turns the other '/' into '_').
QString LockName(const QString &path, const QString &devDir)
{
    QString name = path;
    const QString prefix = devDir + QLatin1Char('/');
    if (name.startsWith(prefix))
        name = name.mid(prefix.size());
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    return QStringLiteral("LCK..") + name;
}

QStringList LockNames(const SerialPortEntry &port, const PortDiscoveryOptions &options)
{
    QStringList names{LockName(port.device, options.devDir)};
    if (!port.stablePath.isEmpty())
        names << LockName(port.stablePath, options.devDir);
    return names;
}

bool ProcessAlive(qint64 pid)
{
    if (pid <= 0 || pid > 0x7fffffff)
        return false;
    // Signal 0 only asks whether the process exists; EPERM means it does, under another user.
    return ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
}

QString ProcessName(const QString &procDir, qint64 pid)
{
    if (procDir.isEmpty())
        return QString();
    QFile comm(procDir + QLatin1Char('/') + QString::number(pid) + QStringLiteral("/comm"));
    if (!comm.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromLocal8Bit(comm.read(256)).trimmed();
}

// Reads a lock file: the holder's process id as text (first line), then, as Qt writes them,
// the program's name. Old binary lock files hold the id as a 4-byte integer.
bool ReadLockFile(const QString &path, qint64 *pid, QString *name)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray content = file.read(512);
    const QList<QByteArray> lines = content.split('\n');
    bool ok = false;
    *pid = lines.value(0).trimmed().toLongLong(&ok);
    if (!ok && content.size() == 4) {
        qint32 binary = 0;
        std::memcpy(&binary, content.constData(), 4);
        *pid = binary;
        ok = true;
    }
    if (!ok)
        return false;
    *name = QString::fromLocal8Bit(lines.value(1).trimmed());
    return true;
}

void CheckLockFiles(SerialPortEntry *port, const PortDiscoveryOptions &options)
{
    const qint64 ownPid = QCoreApplication::applicationPid();
    for (const QString &dir : options.lockDirs) {
        for (const QString &lockName : LockNames(*port, options)) {
            qint64 pid = 0;
            QString name;
            if (!ReadLockFile(dir + QLatin1Char('/') + lockName, &pid, &name))
                continue;
            // A lock left by a process that has ended holds nothing.
            if (!ProcessAlive(pid))
                continue;
            port->holderPid = pid;
            port->holder = pid == ownPid ? PortHolder::ThisProgram : PortHolder::OtherProgram;
            port->holderName = name.isEmpty() ? ProcessName(options.procDir, pid) : name;
            if (port->holder == PortHolder::OtherProgram)
                return;
        }
    }
}

// Looks through the open files of every process we may see for the ports' devices.
void CheckOpenHandles(QList<SerialPortEntry> *ports, const PortDiscoveryOptions &options)
{
    QHash<QByteArray, qsizetype> byPath;
    for (qsizetype i = 0; i < ports->size(); ++i) {
        const QString canonical = QFileInfo((*ports)[i].device).canonicalFilePath();
        if (!canonical.isEmpty())
            byPath.insert(QFile::encodeName(canonical), i);
    }
    if (byPath.isEmpty())
        return;

    const qint64 ownPid = QCoreApplication::applicationPid();
    const QByteArray procDir = QFile::encodeName(options.procDir);
    DIR *proc = ::opendir(procDir.constData());
    if (!proc)
        return;
    while (const dirent *process = ::readdir(proc)) {
        char *end = nullptr;
        const long long pid = std::strtoll(process->d_name, &end, 10);
        if (pid <= 0 || *end != '\0')
            continue;
        const QByteArray fdDir = procDir + '/' + process->d_name + "/fd";
        DIR *fds = ::opendir(fdDir.constData());
        if (!fds)
            continue; // another user's process, or it just ended
        while (const dirent *fd = ::readdir(fds)) {
            if (fd->d_name[0] == '.')
                continue;
            char target[512];
            const QByteArray link = fdDir + '/' + fd->d_name;
            const ssize_t length = ::readlink(link.constData(), target, sizeof target - 1);
            if (length <= 0)
                continue;
            const auto found = byPath.constFind(QByteArray(target, int(length)));
            if (found == byPath.cend())
                continue;
            SerialPortEntry &port = (*ports)[*found];
            const bool own = pid == ownPid;
            // Another program's hold is what the operator needs to hear about.
            if (port.holder == PortHolder::OtherProgram ||
                (own && port.holder != PortHolder::Unknown))
                continue;
            port.holder = own ? PortHolder::ThisProgram : PortHolder::OtherProgram;
            port.holderPid = pid;
            port.holderName = ProcessName(options.procDir, pid);
        }
        ::closedir(fds);
    }
    ::closedir(proc);
}

void ProbeOpen(SerialPortEntry *port)
{
    // No O_NONBLOCK would wait for a modem's carrier; O_NOCTTY keeps it from becoming our
    // terminal. Nothing is read, written or configured, and the handle is closed at once.
    const int fd = ::open(QFile::encodeName(port->device).constData(),
                          O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
        ::close(fd);
        return;
    }
    if (errno == EBUSY)
        port->holder = PortHolder::OtherProgram;
    else if (errno == EACCES || errno == EPERM)
        port->accessDenied = true;
}

// Appends the sorted names of a folder's entries to `out`; nothing when it cannot be read.
void AppendFolderNames(const QString &dir, QByteArray *out)
{
    DIR *handle = ::opendir(QFile::encodeName(dir).constData());
    if (!handle) {
        out->append("-\n");
        return;
    }
    std::vector<QByteArray> names;
    while (const dirent *entry = ::readdir(handle))
        names.emplace_back(entry->d_name);
    ::closedir(handle);
    std::sort(names.begin(), names.end());
    for (const QByteArray &name : names) {
        out->append(name);
        out->append('/');
    }
    out->append('\n');
}

#endif // Q_OS_UNIX

#ifdef Q_OS_WIN
void ProbeOpen(SerialPortEntry *port)
{
    const std::wstring path = (QStringLiteral("\\\\.\\") + port->device).toStdWString();
    HANDLE handle = ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
        ::CloseHandle(handle);
        return;
    }
    // A COM port has one opener at a time; "access denied" means someone else has it.
    if (::GetLastError() == ERROR_ACCESS_DENIED)
        port->holder = PortHolder::OtherProgram;
}
#endif

} // namespace

void AddPortDetails(QList<SerialPortEntry> *ports, const PortDiscoveryOptions &options)
{
#ifdef Q_OS_UNIX
    // Every link in the by-id folder, keyed by the device it resolves to; the first name wins.
    QHash<QString, QString> stableByDevice;
    const QDir byId(options.byIdDir);
    const QStringList links = byId.entryList(QDir::Files | QDir::System, QDir::Name);
    for (const QString &link : links) {
        const QString path = byId.filePath(link);
        const QString target = QFileInfo(path).canonicalFilePath();
        if (!target.isEmpty() && !stableByDevice.contains(target))
            stableByDevice.insert(target, path);
    }

    for (SerialPortEntry &port : *ports) {
        const QString canonical = QFileInfo(port.device).canonicalFilePath();
        port.stablePath = canonical.isEmpty() ? QString() : stableByDevice.value(canonical);
        const QByteArray encoded = QFile::encodeName(port.device);
        port.accessDenied = ::access(encoded.constData(), F_OK) == 0 &&
                            ::access(encoded.constData(), R_OK | W_OK) != 0 && errno == EACCES;
        CheckLockFiles(&port, options);
    }
    if (!options.procDir.isEmpty())
        CheckOpenHandles(ports, options);
#endif
    for (SerialPortEntry &port : *ports)
        port.latencyTimerMs = ReadAdapterLatency(port.device, options.sysDir).timerMs;
    if (options.probeOpen) {
#if defined(Q_OS_UNIX) || defined(Q_OS_WIN)
        for (SerialPortEntry &port : *ports) {
            if (port.holder == PortHolder::Unknown && !port.accessDenied)
                ProbeOpen(&port);
        }
#endif
    }
}

QList<SerialPortEntry> ListSerialPorts(const PortDiscoveryOptions &options)
{
    QList<SerialPortEntry> ports;
    const QList<QSerialPortInfo> infos = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : infos) {
        SerialPortEntry port;
#ifdef Q_OS_WIN
        port.device = info.portName();
#else
        port.device = info.systemLocation();
#endif
        port.description = info.description();
        port.manufacturer = info.manufacturer();
        port.serialNumber = info.serialNumber();
        port.hasUsbIds = info.hasVendorIdentifier() && info.hasProductIdentifier();
        if (port.hasUsbIds) {
            port.vendorId = info.vendorIdentifier();
            port.productId = info.productIdentifier();
        }
        ports << port;
    }
    std::sort(ports.begin(), ports.end(), DeviceLess);
    AddPortDetails(&ports, options);
    return ports;
}

QByteArray PortFingerprint(const QList<SerialPortEntry> &known, const PortDiscoveryOptions &options)
{
#ifdef Q_OS_UNIX
    QByteArray print;
    print.reserve(4096);
    AppendFolderNames(options.devDir, &print);
    AppendFolderNames(options.byIdDir, &print);
    // The lock files the ports would have: their coming, going or renewal.
    for (const SerialPortEntry &port : known) {
        for (const QString &dir : options.lockDirs) {
            for (const QString &lockName : LockNames(port, options)) {
                struct stat info;
                const QByteArray path = QFile::encodeName(dir + QLatin1Char('/') + lockName);
                if (::stat(path.constData(), &info) != 0)
                    continue;
                print.append(path);
                print.append(QByteArray::number(qint64(info.st_mtime)));
                print.append('\n');
            }
        }
    }
    return print;
#else
    Q_UNUSED(known);
    Q_UNUSED(options);
    return QByteArray();
#endif
}

PortWatcher::PortWatcher(QObject *parent)
    : PortWatcher([] { return ListSerialPorts(PortDiscoveryOptions{}); },
                  [](const QList<SerialPortEntry> &known) {
                      return PortFingerprint(known, PortDiscoveryOptions{});
                  },
                  parent)
{
}

PortWatcher::PortWatcher(Lister lister, Fingerprinter fingerprinter, QObject *parent)
    : QObject(parent), m_lister(std::move(lister)), m_fingerprinter(std::move(fingerprinter))
{
    // A coarse timer lets the system bundle this wake-up with others.
    m_timer.setTimerType(Qt::CoarseTimer);
    connect(&m_timer, &QTimer::timeout, this, &PortWatcher::Tick);
}

void PortWatcher::Start(int intervalMs)
{
    Refresh();
    m_timer.start(intervalMs);
}

void PortWatcher::Stop()
{
    m_timer.stop();
}

void PortWatcher::Refresh()
{
    m_ticksSinceList = 0;
    QList<SerialPortEntry> ports = m_lister();
    m_fingerprint = m_fingerprinter(ports);
    if (ports == m_ports)
        return;
    m_ports = std::move(ports);
    emit PortsChanged(m_ports);
}

void PortWatcher::Tick()
{
    const QByteArray fingerprint = m_fingerprinter(m_ports);
    // An empty fingerprint means none is available: list every time.
    if (fingerprint.isEmpty() || fingerprint != m_fingerprint ||
        ++m_ticksSinceList >= kFullListEveryTicks)
        Refresh();
}
