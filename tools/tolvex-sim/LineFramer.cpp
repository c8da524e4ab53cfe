#include "LineFramer.h"

LineFramer::Result LineFramer::push(char byte)
{
    const bool endOfLine =
        byte == '\n' && m_lastByte == '\r' && (m_dropping || !m_buffer.isEmpty());
    m_lastByte = byte;
    if (m_dropping) {
        ++m_droppedLength;
        if (!endOfLine)
            return Result::Nothing;
        m_dropping = false;
        m_lastByte = 0;
        return Result::Dropped;
    }
    if (endOfLine) {
        m_line = m_buffer.left(m_buffer.size() - 1);
        m_buffer.clear();
        m_lastByte = 0;
        return Result::Line;
    }
    m_buffer += byte;
    if (m_buffer.size() > MaxLineLength) {
        m_droppedLength = m_buffer.size();
        m_buffer.clear();
        m_dropping = true;
    }
    return Result::Nothing;
}

void LineFramer::clear()
{
    m_buffer.clear();
    m_dropping = false;
    m_lastByte = 0;
    m_droppedLength = 0;
}
