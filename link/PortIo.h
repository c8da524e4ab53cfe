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
        OpenFailed,      // missing, busy or not permitted
        SettingsRefused, // opened, but the line settings could not be applied (closed again)
    };

    using Receiver = std::function<void(const QByteArray &bytes)>;

    virtual ~PortIo() = default;

    // Opens `device` exclusively with the unit's line settings: 19200 baud, 8 data bits,
    // no parity, one stop bit, no flow control, DTR and RTS off where the device has them.
    virtual OpenResult Open(const QString &device) = 0;
    virtual void Close() = 0;
    // Hands every byte to the device; false when the device refused or took only part.
    virtual bool Write(const QByteArray &bytes) = 0;

    void SetReceiver(Receiver receiver) { m_receiver = std::move(receiver); }

protected:
    void Deliver(const QByteArray &bytes)
    {
        if (m_receiver)
            m_receiver(bytes);
    }

private:
    Receiver m_receiver;
};
