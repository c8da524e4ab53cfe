// Figures for the traffic trace: what the tracing wrapper costs per call when no one listens,
// and what a whole 32,700-byte download costs when the trace is written to a file, shown in
// the Traffic window, or both, against the download's time on the wire.

#include "app/TrafficView.h"
#include "link/TrafficTrace.h"
#include "support/CpuTime.h"
#include "support/ScriptedDialogs.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cstdio>
#include <memory>
#include <sys/resource.h>

namespace {

// A device that takes everything and whose received bytes the bench hands in.
class NullPort : public PortIo
{
public:
    OpenResult Open(const QString &) override { return OpenResult::Opened; }
    void Close() override {}
    bool Write(const QByteArray &bytes) override
    {
        m_written += bytes.size();
        return true;
    }
    void Feed(const QByteArray &bytes) { Deliver(bytes); }
    qint64 m_written = 0;
};

constexpr int kImageBytes = 32700;
constexpr int kBlocks = (kImageBytes + 127) / 128;

QByteArray Block(int number)
{
    QByteArray block(132, char(0x55));
    block[0] = 0x01;
    block[1] = char(number & 0xff);
    block[2] = char(255 - (number & 0xff));
    return block;
}

// The traffic of one 32,700-byte download as the program makes it: version, "zp", the unit's
// NAK, every block and its ACK, EOT and its ACK.
void ReplayDownload(TracingPortIo &port, NullPort &device, const QList<QByteArray> &blocks)
{
    static const QByteArray ack(1, 0x06);
    port.Open(QStringLiteral("/dev/ttyUSB0"));
    port.Write("sv\r\n");
    device.Feed("SV1.0.5-UDP\r\n");
    port.Write("zp\r\n");
    device.Feed(QByteArray(1, 0x15));
    for (const QByteArray &block : blocks) {
        port.Write(block);
        device.Feed(ack);
    }
    port.Write(QByteArray(1, 0x04));
    device.Feed(ack);
    port.Close();
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);

    // Per call with no listener: the same device bare and inside the wrapper, both called
    // through the port interface as the engine calls them.
    {
        qint64 received = 0;
        auto receiver = [&](const QByteArray &bytes) { received += bytes.size(); };
        NullPort bare;
        bare.SetReceiver(receiver);
        auto owned = std::make_unique<NullPort>();
        NullPort *inner = owned.get();
        TracingPortIo wrapper(std::move(owned));
        wrapper.SetReceiver(receiver);
        PortIo *volatile direct = &bare;
        PortIo *volatile wrapped = &wrapper;

        const QByteArray line("ni10.0.0.5\r\n");
        const int calls = 5'000'000;
        auto nsPerCall = [&](auto call) {
            QElapsedTimer clock;
            clock.start();
            for (int i = 0; i < calls; ++i)
                call();
            return double(clock.nsecsElapsed()) / calls;
        };
        const double writeDirect = nsPerCall([&] { direct->Write(line); });
        const double writeWrapped = nsPerCall([&] { wrapped->Write(line); });
        const double feedDirect = nsPerCall([&] { bare.Feed(line); });
        const double feedWrapped = nsPerCall([&] { inner->Feed(line); });
        std::printf("closed trace, per call: write %.1f ns wrapped vs %.1f ns bare; a received "
                    "piece %.1f ns wrapped vs %.1f ns bare (%lld bytes)\n",
                    writeWrapped, writeDirect, feedWrapped, feedDirect,
                    static_cast<long long>(received));
        const double extra =
            (writeWrapped - writeDirect) + (feedWrapped - feedDirect); // per block and its ACK
        std::printf("  on a 32,700-byte download (%d blocks and their ACKs): %.2f us more\n",
                    kBlocks, extra * (kBlocks + 6) / 1000.0);
    }

    QList<QByteArray> blocks;
    for (int i = 1; i <= kBlocks; ++i)
        blocks << Block(i);
    // 10 bits a byte at 19200 baud: every block and its ACK, the lines and EOT.
    const double wireSeconds = double(kBlocks * 133 + 40) * 10.0 / 19200.0;

    QTemporaryDir dir;
    ScriptedDialogs dialogs;
    auto owned = std::make_unique<NullPort>();
    NullPort *device = owned.get();
    TracingPortIo port(std::move(owned));
    port.SetReceiver([](const QByteArray &) {});

    struct Case
    {
        const char *name;
        bool file;
        bool view;
    };
    const Case cases[] = {{"closed", false, false},
                          {"to a file (--trace)", true, false},
                          {"in the Traffic window", false, true},
                          {"file and window", true, true}};
    const int rounds = 20;
    for (const Case &c : cases) {
        TraceFileSink sink;
        QString error;
        if (c.file) {
            sink.Open(dir.filePath(QStringLiteral("trace.txt")), &error);
            port.AddListener(&sink);
        }
        TrafficView view(port, dialogs);
        if (c.view)
            view.show();
        application.processEvents();
        const double start = CpuSeconds();
        for (int i = 0; i < rounds; ++i)
            ReplayDownload(port, *device, blocks);
        application.processEvents(); // the window's drawing counts too
        const double perDownload = (CpuSeconds() - start) / rounds;
        port.RemoveListener(&sink);
        std::printf("trace %-22s %8.2f ms CPU per 32,700-byte download = %.3f %% of its %.1f s on "
                    "the wire (goal: at most 2 %% open, nothing measurable closed)\n",
                    c.name, perDownload * 1000.0, perDownload * 100.0 / wireSeconds, wireSeconds);
    }
    return 0;
}
