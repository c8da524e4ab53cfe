#pragma once

#include <QByteArray>
#include <QString>
#include <functional>

// The one seam between the protocol code and a serial device. The engine asks for an opening,
// a write or a close; received bytes come back through the receiver callback on the thread
// that owns the port (the window's thread). Tests replace the device with a fake.
class PortIo
{
public:
    enum class OpenResult
    {
        Opened,
        NoSuchDevice,    // nothing at that path or name (unplugged adapter, wrong number)
        InUse,           // another program holds the device
        NoPermission,    // the user may not open the device
        OpenFailed,      // any other reason the system gave
        SettingsRefused, // opened, but the line settings could not be applied (closed again)
    };

    using Receiver = std::function<void(const QByteArray &bytes)>;
    // Called once when an open device vanishes (a pulled USB adapter, a closed
    // pseudo-terminal); the device is already released and writes fail from then on.
    using LostHandler = std::function<void()>;

    virtual ~PortIo() = default;

    // Opens `device` exclusively with the unit's line settings: 19200 baud, 8 data bits,
    // no parity, one stop bit, no flow control, DTR and RTS off where the device has them.
    virtual OpenResult Open(const QString &device) = 0;
    virtual void Close() = 0;
    // Hands every byte to the device; false when the device refused or took only part.
    virtual bool Write(const QByteArray &bytes) = 0;

    void SetReceiver(Receiver receiver) { m_receiver = std::move(receiver); }
    void SetLostHandler(LostHandler handler) { m_lostHandler = std::move(handler); }

protected:
    void Deliver(const QByteArray &bytes)
    {
        if (m_receiver)
            m_receiver(bytes);
    }
    void ReportLost()
    {
        if (m_lostHandler)
            m_lostHandler();
    }

private:
    Receiver m_receiver;
    LostHandler m_lostHandler;
};

// The failure in plain words for the operator, one line; empty for Opened.
QString OpenFailureText(PortIo::OpenResult result);
