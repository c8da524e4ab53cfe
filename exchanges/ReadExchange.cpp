#include "ReadExchange.h"

#include "settings/SettingsLines.h"

void ReadExchange::QueueReadQueries(CommandQueue &queue)
{
    queue.Clear();
    for (const char *query : {"ax1", "ax2", "ax3", "ax4", "ng", "ni", "ns", "nc", "eo", "bb", "bt",
                              "bh", "bj", "ba", "ma"})
        queue.Add(QString::fromLatin1(query) + QStringLiteral("\r\n"));
}

LineResult::Verdict ReadExchange::HandleAnswer(ExchangeLink &, const QByteArray &,
                                               const QByteArray &answer, QStringList *)
{
    m_settings.ApplySettingsUpdate(ParseSettingsLine(answer));
    return LineResult::Verdict::Ok;
}
