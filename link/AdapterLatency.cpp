#include "AdapterLatency.h"

#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_LINUX
#include <linux/serial.h>
#include <sys/ioctl.h>
#endif

#ifdef Q_OS_WIN
#include <iterator>
#include <string>
#include <windows.h>
#endif

namespace {

#ifndef Q_OS_WIN
// The sysfs attribute of the tty `device` resolves to.
QString LatencyFile(const QString &device, const QString &sysRoot)
{
    const QString canonical = QFileInfo(device).canonicalFilePath();
    const QString name = QFileInfo(canonical.isEmpty() ? device : canonical).fileName();
    if (name.isEmpty())
        return QString();
    return sysRoot + QStringLiteral("/class/tty/") + name + QStringLiteral("/device/latency_timer");
}
#endif

#ifdef Q_OS_WIN
// Calls `visit` with each "Device Parameters" key of the FTDI driver's devices until it
// returns true.
template <typename Visit> void ForEachFtdiPort(Visit visit)
{
    const wchar_t *base = L"SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS";
    HKEY bus = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, base, 0, KEY_READ, &bus) != ERROR_SUCCESS)
        return;
    wchar_t deviceName[256];
    for (DWORD i = 0;; ++i) {
        DWORD length = DWORD(std::size(deviceName));
        if (RegEnumKeyExW(bus, i, deviceName, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        HKEY device = nullptr;
        if (RegOpenKeyExW(bus, deviceName, 0, KEY_READ, &device) != ERROR_SUCCESS)
            continue;
        wchar_t instance[256];
        bool done = false;
        for (DWORD k = 0; !done; ++k) {
            DWORD instanceLength = DWORD(std::size(instance));
            if (RegEnumKeyExW(device, k, instance, &instanceLength, nullptr, nullptr, nullptr,
                              nullptr) != ERROR_SUCCESS)
                break;
            const std::wstring path = std::wstring(instance) + L"\\Device Parameters";
            HKEY parameters = nullptr;
            if (RegOpenKeyExW(device, path.c_str(), 0, KEY_READ, &parameters) != ERROR_SUCCESS)
                continue;
            done = visit(parameters, QString::fromWCharArray(base) + QLatin1Char('\\') +
                                         QString::fromWCharArray(deviceName) + QLatin1Char('\\') +
                                         QString::fromStdWString(path));
            RegCloseKey(parameters);
        }
        RegCloseKey(device);
        if (done)
            break;
    }
    RegCloseKey(bus);
}
#endif

} // namespace

AdapterLatency ReadAdapterLatency(const QString &device, const QString &sysRoot)
{
    AdapterLatency latency;
#ifdef Q_OS_WIN
    Q_UNUSED(sysRoot);
    ForEachFtdiPort([&](HKEY parameters, const QString &key) {
        wchar_t portName[64] = {};
        DWORD size = sizeof portName;
        if (RegGetValueW(parameters, nullptr, L"PortName", RRF_RT_REG_SZ, nullptr, portName,
                         &size) != ERROR_SUCCESS ||
            QString::fromWCharArray(portName).compare(device, Qt::CaseInsensitive) != 0)
            return false;
        DWORD timer = 0;
        size = sizeof timer;
        if (RegGetValueW(parameters, nullptr, L"LatencyTimer", RRF_RT_REG_DWORD, nullptr, &timer,
                         &size) == ERROR_SUCCESS) {
            latency.timerMs = int(timer);
            latency.source = key;
        }
        return true;
    });
#else
    const QString path = LatencyFile(device, sysRoot);
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly))
        return latency;
    bool ok = false;
    const int value = file.read(32).trimmed().toInt(&ok);
    if (ok && value >= 0) {
        latency.timerMs = value;
        latency.source = path;
    }
#endif
    return latency;
}

bool LowerAdapterLatency(const QString &device, const QString &sysRoot)
{
#ifdef Q_OS_WIN
    // The driver reads the registry value when the adapter is plugged in; changing it needs an
    // administrator and a re-plug, which is the operator's to do.
    Q_UNUSED(device);
    Q_UNUSED(sysRoot);
    return false;
#else
    const QString path = LatencyFile(device, sysRoot);
    if (path.isEmpty() || !QFileInfo::exists(path))
        return false;
    QFile file(path);
    // Unbuffered: sysfs takes the value in one write, and refuses it there.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return false;
    return file.write("1\n", 2) == 2;
#endif
}

bool RequestLowLatency(int fd)
{
#ifdef Q_OS_LINUX
    serial_struct serial{};
    if (fd < 0 || ::ioctl(fd, TIOCGSERIAL, &serial) != 0)
        return false;
    if (serial.flags & ASYNC_LOW_LATENCY)
        return true;
    serial.flags |= ASYNC_LOW_LATENCY;
    return ::ioctl(fd, TIOCSSERIAL, &serial) == 0;
#else
    Q_UNUSED(fd);
    return false;
#endif
}

QString AdapterLatencyNotice(const QString &device, const AdapterLatency &latency)
{
#ifdef Q_OS_WIN
    return QStringLiteral("%1: the USB adapter's latency timer is %2 ms, so each answer may come "
                          "up to %2 ms late; lower it to 1 ms in the Device Manager (the port's "
                          "Port Settings, Advanced, Latency Timer), then plug the adapter in again")
        .arg(device)
        .arg(latency.timerMs);
#else
    return QStringLiteral("%1: the USB adapter's latency timer is %2 ms, so each answer may come "
                          "up to %2 ms late, and this program may not lower it; as root: "
                          "echo 1 > %3 (or a udev rule: ATTR{latency_timer}=\"1\")")
        .arg(device)
        .arg(latency.timerMs)
        .arg(latency.source);
#endif
}
