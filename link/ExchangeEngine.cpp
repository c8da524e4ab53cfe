#include "ExchangeEngine.h"

#include "PortNames.h"

#include <cstdint>
#include <limits>

namespace {

// Each number of a version text stays far below this; more digits make it no version at all.
constexpr int64_t kVersionPartLimit = 1000000000;

} // namespace

ExchangeEngine::ExchangeEngine(PortIo &port, ExchangeHost &host)
    : m_port(port), m_host(host),
      m_receiver([this] { return m_blockMode; },
                 [this](const QByteArray &reply) { DispatchReply(reply); })
{
    m_port.SetReceiver([this](const QByteArray &bytes) { m_receiver.ProcessInput(bytes); });
}

bool ExchangeEngine::OpenSerialPort()
{
    const int number = m_host.PortNumber();
    switch (m_port.Open(m_host.PortDevice(number))) {
    case PortIo::OpenResult::OpenFailed:
        m_host.ShowPortError(QStringLiteral("Unable to open serial port %1").arg(number));
        return false;
    case PortIo::OpenResult::SettingsRefused:
        m_host.ShowPortError(QStringLiteral("SetCommState port error"));
        return false;
    case PortIo::OpenResult::Opened:
        break;
    }
    m_portOpen = true;
    m_receiver.Start();
    return true;
}

void ExchangeEngine::CloseSerialPort()
{
    if (!m_portOpen)
        return;
    m_port.Close();
    m_portOpen = false;
    m_receiver.Stop();
}

void ExchangeEngine::WriteSerialPort(const QByteArray &bytes)
{
    if (!m_port.Write(bytes))
        m_host.ShowPortError(QStringLiteral("Serial port write error"));
    m_replyTimeout = 10;
}

void ExchangeEngine::RegisterExchange(int state, Exchange *exchange)
{
    if (state >= StateDownload && state <= StateWrite)
        m_exchanges[size_t(state)] = exchange;
}

void ExchangeEngine::DispatchReply(const QByteArray &reply)
{
    if (m_exchangeState < StateDownload || m_exchangeState > StateWrite)
        return;
    if (Exchange *exchange = m_exchanges[size_t(m_exchangeState)])
        exchange->HandleReply(reply);
}

int ExchangeEngine::CheckErrorReply(const QByteArray &reply)
{
    // The reply is a C string: "Error\r\n" followed by anything but its terminating zero is
    // another answer.
    if (reply != QByteArrayLiteral("Error\r\n"))
        return 0;
    ++m_errorRetryCount;
    if (m_errorRetryCount > 4)
        return -1;
    WriteSerialPort(m_lastCommand);
    return 1;
}

int ExchangeEngine::CheckVersionReply(const QByteArray &versionText)
{
    QByteArray text = versionText;
    const qsizetype nul = text.indexOf('\0');
    if (nul >= 0)
        text.truncate(nul);
    if (text.startsWith("SW"))
        text[0] = 'U';

    m_host.AppendLog(QStringLiteral("Tolvex Version: ") + QString::fromLatin1(text));

    if (text.isEmpty() || text.at(0) < '0' || text.at(0) > '9') {
        ++m_errorRetryCount;
        if (m_errorRetryCount > 4)
            return kGaveUp;
        WriteSerialPort(m_lastCommand);
        return kResent;
    }

    // a up to the first ".", b up to the next ".", c up to the "-"; characters are not
    // tested further, but no number may grow without bound.
    const char separators[3] = {'.', '.', '-'};
    int64_t parts[3] = {0, 0, 0};
    qsizetype pos = 0;
    for (int k = 0; k < 3; ++k) {
        int64_t number = 0;
        for (;;) {
            if (pos >= text.size())
                return kNotAVersion;
            const char c = text.at(pos++);
            if (c == separators[k])
                break;
            number = number * 10 + (int64_t(uint8_t(c)) - 48);
            if (number >= kVersionPartLimit || number <= -kVersionPartLimit)
                return kNotAVersion;
        }
        parts[k] = number;
    }
    if (text.mid(pos, 3) != "UDP")
        return kNotAVersion;
    const int64_t version = parts[0] * 10000 + parts[1] * 100 + parts[2];
    if (version > std::numeric_limits<int>::max())
        return std::numeric_limits<int>::max();
    if (version < std::numeric_limits<int>::min())
        return std::numeric_limits<int>::min();
    return int(version);
}

ExchangeEngine::VersionOutcome ExchangeEngine::VersionStep(const QByteArray &reply,
                                                           const QString &tooManyErrorsText)
{
    const int error = CheckErrorReply(reply);
    if (error == -1) {
        FailExchange(tooManyErrorsText, QStringLiteral("TOLVEX not found"));
        return VersionOutcome::Failed;
    }
    if (error == 1)
        return VersionOutcome::Waiting;

    const int version = CheckVersionReply(reply.mid(2));
    if (version == kResent)
        return VersionOutcome::Waiting;
    if (version < 1) {
        FailExchange(QStringLiteral("TOLVEX not found\rError 2"),
                     QStringLiteral("TOLVEX not found"));
        return VersionOutcome::Failed;
    }
    if (version >= kFirstUnsupportedVersion) {
        FailExchange(QStringLiteral("TOLVEX version not supported\r"
                                    "Please download the latest version of this application"),
                     QStringLiteral("TOLVEX version not supported"));
        return VersionOutcome::Failed;
    }
    return VersionOutcome::Accepted;
}

void ExchangeEngine::StartWithVersionQuery(int state)
{
    m_exchangeState = state;
    m_retriesLeft = 3;
    m_retryPending = false;
    m_errorRetryCount = 0;
    // Lines, not single bytes, answer this exchange, even when it took over a download.
    m_blockMode = false;
    if (!m_portOpen && !OpenSerialPort())
        return;
    m_versionPending = true;
    m_lastCommand = QByteArrayLiteral("sv\r\n");
    WriteSerialPort(m_lastCommand);
}

bool ExchangeEngine::HandleVersionAnswer(const QByteArray &reply)
{
    if (!m_versionPending)
        return false;
    if (VersionStep(reply, QStringLiteral("TOLVEX not found\rError 4")) ==
        VersionOutcome::Accepted) {
        SendNextCommand();
        m_versionPending = false;
    }
    return true;
}

void ExchangeEngine::FailExchange(const QString &text, const QString &logLine)
{
    m_replyTimeout = 0;
    m_host.ShowMessage(MessageKind::Error, text);
    m_host.AppendLog(logLine);
    CloseSerialPort();
    m_exchangeState = StateNone;
    m_versionPending = false;
    m_blockMode = false;
}

bool ExchangeEngine::SendNextCommand()
{
    if (m_commandQueue.IsEmpty()) {
        m_replyTimeout = 0;
        CloseSerialPort();
        return false;
    }
    m_lastCommand = m_commandQueue.TakeFirst().toLatin1();
    WriteSerialPort(m_lastCommand);
    return true;
}

void ExchangeEngine::Timer1Timer()
{
    if (m_inTick)
        return;
    m_inTick = true;
    struct TickGuard
    {
        bool &flag;
        ~TickGuard() { flag = false; }
    } guard{m_inTick};

    if (m_retryPending) {
        m_retryPending = false;
        if (!OpenSerialPort()) {
            m_replyTimeout = 1;
            return;
        }
        if (m_exchangeState == StateRead || m_exchangeState == StateWrite) {
            if (Exchange *exchange = m_exchanges[size_t(m_exchangeState)])
                exchange->RebuildQueue();
            m_lastCommand =
                m_versionPending ? QByteArrayLiteral("sv\r\n") : QByteArrayLiteral("\r\n");
        }
        WriteSerialPort(m_lastCommand);
    }

    if (m_replyTimeout == 0)
        return;
    --m_replyTimeout;
    if (m_replyTimeout > 0)
        return;

    CloseSerialPort();
    if (m_retriesLeft > 0) {
        --m_retriesLeft;
        m_retryPending = true;
        return;
    }
    m_versionPending = false;
    m_blockMode = false;
    m_host.ShowMessage(MessageKind::Error,
                       QStringLiteral("Cannot communicate with TOLVEX\nError 7"));
    m_host.AppendLog(QStringLiteral("Cannot communicate with TOLVEX"));
}
