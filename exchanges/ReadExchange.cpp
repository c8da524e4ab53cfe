#include "ReadExchange.h"

#include "settings/SettingsLines.h"

void ReadExchange::QueueReadQueries(CommandQueue &queue)
{
    queue.Clear();
    for (const char *query : {"ax1", "ax2", "ax3", "ax4", "ng", "ni", "ns", "nc", "eo", "bb", "bt",
                              "bh", "bj", "ba", "ma"})
        queue.Add(QString::fromLatin1(query) + QStringLiteral("\r\n"));
}

void ReadExchange::HandleAnswer(ExchangeLink &, const QByteArray &, const QByteArray &answer)
{
    m_settings.ApplySettingsUpdate(ParseSettingsLine(answer));
}

ExchangeResult ReadExchange::Conclude(ExchangeLink &link)
{
    ExchangeResult result;
    result.logBeforeBox = true;
    result.boxKind = MessageKind::Warning;
    if (RefusedLines().isEmpty()) {
        result.logLine = QStringLiteral("Data Read - OK ") + link.DateTimeText();
        result.boxText = QStringLiteral("Data read OK");
        return result;
    }
    const QString refused = RefusedLines().join(QStringLiteral(", "));
    result.outcome = ExchangeResult::Outcome::Incomplete;
    result.refusedLines = RefusedLines();
    result.logLine = QStringLiteral("Data Read - Incomplete, refused by TOLVEX: ") + refused +
                     QLatin1Char(' ') + link.DateTimeText();
    result.boxText = QStringLiteral("Data read incomplete\rTOLVEX refused: ") + refused;
    return result;
}
