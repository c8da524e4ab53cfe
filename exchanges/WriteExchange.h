#pragma once

#include "link/ExchangeEngine.h"
#include "settings/SettingsTypes.h"

// "Write To TOLVEX": validation, the version query, then every settings line, each answer
// compared with the control it came from; one verdict at the end.
class WriteExchange : public Exchange
{
public:
    WriteExchange(ExchangeEngine &engine, ExchangeHost &host);

    void WriteButtonClick();

    // HandleWriteReply.
    void HandleReply(const QByteArray &reply) override;
    // The write's lines again from the controls as they are now, for a retry.
    void RebuildQueue() override;

    bool WriteErrorFlag() const { return m_writeErrorFlag; }
    const DottedNumbers &LastDottedNumbers() const { return m_dotted; }

private:
    void GiveVerdict();

    ExchangeEngine &m_engine;
    ExchangeHost &m_host;
    bool m_writeErrorFlag = false;
    DottedNumbers m_dotted{{0, 0, 0, 0}};
};
