#include "WriteExchange.h"

#include "WriteEchoCheck.h"
#include "settings/SettingsLines.h"
#include "settings/SettingsValidation.h"

WriteExchange::WriteExchange(ExchangeEngine &engine, ExchangeHost &host)
    : m_engine(engine), m_host(host)
{
    m_engine.RegisterExchange(ExchangeEngine::StateWrite, this);
}

void WriteExchange::RebuildQueue()
{
    BuildSettingsLines(m_host.ReadSettings(), m_host.MacAssignmentMode(), m_engine.Queue());
}

void WriteExchange::WriteButtonClick()
{
    const QStringList failures = ValidateSettings(m_host.ReadSettings());
    for (const QString &line : failures)
        m_host.AppendLog(line);
    if (!failures.isEmpty()) {
        m_host.ShowMessage(MessageKind::Error, QStringLiteral("There are errors"));
        return;
    }
    m_host.AppendLog(QStringLiteral("Data Checked - OK"));
    RebuildQueue();
    m_writeErrorFlag = false;
    m_engine.StartWithVersionQuery(ExchangeEngine::StateWrite);
}

void WriteExchange::HandleReply(const QByteArray &reply)
{
    if (m_engine.HandleVersionAnswer(reply))
        return;

    const QStringList mismatches = CheckWriteEcho(reply, m_host.ReadSettings(), &m_dotted);
    for (const QString &message : mismatches) {
        m_writeErrorFlag = true;
        m_host.AppendLog(message);
    }
    if (m_engine.SendNextCommand())
        return;
    GiveVerdict();
}

void WriteExchange::GiveVerdict()
{
    if (m_writeErrorFlag) {
        m_host.ShowMessage(MessageKind::Error,
                           QStringLiteral("Errors occurred during the write operation\r"
                                          "Check all values\rError 6"));
        m_host.AppendLog(QStringLiteral("Data Write Errors - Fail ") + m_host.DateTimeText());
    } else {
        m_host.AppendLog(QStringLiteral("Data Sent - OK ") + m_host.DateTimeText());
        m_host.ShowMessage(MessageKind::Confirmation, QStringLiteral("Data sent OK"));
    }
    m_engine.CloseSerialPort();
    m_engine.SetExchangeState(ExchangeEngine::StateNone);
}
