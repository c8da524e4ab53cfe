#include "UnitPorts.h"

#include "link/PortDiscovery.h"
#include "link/PortNames.h"
#include "settings/FileLocations.h"
#include "settings/TextFile.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSerialPortInfo>

#include <cstdio>

#ifndef Q_OS_WIN
#include <sys/stat.h>
#endif

namespace {

// Empty when `device` is a serial device that exists; otherwise why it cannot be one.
QString DeviceProblem(const QString &device)
{
#ifdef Q_OS_WIN
    return QSerialPortInfo(device).isNull() ? QStringLiteral("does not exist") : QString();
#else
    struct stat info;
    if (::stat(QFile::encodeName(device).constData(), &info) != 0)
        return QStringLiteral("does not exist");
    // A folder, a plain file or a pipe would "open" and then answer nothing, or worse.
    if (!S_ISCHR(info.st_mode))
        return QStringLiteral("is not a character device");
    return QString();
#endif
}

void PrintLine(const QByteArray &line)
{
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    std::fputc('\n', stdout);
}

QString OrDash(const QString &text)
{
    return text.isEmpty() ? QStringLiteral("-") : text;
}

} // namespace

bool ResolveUnitPorts(const QStringList &given, const QString &portMapPath, QList<UnitPort> *ports,
                      QString *error)
{
    static const QRegularExpression comName(QStringLiteral("^COM([0-9]+)$"),
                                            QRegularExpression::CaseInsensitiveOption);
    ports->clear();
    for (const QString &name : given) {
        UnitPort port;
        port.name = name;
        if (name.trimmed().isEmpty()) {
            *error = QStringLiteral("an empty --port names no device");
            return false;
        }
        const QRegularExpressionMatch match = comName.match(name);
        if (match.hasMatch()) {
            port.number = match.captured(1).toInt();
            if (port.number < 1 || port.number > 254) {
                *error =
                    QStringLiteral("unknown port %1: COM names run from COM1 to COM254").arg(name);
                return false;
            }
            port.device = ResolvePortDeviceWithMap(ComPortName(port.number), portMapPath);
        } else {
#ifdef Q_OS_WIN
            port.device = name;
#else
            port.device = name.contains(QLatin1Char('/')) ? name : QStringLiteral("/dev/") + name;
#endif
        }
        const QString problem = DeviceProblem(port.device);
        if (!problem.isEmpty()) {
            *error = QStringLiteral("unknown port %1: %2 %3").arg(name, port.device, problem);
#ifndef Q_OS_WIN
            if (port.number > 0)
                *error += portMapPath.isEmpty()
                              ? QStringLiteral(" (no ComPorts.txt maps COM names to devices)")
                              : QStringLiteral(" (%1 maps COM names to devices)").arg(portMapPath);
#endif
            return false;
        }
        const QString canonical = QFileInfo(port.device).canonicalFilePath();
        for (const UnitPort &other : *ports) {
            const QString otherCanonical = QFileInfo(other.device).canonicalFilePath();
            if (other.device == port.device ||
                (!canonical.isEmpty() && canonical == otherCanonical)) {
                *error = QStringLiteral("port %1 is given twice (%2 and %3 are one device)")
                             .arg(port.device, other.name, name);
                return false;
            }
        }
        ports->append(port);
    }
    return true;
}

int RunPortsCommand(bool json, const QString &portMapPath)
{
    for (const SerialPortEntry &entry : ListSerialPorts()) {
        if (json) {
            QJsonObject object{{"device", entry.device},
                               {"stablePath", entry.stablePath},
                               {"description", entry.description},
                               {"manufacturer", entry.manufacturer},
                               {"serialNumber", entry.serialNumber},
                               {"usbId", entry.UsbIdText()},
                               {"inUse", entry.holder == PortHolder::OtherProgram}};
            if (entry.latencyTimerMs >= 0)
                object["latencyTimerMs"] = entry.latencyTimerMs;
            PrintLine(QJsonDocument(object).toJson(QJsonDocument::Compact));
        } else {
            PrintLine(QStringList{
                entry.device, OrDash(entry.description), OrDash(entry.manufacturer),
                OrDash(entry.serialNumber), OrDash(entry.UsbIdText()),
                entry.holder == PortHolder::OtherProgram
                    ? QStringLiteral("in use") + (entry.holderName.isEmpty()
                                                      ? QString()
                                                      : QStringLiteral(" by ") + entry.holderName)
                    : QStringLiteral("-"),
                entry.latencyTimerMs >= 0
                    ? QStringLiteral("latency %1 ms").arg(entry.latencyTimerMs)
                    : QStringLiteral("-")}
                          .join(QLatin1Char('\t'))
                          .toLocal8Bit());
        }
    }
#ifndef Q_OS_WIN
    QStringList lines;
    QString error;
    if (!portMapPath.isEmpty())
        ReadTextFileLines(portMapPath, &lines, &error, TextEncoding::System);
    for (const auto &[name, device] : MappedComPorts(lines)) {
        const bool present = QFileInfo::exists(device);
        if (json) {
            QJsonObject object{{"comName", name}, {"device", device}, {"present", present}};
            PrintLine(QJsonDocument(object).toJson(QJsonDocument::Compact));
        } else {
            PrintLine(
                QStringLiteral("%1\t= %2%3")
                    .arg(name, device, present ? QString() : QStringLiteral("\t(not present)"))
                    .toLocal8Bit());
        }
    }
#endif
    std::fflush(stdout);
    return 0;
}
