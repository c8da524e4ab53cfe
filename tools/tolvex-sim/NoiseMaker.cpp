#include "NoiseMaker.h"

QByteArray NoiseMaker::randomBytes(int count, bool allowLineEnds)
{
    QByteArray bytes(count, '\0');
    for (int i = 0; i < count; ++i) {
        const quint32 pick = m_random.bounded(8);
        char c = static_cast<char>(m_random.bounded(256));
        if (pick == 0)
            c = '\0';
        else if (pick == 1)
            c = '\r';
        else if (pick == 2)
            c = '\n';
        if (!allowLineEnds && (c == '\r' || c == '\n'))
            c = static_cast<char>('A' + m_random.bounded(26));
        if (c == '\n' && i > 0 && bytes[i - 1] == '\r')
            c = '\0';
        bytes[i] = c;
    }
    return bytes;
}

QByteArray NoiseMaker::burst()
{
    if (m_random.bounded(4) == 0)
        return randomBytes(65 + static_cast<int>(m_random.bounded(36)), false);
    return randomBytes(1 + static_cast<int>(m_random.bounded(12)), true);
}

QByteArray NoiseMaker::cleanBurst()
{
    return randomBytes(65, false);
}
