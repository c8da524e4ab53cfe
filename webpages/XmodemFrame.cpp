#include "XmodemFrame.h"

#include <QtGlobal>

namespace {

constexpr int kDataSize = 128;
constexpr char kSoh = 0x01;
constexpr char kPadding = char(0xFF);

qint64 BlockOffset(int blockCounter)
{
    return (qint64(blockCounter) - 1) * kDataSize;
}

} // namespace

QByteArray BuildImageBlock(const QByteArray &image, int blockCounter)
{
    QByteArray frame(3 + kDataSize + 1, kPadding);
    const quint8 number = quint8(blockCounter & 0xFF);
    frame[0] = kSoh;
    frame[1] = char(number);
    frame[2] = char(quint8(255 - number));
    const qint64 offset = BlockOffset(blockCounter);
    quint8 sum = 0;
    for (int k = 0; k < kDataSize; ++k) {
        const qint64 at = offset + k;
        const char byte = (at >= 0 && at < image.size()) ? image.at(qsizetype(at)) : kPadding;
        frame[3 + k] = byte;
        sum = quint8(sum + quint8(byte));
    }
    frame[3 + kDataSize] = char(sum);
    return frame;
}

bool IsFinalBlock(int blockCounterJustSent, int imageSize)
{
    return qint64(blockCounterJustSent) * kDataSize > imageSize;
}

int BlockProgress(int blockCounterJustSent, int imageSize)
{
    if (imageSize <= 0)
        return 100;
    const qint64 percent = BlockOffset(blockCounterJustSent) * 100 / imageSize;
    return int(qBound(qint64(0), percent, qint64(100)));
}
