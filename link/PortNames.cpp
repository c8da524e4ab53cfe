#include "PortNames.h"

#include "settings/TextFile.h"

#include <QDir>

QString ComPortName(int number)
{
    if (number >= 1 && number <= 254)
        return QStringLiteral("COM%1").arg(number);
    return QStringLiteral("COM1");
}

QString ResolvePortDeviceFromLines(const QString &comName, const QStringList &mapLines)
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
    const int number = comName.mid(3).toInt();
    return QStringLiteral("/dev/ttyS%1").arg(number > 0 ? number - 1 : 0);
}

QString ResolvePortDevice(const QString &comName, const QString &programFolder)
{
    return ResolvePortDeviceWithMap(comName, programFolder + QStringLiteral("/ComPorts.txt"));
}

QString ResolvePortDeviceWithMap(const QString &comName, const QString &mapFile)
{
#ifdef Q_OS_WIN
    Q_UNUSED(mapFile);
    return comName;
#else
    QStringList lines;
    QString error;
    if (!mapFile.isEmpty())
        ReadTextFileLines(mapFile, &lines, &error);
    return ResolvePortDeviceFromLines(comName, lines);
#endif
}
