#pragma once

#include "CommandExchange.h"
#include "SettingsStore.h"

// "Read From TOLVEX": the version query, then fifteen queries, one per answer, each answer
// applied to the settings. A query the unit refuses (older firmware may lack a setting) or
// answers with another code leaves its setting as it was, and the read ends incomplete, naming
// those queries.
class ReadExchange : public CommandExchange
{
public:
    explicit ReadExchange(SettingsStore &settings) : m_settings(settings) {}

    QString Name() const override { return QStringLiteral("Read"); }

    // The fifteen queries (sent in sorted order, ax1 first).
    static void QueueReadQueries(CommandQueue &queue);

    // Asks only the queries with these codes ("ma": the unit's MAC address, which the production
    // tool reads before it gives a reworked unit a number); empty, the default, asks all.
    void SetQueries(const QStringList &codes) { m_only = codes; }

protected:
    void FillQueue(CommandQueue &queue) override;
    LineResult::Verdict HandleAnswer(ExchangeLink &link, const QByteArray &sent,
                                     const QByteArray &answer, QStringList *messages) override;
    CommandKind Kind() const override { return CommandKind::Read; }

private:
    SettingsStore &m_settings;
    QStringList m_only;
};
