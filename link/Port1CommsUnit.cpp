#include "Port1CommsUnit.h"

bool ReplyFramer::Feed(uint8_t byte)
{
    if (m_position >= kMaxLine) {
        m_position = 0;
        return false;
    }
    if (m_position > 0 && m_buffer[m_position - 1] == '\r' && byte == '\n') {
        m_buffer[m_position++] = '\n';
        m_line = QByteArray(m_buffer, m_position);
        m_position = 0;
        return true;
    }
    m_buffer[m_position++] = char(byte);
    return false;
}

Port1Comms::Port1Comms(BlockModeQuery blockMode, Dispatch dispatch)
    : m_blockMode(std::move(blockMode)), m_dispatch(std::move(dispatch))
{
}

void Port1Comms::Start()
{
    m_framer.Reset();
    m_pending.clear();
    m_running = true;
    ++m_generation;
}

void Port1Comms::Stop()
{
    m_pending.clear();
    m_running = false;
    ++m_generation;
}

void Port1Comms::ProcessInput(const QByteArray &bytes)
{
    if (!m_running)
        return;
    m_pending.append(bytes);
    if (m_dispatching)
        return; // the hand-over in progress works through these when it returns

    m_dispatching = true;
    for (;;) {
        const uint64_t generation = m_generation;
        qsizetype next = 0;
        while (m_running && generation == m_generation && next < m_pending.size()) {
            const uint8_t byte = uint8_t(m_pending.at(next++));
            if (m_blockMode()) {
                m_dispatch(QByteArray(1, char(byte)));
            } else if (m_framer.Feed(byte)) {
                m_dispatch(m_framer.Line());
            }
        }
        if (generation == m_generation) {
            m_pending.clear();
            break;
        }
        // The port was closed, and perhaps opened again, during a hand-over: what is pending
        // now arrived for the new opening only.
        if (!m_running || m_pending.isEmpty())
            break;
    }
    m_dispatching = false;
}
