#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

// The window chooses a port by number; the unit's documentation and the operators speak of
// "COM1" to "COM254" on every platform.

// "COM" followed by n for 1 <= n <= 254; any other number (the spin edit allows 255) gives "COM1".
QString ComPortName(int number);

// The device the program opens for a COM name. On Windows the name itself. Elsewhere the file
// ComPorts.txt in the program's folder maps names to devices with lines such as
// "COM1=/dev/ttyUSB0" (names compared ignoring case, blanks around both sides ignored, lines
// starting with '#' skipped); a name the file does not list maps to /dev/ttyS followed by n - 1.
QString ResolvePortDevice(const QString &comName, const QString &programFolder);

// The mapping rules above applied to given file lines, for a platform without COM names.
QString ResolvePortDeviceFromLines(const QString &comName, const QStringList &mapLines);

// The map file in the program's folder: "<folder>/ComPorts.txt".
QString ComPortsFilePath(const QString &programFolder);

// The COM names the lines map to a device, "COM1" first, each with the device it maps to.
QList<QPair<QString, QString>> MappedComPorts(const QStringList &mapLines);
