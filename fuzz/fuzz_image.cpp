// Web page images from arbitrary bytes: reading must never crash or read outside the input, and
// whatever reads correctly must pack back to exactly the bytes read and read again to the same
// files. Each input is also tried with its image checksum made right, so the search gets past
// that check to the table and data checks behind it.

#include "webpages/ImageFormat.h"

#include <QtEndian>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

void Check(bool condition)
{
    if (!condition)
        abort();
}

quint32 Crc32(const char *data, qsizetype size)
{
    quint32 crc = 0xFFFFFFFFu;
    for (qsizetype i = 0; i < size; ++i) {
        crc ^= static_cast<quint8>(data[i]);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ ((crc & 1u) ? 0xEDB88320u : 0u);
    }
    return ~crc;
}

// Stores the image checksum (offset 12, over the image with that field zeroed) for the image
// length the header claims, as far as the bytes reach.
QByteArray WithImageChecksum(QByteArray bytes)
{
    if (bytes.size() < 16)
        return bytes;
    const qint64 claimed = qFromLittleEndian<quint32>(bytes.constData() + 8);
    const qsizetype length = static_cast<qsizetype>(qMin<qint64>(claimed, bytes.size()));
    qToLittleEndian<quint32>(0, bytes.data() + 12);
    qToLittleEndian(Crc32(bytes.constData(), qMax<qsizetype>(length, 16)), bytes.data() + 12);
    return bytes;
}

void CheckImage(const QByteArray &bytes)
{
    QList<ImageEntry> entries;
    QString error;
    if (!UnpackImage(bytes, &entries, &error)) {
        Check(!error.isEmpty());
        return;
    }
    QByteArray repacked;
    Check(PackImage(entries, &repacked, &error));
    Check(repacked.size() <= bytes.size());
    Check(repacked == bytes.left(repacked.size()));

    QList<ImageEntry> again;
    Check(UnpackImage(repacked, &again, &error));
    Check(again.size() == entries.size());
    for (qsizetype i = 0; i < entries.size(); ++i)
        Check(again[i].name == entries[i].name && again[i].data == entries[i].data);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Raw data, not a copy: a read past the end lands outside the fuzzer's buffer and is caught.
    const QByteArray raw =
        QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    CheckImage(raw);
    CheckImage(WithImageChecksum(QByteArray(raw.constData(), raw.size())));
    return 0;
}
