#include "XmodemReceiver.h"

namespace {
constexpr char Soh = 0x01;
constexpr char Eot = 0x04;
constexpr char Can = 0x18;
constexpr int MaxLineLength = 64;
} // namespace

void XmodemReceiver::start(int refuseOrdinal)
{
    m_block.clear();
    m_lineBuffer.clear();
    m_line.clear();
    m_data.clear();
    m_expected = 1;
    m_blocksStored = 0;
    m_lastNumber = 0;
    m_refuseOrdinal = refuseOrdinal;
    m_refused = false;
    m_lastWasCan = false;
}

XmodemReceiver::Outcome XmodemReceiver::push(char byte)
{
    if (!m_block.isEmpty()) {
        m_block += byte;
        return m_block.size() == BlockSize ? finishBlock() : Outcome::Pending;
    }
    // Command lines never hold SOH or EOT, so these always mean the transfer goes on.
    if (byte == Soh) {
        m_lineBuffer.clear();
        m_block += byte;
        return Outcome::Pending;
    }
    if (byte == Eot) {
        m_lineBuffer.clear();
        return Outcome::End;
    }
    // CAN CAN where a block would start: the sender cancels.
    const bool can = byte == Can;
    if (can && m_lastWasCan) {
        m_lastWasCan = false;
        m_lineBuffer.clear();
        return Outcome::Cancelled;
    }
    m_lastWasCan = can;

    // Not a block start: perhaps the sender went back to command lines.
    m_lineBuffer += byte;
    if (m_lineBuffer.endsWith("\r\n")) {
        m_line = m_lineBuffer.left(m_lineBuffer.size() - 2);
        m_lineBuffer.clear();
        return Outcome::BackToLines;
    }
    if (m_lineBuffer.size() > MaxLineLength)
        m_lineBuffer.clear();
    return Outcome::Pending;
}

XmodemReceiver::Outcome XmodemReceiver::finishBlock()
{
    const QByteArray block = m_block;
    m_block.clear();
    const auto number = static_cast<std::uint8_t>(block[1]);
    const auto complement = static_cast<std::uint8_t>(block[2]);
    m_lastNumber = number;

    std::uint8_t sum = 0;
    for (int i = 3; i < 3 + DataSize; ++i)
        sum = static_cast<std::uint8_t>(sum + static_cast<std::uint8_t>(block[i]));
    if (static_cast<std::uint8_t>(number + complement) != 0xFF ||
        sum != static_cast<std::uint8_t>(block[BlockSize - 1]))
        return Outcome::BlockBad;

    if (number == static_cast<std::uint8_t>(m_expected - 1) && m_blocksStored > 0)
        return Outcome::BlockRepeat;
    if (number != m_expected)
        return Outcome::BlockBad;
    if (!m_refused && m_refuseOrdinal == m_blocksStored + 1) {
        m_refused = true;
        return Outcome::BlockRefused;
    }
    if (m_data.size() + DataSize > MaxImageSize)
        return Outcome::TooLarge;
    m_data += block.mid(3, DataSize);
    ++m_blocksStored;
    ++m_expected; // one byte: 255 is followed by 0
    return Outcome::BlockStored;
}

bool XmodemReceiver::abandonPartialBlock()
{
    if (m_block.isEmpty())
        return false;
    if (m_block.size() >= 2)
        m_lastNumber = static_cast<std::uint8_t>(m_block[1]);
    else
        m_lastNumber = m_expected;
    m_block.clear();
    return true;
}
