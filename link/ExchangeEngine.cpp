#include "ExchangeEngine.h"

#include <QMetaObject>
#include <cstdint>
#include <limits>

namespace {

// Each number of a version text stays far below this; more digits make it no version at all.
constexpr int64_t kVersionPartLimit = 1000000000;

const QString kNotFoundLog = QStringLiteral("TOLVEX not found");

QString TooManyErrorsText(ExchangeError error)
{
    return error == ExchangeError::NotFoundTooManyErrors
               ? QStringLiteral("TOLVEX not found\rError 1")
               : QStringLiteral("TOLVEX not found\rError 4");
}

// What the link saw, in plain words, for a unit that stopped answering.
QString SilenceDiagnosis(const LinkActivity &activity)
{
    if (activity.bytesReceived == 0)
        return QStringLiteral("No byte at all came back from the unit: check the cable, the "
                              "unit's power and the port number");
    if (activity.repliesReceived == 0)
        return QStringLiteral("Bytes came back but never a valid line: wrong port or line "
                              "settings, or noise on the line");
    return QStringLiteral("The unit answered and then stopped answering");
}

} // namespace

QString OpenFailureText(PortIo::OpenResult result)
{
    switch (result) {
    case PortIo::OpenResult::Opened:
        return QString();
    case PortIo::OpenResult::NoSuchDevice:
        return QStringLiteral("No such device: check that the adapter is plugged in and the port "
                              "number is right");
    case PortIo::OpenResult::InUse:
        return QStringLiteral("The device is in use by another program");
    case PortIo::OpenResult::NoPermission:
#ifdef Q_OS_WIN
        return QStringLiteral("No permission to use the device");
#else
        return QStringLiteral("No permission to use the device (on Linux, add the user to the "
                              "dialout group: sudo adduser $USER dialout, then log in again)");
#endif
    case PortIo::OpenResult::OpenFailed:
        return QStringLiteral("The system refused to open the device");
    case PortIo::OpenResult::SettingsRefused:
        return QStringLiteral("The device refused the line settings");
    }
    return QString();
}

ExchangeEngine::ExchangeEngine(PortIo &port, PortChoice &portChoice, ExchangeLog &log,
                               QObject *parent)
    : QObject(parent), m_port(port), m_portChoice(portChoice), m_log(log),
      m_receiver([this] { return m_current && m_current->SingleBytes(); },
                 [this](const QByteArray &reply) { DispatchReply(reply); })
{
    m_port.SetReceiver([this](const QByteArray &bytes) {
        m_activity.bytesReceived += bytes.size();
        m_receiver.ProcessInput(bytes);
    });
    m_port.SetLostHandler([this] { OnPortLost(); });
}

ExchangeEngine::~ExchangeEngine()
{
    m_port.SetReceiver({});
    m_port.SetLostHandler({});
    ClosePort();
}

bool ExchangeEngine::Start(Exchange &exchange)
{
    if (m_current)
        return false;
    m_current = &exchange;
    ++m_run;
    m_activity = LinkActivity();
    m_unitVersion.clear();
    m_lastLine.clear();
    m_replyTimeout = 0;
    m_retriesLeft = kRetries;
    m_retryPending = false;
    m_errorRetryCount = 0;
    emit RunningChanged(true);

    const PortIo::OpenResult opened = OpenPort();
    if (opened != PortIo::OpenResult::Opened) {
        // A port chosen by its device path (number 0) is named by that path.
        const QString portName = m_portNumber > 0 ? QString::number(m_portNumber) : m_device;
        const QString box = opened == PortIo::OpenResult::SettingsRefused
                                ? QStringLiteral("SetCommState port error")
                                : QStringLiteral("Unable to open serial port %1\n%2")
                                      .arg(portName, OpenFailureText(opened));
        ExchangeResult result = FailureResult(
            ExchangeError::NoCommunication, box,
            m_portNumber > 0 ? QStringLiteral("Unable to open serial port %1 (%2): %3")
                                   .arg(portName, m_device, OpenFailureText(opened))
                             : QStringLiteral("Unable to open serial port %1: %2")
                                   .arg(m_device, OpenFailureText(opened)));
        result.portBox = true;
        Finish(result);
        return true;
    }
    exchange.Begin(*this);
    return true;
}

void ExchangeEngine::Cancel(const QString &byWhom)
{
    if (!m_current)
        return;
    ExchangeResult result;
    result.outcome = ExchangeResult::Outcome::Cancelled;
    result.logLine = m_current->Name() + QStringLiteral(" cancelled by ") + byWhom;
    EndFromOutside(Exchange::EndCause::Cancelled, result);
}

PortIo::OpenResult ExchangeEngine::OpenPort()
{
    m_portNumber = m_portChoice.PortNumber();
    m_device = m_portChoice.PortDevice(m_portNumber);
    const PortIo::OpenResult result = m_port.Open(m_device);
    if (result == PortIo::OpenResult::Opened) {
        m_portOpen = true;
        m_receiver.Start();
    }
    return result;
}

void ExchangeEngine::ClosePort()
{
    if (!m_portOpen)
        return;
    m_port.Close();
    m_portOpen = false;
    m_receiver.Stop();
}

void ExchangeEngine::Write(const QByteArray &bytes, int replyTicks)
{
    if (!m_current)
        return;
    m_replyTimeout = replyTicks;
    if (m_port.Write(bytes))
        return;
    // The exchange goes on with the code that sent; it is ended once, from the event loop,
    // unless something else ended it first.
    EndLater(QStringLiteral("Serial port write error"),
             QStringLiteral("Serial port write error on %1").arg(m_device));
}

void ExchangeEngine::OnPortLost()
{
    EndLater(QStringLiteral("Serial port device lost: %1\n"
                            "Check the cable or adapter, then try again")
                 .arg(m_device),
             QStringLiteral("Serial port device lost: %1").arg(m_device));
}

void ExchangeEngine::EndLater(const QString &boxText, const QString &logLine)
{
    const quint64 run = m_run;
    QMetaObject::invokeMethod(
        this,
        [this, run, boxText, logLine] {
            if (!m_current || run != m_run)
                return;
            ClosePort();
            ExchangeResult result = FailureResult(ExchangeError::NoCommunication, boxText, logLine);
            result.portBox = true;
            EndFromOutside(Exchange::EndCause::PortLost, result);
        },
        Qt::QueuedConnection);
}

void ExchangeEngine::SendLine(const QByteArray &line)
{
    m_lastLine = line;
    Write(line, kReplyTicks);
}

void ExchangeEngine::SendBytes(const QByteArray &bytes, int replyTicks)
{
    Write(bytes, replyTicks);
}

void ExchangeEngine::DispatchReply(const QByteArray &reply)
{
    ++m_activity.repliesReceived;
    if (m_current)
        m_current->HandleReply(*this, reply);
}

ExchangeLink::ErrorAnswer ExchangeEngine::CheckErrorReply(const QByteArray &reply)
{
    // The reply is a C string: "Error\r\n" followed by anything but its terminating zero is
    // another answer.
    if (reply != QByteArrayLiteral("Error\r\n"))
        return ErrorAnswer::NotError;
    ++m_errorRetryCount;
    if (m_errorRetryCount > kErrorResends)
        return ErrorAnswer::GaveUp;
    SendLine(m_lastLine);
    return ErrorAnswer::Resent;
}

int ExchangeEngine::CheckVersionReply(const QByteArray &versionText)
{
    QByteArray text = versionText;
    const qsizetype nul = text.indexOf('\0');
    if (nul >= 0)
        text.truncate(nul);
    if (text.startsWith("SW"))
        text[0] = 'U';

    m_log.AppendLog(QStringLiteral("Tolvex Version: ") + QString::fromLatin1(text));
    m_unitVersion = QString::fromLatin1(text).trimmed();
    emit UnitVersionAnswered(m_unitVersion);

    if (text.isEmpty() || text.at(0) < '0' || text.at(0) > '9') {
        ++m_errorRetryCount;
        if (m_errorRetryCount > kErrorResends)
            return kGaveUp;
        SendLine(m_lastLine);
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

ExchangeLink::VersionOutcome ExchangeEngine::VersionStep(const QByteArray &reply,
                                                         ExchangeError tooManyErrors)
{
    switch (CheckErrorReply(reply)) {
    case ErrorAnswer::GaveUp:
        Finish(FailureResult(tooManyErrors, TooManyErrorsText(tooManyErrors), kNotFoundLog));
        return VersionOutcome::Failed;
    case ErrorAnswer::Resent:
        return VersionOutcome::Waiting;
    case ErrorAnswer::NotError:
        break;
    }

    const int version = CheckVersionReply(reply.mid(2));
    if (version == kResent)
        return VersionOutcome::Waiting;
    if (version < 1) {
        Finish(FailureResult(ExchangeError::NotFound, QStringLiteral("TOLVEX not found\rError 2"),
                             kNotFoundLog));
        return VersionOutcome::Failed;
    }
    if (version >= kFirstUnsupportedVersion) {
        Finish(FailureResult(ExchangeError::NotFound,
                             QStringLiteral("TOLVEX version not supported\r"
                                            "Please download the latest version of this "
                                            "application"),
                             QStringLiteral("TOLVEX version not supported")));
        return VersionOutcome::Failed;
    }
    return VersionOutcome::Accepted;
}

void ExchangeEngine::Log(const QString &line)
{
    m_log.AppendLog(line);
}

QString ExchangeEngine::DateTimeText()
{
    return m_log.DateTimeText();
}

ExchangeResult ExchangeEngine::FailureResult(ExchangeError error, const QString &boxText,
                                             const QString &logLine) const
{
    ExchangeResult result;
    result.outcome = ExchangeResult::Outcome::Failed;
    result.error = error;
    result.boxKind = MessageKind::Error;
    result.boxText = boxText;
    result.logLine = logLine;
    return result;
}

void ExchangeEngine::EndFromOutside(Exchange::EndCause cause, ExchangeResult result)
{
    Exchange *exchange = m_current;
    if (!exchange)
        return;
    const quint64 run = m_run;
    exchange->Abort(*this, cause);
    // Abort may have ended the exchange itself.
    if (m_current == exchange && run == m_run)
        Finish(result);
}

void ExchangeEngine::Finish(const ExchangeResult &given)
{
    if (!m_current)
        return;
    m_replyTimeout = 0;
    m_retryPending = false;
    ClosePort();
    Exchange *ended = m_current;
    m_current = nullptr;
    ++m_run;
    ExchangeResult result = given;
    ended->Describe(result);
    ended->Ended();
    result.activity = m_activity;
    result.unitVersion = m_unitVersion;
    emit RunningChanged(false);

    auto showBox = [this, &result] {
        if (result.boxText.isEmpty())
            return;
        if (result.portBox)
            m_log.ShowPortError(result.boxText);
        else
            m_log.ShowMessage(result.boxKind, result.boxText);
    };
    auto writeLog = [this, &result] {
        if (!result.logLine.isEmpty())
            m_log.AppendLog(result.logLine);
        if (!result.diagnosis.isEmpty())
            m_log.AppendLog(result.diagnosis);
    };
    if (result.logBeforeBox) {
        writeLog();
        showBox();
    } else {
        showBox();
        writeLog();
    }
    emit Finished(result);
}

void ExchangeEngine::Tick()
{
    if (m_inTick || !m_current)
        return;
    m_inTick = true;
    struct TickGuard
    {
        bool &flag;
        ~TickGuard() { flag = false; }
    } guard{m_inTick};

    if (m_retryPending) {
        m_retryPending = false;
        if (OpenPort() != PortIo::OpenResult::Opened) {
            // Counted as one more time-out on the next tick; no box for each attempt.
            m_replyTimeout = 1;
            return;
        }
        m_current->Retry(*this);
        if (!m_current)
            return;
    }

    if (m_replyTimeout == 0)
        return;
    --m_replyTimeout;
    if (m_replyTimeout > 0)
        return;

    ++m_activity.timeouts;
    if (m_retriesLeft > 0 && m_current->RetryAllowed()) {
        ClosePort();
        --m_retriesLeft;
        m_retryPending = true;
        return;
    }
    ExchangeResult result = FailureResult(ExchangeError::NoCommunication,
                                          QStringLiteral("Cannot communicate with TOLVEX\nError 7"),
                                          QStringLiteral("Cannot communicate with TOLVEX"));
    result.diagnosis = SilenceDiagnosis(m_activity);
    EndFromOutside(Exchange::EndCause::TimedOut, result);
}
