#pragma once

#include "CommandExchange.h"
#include "SettingsStore.h"

// "Read From TOLVEX": the version query, then fifteen queries, one per answer, each answer
// applied to the settings. A query the unit refuses (older firmware may lack a setting) leaves
// its setting as it was, and the read ends incomplete, naming the refused queries.
class ReadExchange : public CommandExchange
{
public:
    explicit ReadExchange(SettingsStore &settings) : m_settings(settings) {}

    QString Name() const override { return QStringLiteral("Read"); }

    // The fifteen queries (sent in sorted order, ax1 first).
    static void QueueReadQueries(CommandQueue &queue);

protected:
    void FillQueue(CommandQueue &queue) override { QueueReadQueries(queue); }
    void HandleAnswer(ExchangeLink &link, const QByteArray &sent,
                      const QByteArray &answer) override;
    ExchangeResult Conclude(ExchangeLink &link) override;

private:
    SettingsStore &m_settings;
};
