#include "MacAssignment.h"

#include "MacNumber.h"

MacAssignment::MacAssignment(ExchangeEngine &engine, ExchangeHost &host)
    : m_engine(engine), m_host(host)
{
}

void MacAssignment::SendNewMACButtonClick(const QString &newMac1, const QString &newMac2)
{
    m_engine.Queue().Clear();
    int number = 0;
    if (!MacNumberFromBoxes(newMac1, newMac2, &number)) {
        m_host.ShowMessage(MessageKind::Warning, QStringLiteral("MAC Error"));
        return;
    }
    m_engine.Queue().Add(QStringLiteral("ma%1\r\n").arg(number));
    m_engine.Queue().Add(QStringLiteral("zc\r\n"));
    m_engine.SetExchangeState(ExchangeEngine::StateRead);
    // Lines, not single bytes, answer this exchange, even when it took over a download.
    m_engine.SetBlockMode(false);
    if (!m_engine.PortOpen() && !m_engine.OpenSerialPort())
        return;
    m_engine.SendNextCommand();
}
