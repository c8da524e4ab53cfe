#include "PortNames.h"

#include "settings/TextFile.h"

#include <QFileInfo>
#include <QSaveFile>

namespace {

// Splits a map line into its COM name and device; false for blank lines, comments and lines
// without a name before '='.
bool ParseMapLine(const QString &line, QString *name, QString *device)
{
    const QString trimmed = line.trimmed();
    if (trimmed.isEmpty() || trimmed.startsWith(QLatin1Char('#')))
        return false;
    const qsizetype equals = trimmed.indexOf(QLatin1Char('='));
    if (equals <= 0)
        return false;
    *name = trimmed.left(equals).trimmed();
    *device = trimmed.mid(equals + 1).trimmed();
    return true;
}

bool FitsOnOneLine(const QString &device)
{
    if (device.isEmpty() || device.trimmed() != device)
        return false;
    for (const QChar c : device) {
        if (c.category() == QChar::Other_Control)
            return false;
    }
    return true;
}

} // namespace

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
        QString name;
        QString device;
        if (!ParseMapLine(line, &name, &device))
            continue;
        if (name.compare(comName, Qt::CaseInsensitive) == 0 && !device.isEmpty())
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
        ReadTextFileLines(mapFile, &lines, &error, TextEncoding::System);
    return ResolvePortDeviceFromLines(comName, lines);
#endif
}

QStringList WithComPortDevice(const QStringList &mapLines, int number, const QString &device)
{
    const QString comName = ComPortName(number);
    const QString mapping = comName + QLatin1Char('=') + device;
    QStringList result;
    bool placed = false;
    for (const QString &line : mapLines) {
        QString name;
        QString oldDevice;
        if (ParseMapLine(line, &name, &oldDevice) &&
            name.compare(comName, Qt::CaseInsensitive) == 0) {
            if (!placed)
                result << mapping;
            placed = true;
            continue;
        }
        result << line;
    }
    if (!placed)
        result << mapping;
    return result;
}

bool SetComPortDevice(const QString &filePath, int number, const QString &device, QString *error)
{
    if (number < 1 || number > 254) {
        *error = QStringLiteral("COM%1 cannot be mapped: the numbers are 1 to 254.").arg(number);
        return false;
    }
    if (!FitsOnOneLine(device)) {
        *error = QStringLiteral("\"%1\" cannot be written into %2: a device path must not be "
                                "empty, start or end with a blank or hold a line break.")
                     .arg(device, filePath);
        return false;
    }

    QByteArray old;
    if (QFileInfo::exists(filePath)) {
        if (!ReadRegularFile(filePath, kLargestTextFile, &old, error))
            return false;
        // Text after a NUL byte would not survive the rewrite.
        if (old.contains('\0')) {
            *error = QStringLiteral("%1 is not a text file; it was left as it is.").arg(filePath);
            return false;
        }
    }
    // Keep the file's own line ends; a new file gets the platform's.
#ifdef Q_OS_WIN
    const bool crlf = old.isEmpty() || old.contains("\r\n");
#else
    const bool crlf = old.contains("\r\n");
#endif
    const QByteArray end = crlf ? QByteArrayLiteral("\r\n") : QByteArrayLiteral("\n");
    const QStringList lines =
        WithComPortDevice(SplitTextLines(old, TextEncoding::System), number, device);
    QByteArray bytes;
    for (const QString &line : lines)
        bytes += line.toLocal8Bit() + end;

    QSaveFile file(filePath);
    // The explicit flush reports a short write that commit() would not, so a full disk leaves
    // the old file in place.
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.flush() ||
        !file.commit()) {
        *error = QStringLiteral("Cannot create file %1").arg(filePath);
        return false;
    }
    return true;
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
