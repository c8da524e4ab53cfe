// Figures for the serial link: idle CPU with the port open, the hand-over latency from a
// reply's last byte to the exchange, and a full read against the unit at 19200 baud.

#include "app/MainUnit.h"
#include "link/QtSerialPortIo.h"
#include "support/CpuTime.h"
#include "support/EventWait.h"
#include "support/ScriptedDialogs.h"
#include "support/SimUnit.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

namespace {

void WriteMap(const QTemporaryDir &dir, const QString &device)
{
    QFile map(dir.filePath("ComPorts.txt"));
    map.open(QIODevice::WriteOnly);
    map.write("COM1=" + device.toLocal8Bit() + "\n");
}

StartOptions OptionsIn(const QTemporaryDir &dir)
{
    StartOptions options;
    options.programPath = dir.filePath("tolvex-config");
    options.macCounterPath = dir.filePath("no-counter");
    return options;
}

// A pseudo-terminal whose master this process writes to, so the moment a reply's last byte
// goes out is known exactly.
struct OwnPty
{
    int master = -1;
    int slave = -1;
    QString slavePath;
    OwnPty()
    {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        grantpt(master);
        unlockpt(master);
        slavePath = QString::fromLocal8Bit(ptsname(master));
        slave = open(ptsname(master), O_RDWR | O_NOCTTY);
        termios raw{};
        tcgetattr(slave, &raw);
        cfmakeraw(&raw);
        tcsetattr(slave, TCSANOW, &raw);
    }
    ~OwnPty()
    {
        close(slave);
        close(master);
    }
};

// Keeps the port open without sending, so no time-out runs; counts hand-overs, keeps the time
// of the last one and wakes the waiting loop at once.
class TimingExchange : public Exchange
{
public:
    QString Name() const override { return QStringLiteral("Timing"); }
    void Begin(ExchangeLink &) override {}
    void HandleReply(ExchangeLink &, const QByteArray &) override
    {
        lastNs = clock.nsecsElapsed();
        ++count;
        if (waiting)
            waiting->quit();
    }
    void Retry(ExchangeLink &) override {}
    QElapsedTimer clock;
    qint64 lastNs = 0;
    int count = 0;
    QEventLoop *waiting = nullptr;
};

void IdleCpu()
{
    QTemporaryDir dir;
    OwnPty pty;
    WriteMap(dir, pty.slavePath);
    ScriptedDialogs dialogs;
    TMainForm form(OptionsIn(dir), dialogs);
    form.show();
    TimingExchange idle;
    form.Engine().Start(idle);
    if (!form.Engine().PortOpen()) {
        std::printf("idle CPU: port did not open\n");
        return;
    }
    IdleFor(500);
    const double cpu0 = CpuSeconds();
    QElapsedTimer wall;
    wall.start();
    IdleFor(10000);
    const double cpu = CpuSeconds() - cpu0;
    const double seconds = double(wall.elapsed()) / 1000.0;
    std::printf("idle, port open, window shown: %.3f s CPU in %.1f s = %.3f%% of one core "
                "(goal < 0.5%%)\n",
                cpu, seconds, 100.0 * cpu / seconds);
    form.Engine().Cancel();
}

void HandOverLatency()
{
    OwnPty pty;
    QtSerialPortIo port;
    struct NullHost : ExchangeLog, PortChoice
    {
        void AppendLog(const QString &) override {}
        void ShowMessage(MessageKind, const QString &) override {}
        void ShowPortError(const QString &) override {}
        QString DateTimeText() override { return {}; }
        int PortNumber() override { return 1; }
        QString PortDevice(int) override { return device; }
        QString device;
    } host;
    host.device = pty.slavePath;
    ExchangeEngine engine(port, host, host);
    TimingExchange exchange;
    engine.Start(exchange);
    if (!engine.PortOpen()) {
        std::printf("hand-over: port did not open\n");
        return;
    }
    exchange.clock.start();
    QList<double> microseconds;
    const QByteArray reply("NI192.168.0.100\r\n");
    for (int i = 0; i < 1000; ++i) {
        const int before = exchange.count;
        // The loop waits idle, with no polling timer, until the hand-over wakes it.
        QEventLoop loop;
        QTimer::singleShot(1000, &loop, &QEventLoop::quit);
        exchange.waiting = &loop;
        const qint64 sentNs = exchange.clock.nsecsElapsed();
        if (write(pty.master, reply.constData(), size_t(reply.size())) != reply.size())
            break;
        if (exchange.count == before)
            loop.exec();
        exchange.waiting = nullptr;
        if (exchange.count == before)
            break;
        microseconds << double(exchange.lastNs - sentNs) / 1000.0;
        IdleFor(1);
    }
    engine.Cancel();
    std::sort(microseconds.begin(), microseconds.end());
    if (microseconds.isEmpty()) {
        std::printf("hand-over: no samples\n");
        return;
    }
    const auto at = [&](double q) {
        return microseconds.at(int(q * double(microseconds.size() - 1)));
    };
    std::printf("hand-over, last byte written to exchange handler, %d replies: median %.1f us, "
                "90%% %.1f us, max %.1f us (goal: median < 200 us)\n",
                int(microseconds.size()), at(0.5), at(0.9), microseconds.last());
}

// The real port, with the moment of every write and every delivery noted, so a read's time
// splits into the unit's part (a query written until its answer is in) and the program's.
class TimingPortIo : public PortIo
{
public:
    TimingPortIo()
    {
        m_clock.start();
        m_inner.SetReceiver([this](const QByteArray &bytes) {
            lastDeliveryNs = m_clock.nsecsElapsed();
            if (lastWriteNs >= 0 && bytes.endsWith('\n')) {
                unitNs += lastDeliveryNs - lastWriteNs;
                lastWriteNs = -1;
            }
            Deliver(bytes);
        });
    }
    OpenResult Open(const QString &device) override { return m_inner.Open(device); }
    void Close() override { m_inner.Close(); }
    bool Write(const QByteArray &bytes) override
    {
        const bool ok = m_inner.Write(bytes);
        lastWriteNs = m_clock.nsecsElapsed();
        return ok;
    }

    qint64 unitNs = 0; // summed from each write to the end of the answer it got
    qint64 lastWriteNs = -1;
    qint64 lastDeliveryNs = -1;

private:
    QtSerialPortIo m_inner;
    QElapsedTimer m_clock;
};

void FullRead()
{
    QTemporaryDir dir;
    SimUnit sim;
    const QString link = dir.filePath("bench-unit");
    if (!sim.start({"--link", link, "--wire-delay"})) {
        std::printf("full read: %s\n", qPrintable(sim.errorString()));
        return;
    }
    WriteMap(dir, link);
    ScriptedDialogs dialogs;
    auto timingPort = std::make_unique<TimingPortIo>();
    TimingPortIo *port = timingPort.get();
    TMainForm form(OptionsIn(dir), dialogs, std::move(timingPort));
    QList<double> totals;
    QList<double> starts;
    QList<double> unitShares;
    bool allOk = true;
    qsizetype out = 0;
    qsizetype in = 0;
    for (int round = 0; round < 6; ++round) {
        dialogs.boxes.clear();
        sim.skipEvents();
        const qsizetype seen = sim.events().size();
        QElapsedTimer clock;
        clock.start();
        port->unitNs = 0;
        form.ReadButtonClick(); // opens the port and sends the version query
        const double start = double(clock.nsecsElapsed()) / 1e9;
        if (!WaitFor([&] { return !dialogs.boxes.isEmpty(); }, 20000))
            allOk = false;
        const double total = double(clock.nsecsElapsed()) / 1e9;
        allOk = allOk && dialogs.boxTexts().value(0) == "Data read OK";
        IdleFor(300);
        out = in = 0;
        for (const QString &event : sim.events().mid(seen)) {
            if (event.startsWith("GOT "))
                out += SimUnit::unescape(event.mid(4).toLatin1()).size();
            else if (event.startsWith("SENT "))
                in += SimUnit::unescape(event.mid(5).toLatin1()).size();
        }
        if (round == 0)
            continue; // the first opening also creates the lock folder entry and warms caches
        totals << total;
        starts << start;
        unitShares << double(port->unitNs) / 1e9;
    }
    const double wire = double(out + in) * 10.0 / 19200.0;
    // Middle round by total time, with its own split.
    QList<int> order{0, 1, 2, 3, 4};
    std::sort(order.begin(), order.end(), [&](int a, int b) { return totals[a] < totals[b]; });
    const int m = order[2];
    const double unitPart = unitShares[m];
    const double programPart = totals[m] - unitPart;
    std::printf("full read at 19200 baud, median of 5: %.4f s; %lld bytes out, %lld in = %.4f s on "
                "the wire; the unit's part (query written to answer in) %.4f s, so its answer "
                "delays are %.4f s; the program's part %.4f s (opening the port %.4f s) = %+.1f%% "
                "over wire plus answer delays (goal within 5%%); %s\n",
                totals[m], static_cast<long long>(out), static_cast<long long>(in), wire, unitPart,
                unitPart - wire, programPart, starts[m], 100.0 * programPart / unitPart,
                allOk ? "every read OK" : "A READ FAILED");
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    HandOverLatency();
    FullRead();
    IdleCpu();
    return 0;
}
