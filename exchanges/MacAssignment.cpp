#include "MacAssignment.h"

#include "MacNumber.h"
#include "settings/SettingsLines.h"

void MacAssignment::FillQueue(CommandQueue &queue)
{
    queue.Clear();
    queue.Add(MacAssignmentLine(m_number));
    queue.Add(QStringLiteral("zc\r\n"));
}

bool MacAssignment::NumberTaken() const
{
    return MacNumberOfAddress(m_answeredAddress) == m_number;
}

void MacAssignment::Begin(ExchangeLink &link)
{
    m_numberSent = false;
    m_answeredAddress.clear();
    CommandExchange::Begin(link);
    // The first line out is the "ma" line (the sorted queue puts it before "zc").
    m_numberSent = true;
}

void MacAssignment::HandleAnswer(ExchangeLink &, const QByteArray &sent, const QByteArray &answer)
{
    const SettingsUpdate update = ParseSettingsLine(answer);
    if (sent.startsWith("ma") && update.kind == SettingsUpdate::Kind::Mac)
        m_answeredAddress = update.macText;
    m_settings.ApplySettingsUpdate(update);
}

ExchangeResult MacAssignment::Conclude(ExchangeLink &link)
{
    if (!RefusedLines().isEmpty())
        return MismatchResult(link, QStringLiteral("TOLVEX refused the MAC address\rError 6"),
                              QStringLiteral("MAC Address Refused - Fail "));
    // An "OK" or another address is no proof the unit took the number.
    if (!NumberTaken())
        return MismatchResult(link, QStringLiteral("TOLVEX did not take the MAC address\rError 6"),
                              QStringLiteral("MAC Address Not Taken - Fail "));
    ExchangeResult result;
    result.logBeforeBox = true;
    result.boxKind = MessageKind::Warning;
    result.boxText = QStringLiteral("Data read OK");
    result.logLine = QStringLiteral("Data Read - OK ") + link.DateTimeText();
    return result;
}
