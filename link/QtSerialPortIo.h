#pragma once

#include "PortIo.h"

#include <QObject>
#include <QSerialPort>

// The real device: a COM port on Windows, a tty device on Linux, through Qt SerialPort.
// Reception is event driven on the owning thread, so an idle open port costs no CPU.
class QtSerialPortIo : public QObject, public PortIo
{
    Q_OBJECT
public:
    explicit QtSerialPortIo(QObject *parent = nullptr);

    OpenResult Open(const QString &device) override;
    void Close() override;
    bool Write(const QByteArray &bytes) override;

private:
    void OnReadyRead();
    // A vanished device (a pulled USB adapter, a closed pseudo-terminal) keeps signalling
    // readable; the handle is released at once, every later write reports failure until
    // the engine closes and reopens, and the loss is reported once.
    void OnError(QSerialPort::SerialPortError error);

    QSerialPort m_port;
    bool m_lost = false;
    // Counts openings, so a loss reported late never concerns a later opening.
    quint64 m_opening = 0;
    bool m_writeFailed = false;
};
