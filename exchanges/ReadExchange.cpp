#include "ReadExchange.h"

#include "settings/SettingsLines.h"

ReadExchange::ReadExchange(ExchangeEngine &engine, ExchangeHost &host)
    : m_engine(engine), m_host(host)
{
    m_engine.RegisterExchange(ExchangeEngine::StateRead, this);
}

void ReadExchange::QueueReadQueries()
{
    CommandQueue &queue = m_engine.Queue();
    queue.Clear();
    for (const char *query : {"ax1", "ax2", "ax3", "ax4", "ng", "ni", "ns", "nc", "eo", "bb", "bt",
                              "bh", "bj", "ba", "ma"})
        queue.Add(QString::fromLatin1(query) + QStringLiteral("\r\n"));
}

void ReadExchange::ReadButtonClick()
{
    QueueReadQueries();
    m_engine.StartWithVersionQuery(ExchangeEngine::StateRead);
}

void ReadExchange::HandleReply(const QByteArray &reply)
{
    if (m_engine.HandleVersionAnswer(reply))
        return;

    m_host.ApplySettingsUpdate(ParseSettingsLine(reply));
    if (m_engine.SendNextCommand())
        return;

    m_engine.CloseSerialPort();
    m_engine.SetExchangeState(ExchangeEngine::StateNone);
    m_host.AppendLog(QStringLiteral("Data Read - OK ") + m_host.DateTimeText());
    m_host.ShowMessage(MessageKind::Warning, QStringLiteral("Data read OK"));
}
