// Arbitrary unit output, in arbitrary reads with time-out ticks, cancels, failed writes, a
// vanishing device and second starts between them, against each exchange: nothing crashes, a
// second start while one runs is refused, every start ends exactly once, and every exchange is
// brought to an end by its time-outs.

#include "exchanges/MacAssignment.h"
#include "exchanges/ReadExchange.h"
#include "exchanges/WriteExchange.h"
#include "link/ExchangeEngine.h"
#include "support/FakeLink.h"
#include "webpages/ImageDownload.h"

#include <QCoreApplication>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

// Queued ends (a lost device, a failed write) need an event loop.
void EnsureApplication()
{
    static int argc = 1;
    static char name[] = "fuzz_exchanges";
    static char *argv[] = {name, nullptr};
    static QCoreApplication application(argc, argv);
}

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

// Flags of the first input byte.
enum : uint8_t
{
    kKindMask = 0x03,    // read, write, MAC assignment, download
    kAllLines = 0x04,    // the write sends every line
    kSecondStart = 0x08, // another exchange is pressed between reads
    kCancel = 0x10,      // the operator cancels after the third read
    kTicks = 0x20,       // a tick after every read
    kLose = 0x40,        // the device vanishes after the fifth read
    kStartInBox = 0x80,  // an exchange is started while the first closing box is open
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 3)
        return 0;
    EnsureApplication();
    const uint8_t flags = data[0];

    FakePort port;
    FakeHost host;
    SettingsSnapshot &s = host.Settings();
    s.ip = {"10", "0", "0", "5"};
    s.gateway = {"10", "0", "0", "1"};
    s.submask = {"255", "0", "0", "0"};
    s.client = {"10", "0", "0", "2"};
    s.updatePeriod = 10;
    port.writeSucceeds = (data[1] & 0x80) == 0;

    ExchangeEngine engine(port, host, host);
    ReadExchange read(host);
    WriteExchange write(host);
    write.SetSendAllLines(flags & kAllLines);
    MacAssignment mac(host);
    mac.SetNumber(int(data[2]) * 257);
    ImageDownload download(host);
    download.SetImage(QByteArray(700, 'w'));
    Exchange *const exchanges[] = {&read, &write, &mac, &download};

    int started = 0;
    int finished = 0;
    int downloadsStarted = 0;
    bool running = false;
    QObject::connect(&engine, &ExchangeEngine::RunningChanged, [&](bool now) {
        Check(now != running); // strictly alternating
        running = now;
    });
    QObject::connect(&engine, &ExchangeEngine::Finished, [&](const ExchangeResult &) {
        ++finished;
        Check(!engine.Running() || started == finished + 1);
    });
    auto start = [&](Exchange &exchange) {
        const bool wasRunning = engine.Running();
        const Exchange *current = engine.Current();
        const bool accepted = engine.Start(exchange);
        Check(accepted != wasRunning);
        if (!accepted) {
            Check(engine.Current() == current);
            return;
        }
        ++started;
        if (&exchange == &download)
            ++downloadsStarted;
    };
    bool boxStartUsed = false;
    host.whileBoxOpen = [&] {
        if (!(flags & kStartInBox) || boxStartUsed)
            return;
        boxStartUsed = true;
        Check(!engine.Running());
        start(*exchanges[data[2] & kKindMask]); // the same one again, or another
    };

    start(*exchanges[flags & kKindMask]);

    const qsizetype chunk = (data[1] & 0x1F) + 1;
    const QByteArray input(reinterpret_cast<const char *>(data + 3), qsizetype(size - 3));
    int reads = 0;
    for (qsizetype pos = 0; pos < input.size(); pos += chunk, ++reads) {
        port.Feed(input.mid(pos, chunk));
        if (flags & kTicks)
            engine.Tick();
        if ((flags & kSecondStart) && reads % 4 == 1)
            start(*exchanges[(flags + uint8_t(reads)) & kKindMask]);
        if ((flags & kCancel) && reads == 3)
            engine.Cancel();
        if ((flags & kLose) && reads == 5)
            port.Lose();
        if (data[1] & 0xC0)
            QCoreApplication::processEvents();
        Check(engine.Running() == running);
        Check(started - finished == (running ? 1 : 0));
    }

    // Silence from here on: whatever runs must end within its time-outs (four tries of ten
    // ticks, or three seconds for the last acknowledgement of a download), and so must one
    // started while its closing box is open.
    for (int tick = 0; tick < 100 && engine.Running(); ++tick) {
        QCoreApplication::processEvents();
        engine.Tick();
    }
    QCoreApplication::processEvents();
    Check(!engine.Running() && !running);
    Check(!port.isOpen);
    Check(started == finished);
    Check(host.downloadEndedCount == downloadsStarted);
    Check(!host.progressVisible);
    return 0;
}
