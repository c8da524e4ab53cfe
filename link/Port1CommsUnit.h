#pragma once

#include <QByteArray>
#include <cstdint>
#include <functional>

// Gathers the unit's reply lines. A line is at most 64 bytes and ends only with the pair
// CR LF; a lone CR or LF is data. After 64 bytes without an end the next byte is thrown away
// and gathering starts over, so a runaway line never reaches the exchanges whole.
class ReplyFramer
{
public:
    static constexpr int kMaxLine = 64;

    // Takes one byte; true when it completed a line, which Line() then holds (CR LF included).
    bool Feed(uint8_t byte);
    const QByteArray &Line() const { return m_line; }
    // Forgets a partly gathered line, as a new opening of the port starts with none.
    void Reset() { m_position = 0; }

private:
    char m_buffer[kMaxLine + 1] = {};
    int m_position = 0;
    QByteArray m_line;
};

// The receiving side of the link. Bytes read from the port are framed here and each complete
// reply line, or each single byte while block mode is on, is handed to the dispatcher one at a
// time, in arrival order. The next byte is framed only after the dispatcher returned, and block
// mode is asked afresh for every byte, so a handler that switches mode affects the very next
// byte. Reception runs on the window's thread; the hand-over is a plain call.
class Port1Comms
{
public:
    using Dispatch = std::function<void(const QByteArray &reply)>;
    using BlockModeQuery = std::function<bool()>;

    Port1Comms(BlockModeQuery blockMode, Dispatch dispatch);

    // A new opening: an empty line buffer, bytes accepted from now on.
    void Start();
    // The opening ended: bytes still waiting, and any that come later, are dropped.
    void Stop();
    bool Running() const { return m_running; }

    // Bytes from the port. A dispatcher may show a modal dialog, during which more bytes can
    // arrive here; they wait until the dispatcher returned, and are dropped if it closed the port.
    void ProcessInput(const QByteArray &bytes);

private:
    BlockModeQuery m_blockMode;
    Dispatch m_dispatch;
    ReplyFramer m_framer;
    QByteArray m_pending;
    bool m_running = false;
    bool m_dispatching = false;
    // Bumped by every Start and Stop, so a chunk being worked through notices that the
    // opening it belongs to has ended.
    uint64_t m_generation = 0;
};
