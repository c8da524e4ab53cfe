#pragma once

#include "PortIo.h"

#include <QObject>
#include <QSerialPort>
#include <QSet>

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

signals:
    // Something the operator should know about the device, said once per device: a USB
    // adapter whose latency timer stays above 1 ms after the low-latency request.
    void Notice(const QString &text);

private:
    // Asks the driver for low latency and, where the adapter's timer stays above 1 ms, says so.
    void LowerLatency(const QString &device);

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
    QSet<QString> m_latencyNoted; // devices whose latency timer was already reported
};
