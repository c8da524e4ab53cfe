#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// A port a unit is on, as the operator named it and as it is opened.
struct UnitPort
{
    QString name;   // as given: "COM3", "/dev/ttyUSB0"
    QString device; // what is opened
    int number = 0; // n of a COM name, for the engine's messages; 0 for a device path
};

// Resolves every --port: a COM name through the map file `portMapPath` (ComPorts.txt, as the
// window reads it; empty for none), a device path as it stands, a bare device name under /dev.
// False, with a message that names the port, for one that does not exist, is not a character
// device (a folder, a plain file) or is given twice.
bool ResolveUnitPorts(const QStringList &given, const QString &portMapPath, QList<UnitPort> *ports,
                      QString *error);

// Prints the "ports" command's listing on standard output (with the COM names `portMapPath`
// maps); returns the exit status.
int RunPortsCommand(bool json, const QString &portMapPath);
