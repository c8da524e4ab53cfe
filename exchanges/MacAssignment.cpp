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

LineResult::Verdict MacAssignment::HandleAnswer(ExchangeLink &, const QByteArray &,
                                                const QByteArray &answer, QStringList *)
{
    // Only the "ma" line carries a code; its answer is the unit's address.
    const SettingsUpdate update = ParseSettingsLine(answer);
    if (update.kind != SettingsUpdate::Kind::Mac)
        return LineResult::Verdict::Differs;
    m_answeredAddress = update.macText;
    m_settings.ApplySettingsUpdate(update);
    return NumberTaken() ? LineResult::Verdict::Ok : LineResult::Verdict::Differs;
}

void MacAssignment::Describe(ExchangeResult &result)
{
    CommandExchange::Describe(result);
    result.macSent = m_numberSent ? m_number : -1;
    result.macAnswered = m_answeredAddress;
}
