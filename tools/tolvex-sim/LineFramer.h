#pragma once

#include <QByteArray>

// Gathers received bytes into lines ended by CR LF. A lone CR or LF is part of the line. A line
// that grows beyond MaxLineLength bytes without its end is dropped whole, up to and including the
// CR LF that finally ends it, so junk can never be taken for a command.
class LineFramer
{
public:
    static constexpr int MaxLineLength = 256;

    enum class Result
    {
        Nothing, // byte gathered
        Line,    // line() holds a complete line, CR LF removed
        Dropped, // an over-long line ended; droppedLength() says how long it was
    };

    Result push(char byte);
    const QByteArray &line() const { return m_line; }
    qint64 droppedLength() const { return m_droppedLength; }
    // Forgets a partly gathered line (the link was cut, or bytes were taken by a transfer).
    void clear();

private:
    QByteArray m_buffer;
    QByteArray m_line;
    bool m_dropping = false;
    char m_lastByte = 0;
    qint64 m_droppedLength = 0;
};
