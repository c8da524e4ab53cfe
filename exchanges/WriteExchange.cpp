#include "WriteExchange.h"

#include "WriteEchoCheck.h"
#include "settings/SettingsLines.h"
#include "settings/SettingsValidation.h"

QStringList WriteExchange::Validate(const SettingsSnapshot &settings)
{
    return ValidateSettings(settings);
}

QStringList WriteExchange::Lines()
{
    CommandQueue queue;
    FillQueue(queue);
    QStringList lines;
    for (const QString &line : queue.Items())
        lines << LineText(line.toLatin1());
    return lines;
}

void WriteExchange::FillQueue(CommandQueue &queue)
{
    queue.Clear();
    BuildSettingsLines(m_settings.ReadSettings(), m_sendAllLines, queue);
}

void WriteExchange::ResetAttempt()
{
    CommandExchange::ResetAttempt();
    m_mismatches.clear();
    m_echoes.clear();
}

void WriteExchange::HandleAnswer(ExchangeLink &link, const QByteArray &sent,
                                 const QByteArray &answer)
{
    const QStringList messages = CheckWriteEcho(answer, m_settings.ReadSettings(), &m_dotted);
    m_echoes.append({LineText(sent), LineText(answer), messages});
    if (messages.isEmpty())
        return;
    for (const QString &message : messages)
        link.Log(message);
    m_mismatches.append({LineText(sent), LineText(answer), messages});
}

ExchangeResult WriteExchange::Conclude(ExchangeLink &link)
{
    if (!m_mismatches.isEmpty() || !RefusedLines().isEmpty())
        return MismatchResult(link,
                              QStringLiteral("Errors occurred during the write operation\r"
                                             "Check all values\rError 6"),
                              QStringLiteral("Data Write Errors - Fail "));
    ExchangeResult result;
    result.logBeforeBox = true;
    result.boxKind = MessageKind::Confirmation;
    result.boxText = QStringLiteral("Data sent OK");
    result.logLine = QStringLiteral("Data Sent - OK ") + link.DateTimeText();
    return result;
}
