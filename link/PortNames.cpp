#include "PortNames.h"

#include "settings/TextFile.h"

#include <QDir>

QString ComPortName(int number)
{
    if (number >= 1 && number <= 254)
        return QStringLiteral("COM%1").arg(number);
    return QStringLiteral("COM1");
}

namespace {

// The device the lines map `comName` to; empty when they do not map it.
QString MappedDevice(const QString &comName, const QStringList &mapLines)
{
    for (const QString &line : mapLines) {
        const QString trimmed = line.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith(QLatin1Char('#')))
            continue;
        const int equals = int(trimmed.indexOf(QLatin1Char('=')));
        if (equals <= 0)
            continue;
        if (trimmed.left(equals).trimmed().compare(comName, Qt::CaseInsensitive) != 0)
            continue;
        const QString device = trimmed.mid(equals + 1).trimmed();
        if (!device.isEmpty())
            return device;
    }
    return QString();
}

} // namespace

QString ResolvePortDeviceFromLines(const QString &comName, const QStringList &mapLines)
{
    const QString device = MappedDevice(comName, mapLines);
    if (!device.isEmpty())
        return device;
    const int number = comName.mid(3).toInt();
    return QStringLiteral("/dev/ttyS%1").arg(number > 0 ? number - 1 : 0);
}

QString ResolvePortDevice(const QString &comName, const QString &programFolder)
{
#ifdef Q_OS_WIN
    Q_UNUSED(programFolder);
    return comName;
#else
    QStringList lines;
    QString error;
    ReadTextFileLines(ComPortsFilePath(programFolder), &lines, &error);
    return ResolvePortDeviceFromLines(comName, lines);
#endif
}

QString ComPortsFilePath(const QString &programFolder)
{
    return programFolder + QStringLiteral("/ComPorts.txt");
}

QList<QPair<QString, QString>> MappedComPorts(const QStringList &mapLines)
{
    QList<QPair<QString, QString>> mapped;
    for (int number = 1; number <= 254; ++number) {
        const QString name = ComPortName(number);
        const QString device = MappedDevice(name, mapLines);
        if (!device.isEmpty())
            mapped.append({name, device});
    }
    return mapped;
}
