#pragma once

#include "link/ExchangeEngine.h"

// "Send New MAC": sends the four hexadecimal digits of the two boxes as one "ma" line, then
// the closing line. The answers run through the read exchange, which shows the unit's MAC.
class MacAssignment
{
public:
    MacAssignment(ExchangeEngine &engine, ExchangeHost &host);

    void SendNewMACButtonClick(const QString &newMac1, const QString &newMac2);

private:
    ExchangeEngine &m_engine;
    ExchangeHost &m_host;
};
