#pragma once

#include "link/ExchangeEngine.h"

// "Read From TOLVEX": the version query, then fifteen queries, one per answer, each answer
// applied to the controls. The MAC assignment runs its answers through here too.
class ReadExchange : public Exchange
{
public:
    ReadExchange(ExchangeEngine &engine, ExchangeHost &host);

    // Fills the command queue with the fifteen queries (sent in sorted order, ax1 first).
    void QueueReadQueries();
    void ReadButtonClick();

    // HandleReadReply.
    void HandleReply(const QByteArray &reply) override;
    void RebuildQueue() override { QueueReadQueries(); }

private:
    ExchangeEngine &m_engine;
    ExchangeHost &m_host;
};
