#include "QtSerialPortIo.h"

#include "AdapterLatency.h"

#include <QFileInfo>
#include <QMetaObject>

#ifndef Q_OS_WIN
#include <cerrno>
#include <unistd.h>
#endif

namespace {

// Qt reports a busy device and a forbidden one alike; the file's access rights tell them apart.
PortIo::OpenResult ClassifyOpenFailure(QSerialPort::SerialPortError error, const QString &device)
{
    switch (error) {
    case QSerialPort::DeviceNotFoundError:
        return PortIo::OpenResult::NoSuchDevice;
    case QSerialPort::PermissionError:
#ifndef Q_OS_WIN
        if (!QFileInfo::exists(device))
            return PortIo::OpenResult::NoSuchDevice;
        if (::access(QFile::encodeName(device).constData(), R_OK | W_OK) != 0 && errno == EACCES)
            return PortIo::OpenResult::NoPermission;
#else
        (void)device;
#endif
        return PortIo::OpenResult::InUse;
    default:
        return PortIo::OpenResult::OpenFailed;
    }
}

} // namespace

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
        const OpenResult result = ClassifyOpenFailure(m_port.error(), device);
        m_port.clearError();
        return result;
    }
    ++m_opening;
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
    LowerLatency(device);
    return OpenResult::Opened;
}

void QtSerialPortIo::LowerLatency(const QString &device)
{
    // Every answer and every download block's ACK waits for the adapter's timer: at the 16 ms
    // default that costs a download up to a fifth of its time.
#ifndef Q_OS_WIN
    RequestLowLatency(m_port.handle());
#endif
    AdapterLatency latency = ReadAdapterLatency(device);
    if (latency.timerMs > 1 && LowerAdapterLatency(device))
        latency = ReadAdapterLatency(device);
    if (latency.timerMs <= 1 || m_latencyNoted.contains(device))
        return;
    m_latencyNoted.insert(device);
    const QString text = AdapterLatencyNotice(device, latency);
    QMetaObject::invokeMethod(
        this, [this, text] { emit Notice(text); }, Qt::QueuedConnection);
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
#ifndef Q_OS_WIN
    // Straight to the device when nothing of ours waits in Qt's buffer: a block or a line is
    // far smaller than a tty's buffer, so it is taken whole, and the port's write notifier is
    // never switched on and off again, two system calls fewer for every block of a download.
    qsizetype direct = 0;
    if (m_port.bytesToWrite() == 0) {
        ssize_t n;
        do
            n = ::write(m_port.handle(), bytes.constData(), size_t(bytes.size()));
        while (n < 0 && errno == EINTR);
        if (n < 0 && errno != EAGAIN)
            return false; // the device refused: gone, or no longer a terminal
        direct = n < 0 ? 0 : qsizetype(n);
        if (direct == bytes.size())
            return true;
    }
    const QByteArray rest = direct > 0 ? bytes.mid(direct) : bytes;
#else
    const QByteArray &rest = bytes;
#endif
    const qint64 written = m_port.write(rest);
    if (written != rest.size())
        return false;
    m_writeFailed = false;
    m_port.flush();
    // The write switched the port's write notifier on; a flush that finds nothing left to
    // write switches it off again. Left on, it wakes the event loop once more for every write
    // only to find the buffer empty: a third of a download's wake-ups.
    if (m_port.isOpen() && m_port.bytesToWrite() == 0)
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
    // A read that fails (a pseudo-terminal whose other side closed reads as end of file, a
    // pulled adapter as an I/O error) means the device is gone as surely as a resource error.
    if (error == QSerialPort::ResourceError || error == QSerialPort::PermissionError ||
        error == QSerialPort::ReadError) {
        if (m_port.isOpen()) {
            m_lost = true;
            m_port.close();
            // Reported from the event loop, never from inside the port's own signal, and only
            // while the same opening is still the one in use.
            const quint64 opening = m_opening;
            QMetaObject::invokeMethod(
                this,
                [this, opening] {
                    if (m_lost && opening == m_opening)
                        ReportLost();
                },
                Qt::QueuedConnection);
        }
    }
}
