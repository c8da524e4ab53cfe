#pragma once

#include <QByteArray>
#include <QRandomGenerator>

// Line noise put before answers. Never contains CR directly followed by LF, so it can disturb the
// program's framing but never forge a line end of its own.
class NoiseMaker
{
public:
    explicit NoiseMaker(quint32 seed) : m_random(seed) {}

    // A short burst of random bytes rich in NUL, lone CR and lone LF, or now and then an
    // over-long line of 65 to 100 bytes.
    QByteArray burst();
    // Exactly 65 random bytes without CR or LF: a framer that keeps at most 64 bytes of a line
    // drops the 65th and starts afresh, so the answer after it still reads whole.
    QByteArray cleanBurst();

private:
    QByteArray randomBytes(int count, bool allowLineEnds);

    QRandomGenerator m_random;
};
