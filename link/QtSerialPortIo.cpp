#include "QtSerialPortIo.h"

QtSerialPortIo::QtSerialPortIo(QObject *parent) : QObject(parent)
{
    connect(&m_port, &QSerialPort::readyRead, this, &QtSerialPortIo::OnReadyRead);
    connect(&m_port, &QSerialPort::errorOccurred, this, &QtSerialPortIo::OnError);
}

PortIo::OpenResult QtSerialPortIo::Open(const QString &device)
{
    if (m_port.isOpen())
        m_port.close();
    m_lost = false;
    m_port.setPortName(device);
    if (!m_port.open(QIODevice::ReadWrite)) {
        m_port.clearError();
        return OpenResult::OpenFailed;
    }
    const bool configured = m_port.setBaudRate(19200) && m_port.setDataBits(QSerialPort::Data8) &&
                            m_port.setParity(QSerialPort::NoParity) &&
                            m_port.setStopBits(QSerialPort::OneStop) &&
                            m_port.setFlowControl(QSerialPort::NoFlowControl);
    if (!configured) {
        m_port.close();
        m_port.clearError();
        return OpenResult::SettingsRefused;
    }
    // A pseudo-terminal or a three-wire adapter has no modem lines; failing here is expected.
    m_port.setDataTerminalReady(false);
    m_port.setRequestToSend(false);
    m_port.clearError();
    // Whatever the device held from before this opening belongs to no exchange of ours.
    m_port.clear(QSerialPort::AllDirections);
    return OpenResult::Opened;
}

void QtSerialPortIo::Close()
{
    if (m_port.isOpen())
        m_port.close();
    m_lost = false;
}

bool QtSerialPortIo::Write(const QByteArray &bytes)
{
    if (!m_port.isOpen() || m_lost)
        return false;
    const qint64 written = m_port.write(bytes);
    if (written != bytes.size())
        return false;
    m_writeFailed = false;
    m_port.flush();
    return !m_lost && !m_writeFailed;
}

void QtSerialPortIo::OnReadyRead()
{
    const QByteArray bytes = m_port.readAll();
    if (!bytes.isEmpty())
        Deliver(bytes);
}

void QtSerialPortIo::OnError(QSerialPort::SerialPortError error)
{
    if (error == QSerialPort::WriteError)
        m_writeFailed = true;
    if (error == QSerialPort::ResourceError || error == QSerialPort::PermissionError) {
        if (m_port.isOpen()) {
            m_lost = true;
            m_port.close();
        }
    }
}
