#include "ReadExchange.h"

#include "settings/SettingsLines.h"

void ReadExchange::QueueReadQueries(CommandQueue &queue)
{
    queue.Clear();
    for (const char *query : {"ax1", "ax2", "ax3", "ax4", "ng", "ni", "ns", "nc", "eo", "bb", "bt",
                              "bh", "bj", "ba", "ma"})
        queue.Add(QString::fromLatin1(query) + QStringLiteral("\r\n"));
}

void ReadExchange::FillQueue(CommandQueue &queue)
{
    QueueReadQueries(queue);
    if (m_only.isEmpty())
        return;
    for (int i = queue.Count() - 1; i >= 0; --i) {
        if (!m_only.contains(LineText(queue.At(i).toLatin1()), Qt::CaseInsensitive))
            queue.RemoveAt(i);
    }
}

LineResult::Verdict ReadExchange::HandleAnswer(ExchangeLink &, const QByteArray &,
                                               const QByteArray &answer, QStringList *)
{
    m_settings.ApplySettingsUpdate(ParseSettingsLine(answer));
    return LineResult::Verdict::Ok;
}
