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
// starting with '#' skipped, device paths in the system's encoding); a name the file does not
// list maps to /dev/ttyS followed by n - 1.
QString ResolvePortDevice(const QString &comName, const QString &programFolder);

// The same with the map read from `mapFile` (none when empty or unreadable).
QString ResolvePortDeviceWithMap(const QString &comName, const QString &mapFile);

// The mapping rules above applied to given file lines, for a platform without COM names.
QString ResolvePortDeviceFromLines(const QString &comName, const QStringList &mapLines);

// The lines of a ComPorts.txt with "COMn=<device>" for the given number: the first line that
// names COMn (with or without a device) is replaced in place, later ones naming it are dropped,
// every other line is kept as it was; without such a line the mapping is appended.
QStringList WithComPortDevice(const QStringList &mapLines, int number, const QString &device);

// Makes COMn stand for `device` in the ComPorts.txt at `filePath` (created when missing), keeping
// its other lines and its line ends. The file is replaced whole or not at all. A number outside
// 1..254, a device the file cannot hold (empty, blanks at either end, a line break or another
// control character) or a file that exists but cannot be read leaves the file alone: false, with
// a sentence for the operator in *error.
bool SetComPortDevice(const QString &filePath, int number, const QString &device, QString *error);

// The map file in the program's folder: "<folder>/ComPorts.txt".
QString ComPortsFilePath(const QString &programFolder);

// The COM names the lines map to a device, "COM1" first, each with the device it maps to.
QList<QPair<QString, QString>> MappedComPorts(const QStringList &mapLines);
