#include "UnitPorts.h"

#include "link/PortDiscovery.h"
#include "link/PortNames.h"
#include "settings/FileLocations.h"
#include "settings/TextFile.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSerialPortInfo>

#include <cstdio>

namespace {

bool DeviceExists(const QString &device)
{
#ifdef Q_OS_WIN
    return !QSerialPortInfo(device).isNull();
#else
    return QFileInfo::exists(device);
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

bool ResolveUnitPorts(const QStringList &given, const QString &programFolder,
                      QList<UnitPort> *ports, QString *error)
{
    static const QRegularExpression comName(QStringLiteral("^COM([0-9]+)$"),
                                            QRegularExpression::CaseInsensitiveOption);
    ports->clear();
    for (const QString &name : given) {
        UnitPort port;
        port.name = name;
        const QRegularExpressionMatch match = comName.match(name);
        if (match.hasMatch()) {
            port.number = match.captured(1).toInt();
            if (port.number < 1 || port.number > 254) {
                *error =
                    QStringLiteral("unknown port %1: COM names run from COM1 to COM254").arg(name);
                return false;
            }
            port.device = ResolvePortDeviceWithMap(
                ComPortName(port.number),
                FindDefaultFile(SystemFileFolders(programFolder), kPortMapFileName));
        } else {
#ifdef Q_OS_WIN
            port.device = name;
#else
            port.device = name.contains(QLatin1Char('/')) ? name : QStringLiteral("/dev/") + name;
#endif
        }
        if (!DeviceExists(port.device)) {
            *error = QStringLiteral("unknown port %1: %2 does not exist").arg(name, port.device);
#ifndef Q_OS_WIN
            if (port.number > 0)
                *error += QStringLiteral(" (%1 maps COM names to devices)")
                              .arg(ComPortsFilePath(programFolder));
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

int RunPortsCommand(bool json, const QString &programFolder)
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
            PrintLine(QJsonDocument(object).toJson(QJsonDocument::Compact));
        } else {
            PrintLine(QStringList{
                entry.device, OrDash(entry.description), OrDash(entry.manufacturer),
                OrDash(entry.serialNumber), OrDash(entry.UsbIdText()),
                entry.holder == PortHolder::OtherProgram
                    ? QStringLiteral("in use") + (entry.holderName.isEmpty()
                                                      ? QString()
                                                      : QStringLiteral(" by ") + entry.holderName)
                    : QStringLiteral("-")}
                          .join(QLatin1Char('\t'))
                          .toLocal8Bit());
        }
    }
#ifndef Q_OS_WIN
    QStringList lines;
    QString error;
    const QString map = FindDefaultFile(SystemFileFolders(programFolder), kPortMapFileName);
    if (!map.isEmpty())
        ReadTextFileLines(map, &lines, &error, TextEncoding::System);
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
