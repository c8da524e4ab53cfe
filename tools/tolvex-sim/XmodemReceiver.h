#pragma once

#include <QByteArray>
#include <cstdint>

// The receiving side of the checksum variant of XMODEM, fed one byte at a time. It only decides;
// sending the answers, timing and logging are the owner's.
//
// Between blocks it expects SOH (a 132-byte block follows) or EOT (the end). Other bytes there
// are gathered as a line: when they end in CR LF the sender has gone back to command lines and
// the transfer is left with that line.
class XmodemReceiver
{
public:
    static constexpr int BlockSize = 132;
    static constexpr int DataSize = 128;
    // Far beyond any image the program can send; a runaway sender cannot exhaust memory.
    static constexpr int MaxImageSize = 4 * 1024 * 1024;

    enum class Outcome
    {
        Pending,      // byte taken, nothing to answer yet
        BlockStored,  // a new block was stored: ACK
        BlockRepeat,  // the previous block again, not stored twice: ACK
        BlockBad,     // wrong complement, checksum or number: NAK
        BlockRefused, // a good block refused on purpose (the nak-block fault): NAK
        End,          // EOT: ACK, the image is complete
        BackToLines,  // a CR LF line arrived between blocks; see line()
        TooLarge,     // the image would exceed MaxImageSize; the transfer must end
        Cancelled,    // two CAN bytes between blocks: the sender gave the transfer up
    };

    // Starts a new transfer: expects block 1, no data. The block counted `refuseOrdinal` (from 1;
    // 0 for none) is refused once when it first arrives good.
    void start(int refuseOrdinal);
    Outcome push(char byte);

    // Drops a block whose bytes stopped coming. True when there was one.
    bool abandonPartialBlock();
    bool inBlock() const { return !m_block.isEmpty(); }

    // Wire number of the block the last outcome was about.
    int lastBlockNumber() const { return m_lastNumber; }
    // Blocks stored so far in this transfer.
    int blocksStored() const { return m_blocksStored; }
    const QByteArray &data() const { return m_data; }
    const QByteArray &line() const { return m_line; }

private:
    Outcome finishBlock();

    QByteArray m_block;
    QByteArray m_lineBuffer;
    QByteArray m_line;
    QByteArray m_data;
    std::uint8_t m_expected = 1;
    int m_blocksStored = 0;
    int m_lastNumber = 0;
    int m_refuseOrdinal = 0;
    bool m_refused = false;
    bool m_lastWasCan = false;
};
