// Arbitrary bytes, split into reads at arbitrary places, through the reply framer: every line
// handed over ends in CR LF and holds at most 64 bytes, and splitting never changes the result.

#include "link/Port1CommsUnit.h"

#include <QList>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    // The first byte chooses the read size, and whether every third hand-over turns block mode on.
    const size_t chunk = (data[0] & 0x3F) + 1;
    const bool switchModes = data[0] & 0x40;
    const QByteArray input(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));

    auto run = [&](size_t readSize) {
        QList<QByteArray> replies;
        bool blockMode = false;
        Port1Comms comms([&] { return blockMode; },
                         [&](const QByteArray &reply) {
                             replies << reply;
                             if (switchModes)
                                 blockMode = replies.size() % 3 == 0;
                         });
        comms.Start();
        for (qsizetype pos = 0; pos < input.size(); pos += qsizetype(readSize))
            comms.ProcessInput(input.mid(pos, qsizetype(readSize)));
        return replies;
    };

    const QList<QByteArray> split = run(chunk);
    const QList<QByteArray> whole = run(size_t(input.size()) + 1);
    if (split != whole)
        std::abort();
    for (const QByteArray &reply : whole) {
        if (reply.size() == 1)
            continue; // a byte handed over in block mode
        if (reply.size() > 64 || !reply.endsWith("\r\n"))
            std::abort();
    }
    return 0;
}
