#pragma once

#include <QList>
#include <QString>

// One serial port the system reports.
struct SerialPortEntry
{
    QString device; // what --port takes: /dev/ttyUSB0, COM3
    QString description;
    QString manufacturer;
    QString serialNumber;
    QString usbId; // "0403:6001", empty when not a USB device
};

// The serial ports present now. Kept on its own so the shared port discovery can replace it.
QList<SerialPortEntry> ListSerialPorts();
