#include "WriteExchange.h"

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
}

LineResult::Verdict WriteExchange::HandleAnswer(ExchangeLink &link, const QByteArray &sent,
                                                const QByteArray &answer, QStringList *messages)
{
    const QList<WriteEchoDifference> differences =
        CheckWriteEchoFields(answer, m_settings.ReadSettings(), &m_dotted);
    if (differences.isEmpty())
        return LineResult::Verdict::Ok;
    Mismatch mismatch{LineText(sent), LineText(answer), {}};
    for (const WriteEchoDifference &difference : differences) {
        link.Log(difference.message);
        *messages << difference.message;
        if (!mismatch.fields.contains(difference.field))
            mismatch.fields << difference.field;
    }
    m_mismatches << mismatch;
    return LineResult::Verdict::Differs;
}
