// Arbitrary unit output, in arbitrary reads with time-out ticks between them, against each
// exchange: nothing crashes, the engine's state stays one of its own, and every exchange can
// be brought to an end by the time-out.

#include "exchanges/MacAssignment.h"
#include "exchanges/ReadExchange.h"
#include "exchanges/WriteExchange.h"
#include "support/FakeLink.h"
#include "webpages/ImageDownload.h"

#include <QFile>
#include <QTemporaryDir>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

const QString &ImagePath()
{
    static QTemporaryDir dir;
    static const QString path = [] {
        const QString file = dir.filePath("WebPages.bin");
        QFile image(file);
        if (image.open(QIODevice::WriteOnly))
            image.write(QByteArray(700, 'w'));
        return file;
    }();
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    FakePort port;
    FakeHost host;
    host.imagePath = ImagePath();
    host.macMode = data[0] & 0x08;
    host.settings.ip = {"10", "0", "0", "5"};
    host.settings.gateway = {"10", "0", "0", "1"};
    host.settings.submask = {"255", "0", "0", "0"};
    host.settings.client = {"10", "0", "0", "2"};
    host.settings.updatePeriod = 10;
    ExchangeEngine engine(port, host);
    ReadExchange read(engine, host);
    WriteExchange write(engine, host);
    MacAssignment mac(engine, host);
    ImageDownload download(engine, host);

    switch (data[0] & 0x03) {
    case 0:
        read.ReadButtonClick();
        break;
    case 1:
        write.WriteButtonClick();
        break;
    case 2:
        mac.SendNewMACButtonClick("12", "AB");
        break;
    default:
        engine.SetRetriesLeft(3);
        download.StartDownload();
        break;
    }

    const qsizetype chunk = ((data[1] & 0x1F) + 1);
    const QByteArray input(reinterpret_cast<const char *>(data + 2), qsizetype(size - 2));
    for (qsizetype pos = 0; pos < input.size(); pos += chunk) {
        port.Feed(input.mid(pos, chunk));
        if (data[1] & 0x20)
            engine.Timer1Timer();
        if (engine.ExchangeState() < 0 || engine.ExchangeState() > 3)
            std::abort();
    }
    // Silence from here on: a running exchange must end within its time-outs.
    for (int tick = 0; tick < 200; ++tick)
        engine.Timer1Timer();
    if (engine.ReplyTimeout() != 0 || engine.RetryPending() || engine.PortOpen())
        std::abort();
    return 0;
}
